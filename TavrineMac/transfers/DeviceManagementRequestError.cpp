#include "DeviceManagementRequestError.h"

DeviceManagementRequestError::DeviceManagementRequestError(Case errorCase, const QString &message)
    : m_case(errorCase), m_message(message), m_what(errorDescription().toUtf8())
{}

QString DeviceManagementRequestError::errorDescription() const
{
    switch (m_case) {
    case Case::rejected:
        return m_message.isEmpty() ? QStringLiteral("手机没有完成这个操作。") : m_message;
    case Case::notConnected:
        return QStringLiteral("手机尚未连接。");
    case Case::disconnected:
        return QStringLiteral("手机连接已中断，请等待自动恢复后重试。");
    }
    return QString();
}

#include "TransferTaskError.h"

TransferTaskError::TransferTaskError(Case errorCase) : m_case(errorCase), m_what(errorDescription().toUtf8()) {}

QString TransferTaskError::errorDescription() const
{
    switch (m_case) {
    case Case::notAFile:
        return QStringLiteral("当前版本请拖入文件；文件夹传输将在后续增量开放。");
    case Case::sourceMissing:
        return QStringLiteral("原文件已移动或删除，请重新选择。");
    }
    return QString();
}

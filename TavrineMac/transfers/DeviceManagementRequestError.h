#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The error of every management round trip with the phone.
class DeviceManagementRequestError : public std::exception
{
public:
    enum class Case
    {
        rejected,
        notConnected,
        disconnected
    };

    static DeviceManagementRequestError rejected(const QString &message)
    {
        return DeviceManagementRequestError(Case::rejected, message);
    }
    static DeviceManagementRequestError notConnected() { return DeviceManagementRequestError(Case::notConnected, {}); }
    static DeviceManagementRequestError disconnected() { return DeviceManagementRequestError(Case::disconnected, {}); }

    Case errorCase() const { return m_case; }
    // The phone's message of a rejection; empty for the other cases.
    const QString &message() const { return m_message; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const DeviceManagementRequestError &left, const DeviceManagementRequestError &right)
    {
        return left.m_case == right.m_case && left.m_message == right.m_message;
    }

private:
    DeviceManagementRequestError(Case errorCase, const QString &message);

    Case m_case;
    QString m_message;
    QByteArray m_what;
};

// The text that a request which got no answer in time fails with.
inline const QString managementTimeoutMessage = QStringLiteral("手机响应超时，请刷新后重试");

#include "DeviceStore.h"

#include <QPointer>

namespace {

// Each awaits its adb command on `device` and returns the text shown when it succeeded.

QCoro::Task<QString> uninstall(std::shared_ptr<ADBClient> client, AndroidDevice device, QString packageIdentifier,
                               QString applicationName)
{
    co_await client->uninstall(packageIdentifier, device);
    co_return QStringLiteral("已从 ") + device.displayName() + QStringLiteral(" 卸载 ") + applicationName;
}

QCoro::Task<QString> forceStop(std::shared_ptr<ADBClient> client, AndroidDevice device, QString packageIdentifier,
                               QString applicationName)
{
    co_await client->forceStop(packageIdentifier, device);
    co_return QStringLiteral("已在 ") + device.displayName() + QStringLiteral(" 停止 ") + applicationName;
}

QCoro::Task<QString> clearData(std::shared_ptr<ADBClient> client, AndroidDevice device, QString packageIdentifier,
                               QString applicationName)
{
    co_await client->clearData(packageIdentifier, device);
    co_return QStringLiteral("已清除 ") + device.displayName() + QStringLiteral(" 上 ") + applicationName +
        QStringLiteral(" 的本地数据");
}

using OperationBody = QCoro::Task<QString> (*)(std::shared_ptr<ADBClient>, AndroidDevice, QString, QString);

// The closure only hands its values to the coroutine, which keeps its own copies while it waits.
DeviceStore::AppOperation operation(OperationBody body, const QString &packageIdentifier,
                                    const QString &applicationName)
{
    return [body, packageIdentifier, applicationName](std::shared_ptr<ADBClient> client, AndroidDevice device) {
        return body(std::move(client), std::move(device), packageIdentifier, applicationName);
    };
}

} // namespace

DeviceStore::AppOperation DeviceStore::uninstallOperation(const QString &packageIdentifier,
                                                          const QString &applicationName)
{
    return operation(uninstall, packageIdentifier, applicationName);
}

DeviceStore::AppOperation DeviceStore::forceStopOperation(const QString &packageIdentifier,
                                                          const QString &applicationName)
{
    return operation(forceStop, packageIdentifier, applicationName);
}

DeviceStore::AppOperation DeviceStore::clearDataOperation(const QString &packageIdentifier,
                                                          const QString &applicationName)
{
    return operation(clearData, packageIdentifier, applicationName);
}

QCoro::Task<void> DeviceStore::performAppOperation(QString message, AppOperation operation,
                                                   std::optional<AndroidDevice> asked)
{
    const std::optional<AndroidDevice> selected = actionTarget(asked);
    if (!m_client || !selected) {
        // A phone named that adb no longer lists is gone; said on every page, its own being gone with it.
        setAppOperationState(
            AppOperationState::failed(m_client && asked
                                          ? ADBClientError(ADBClientError::Case::deviceNotFound).errorDescription()
                                          : QStringLiteral("请先连接并明确选择一台 USB 手机。")),
            std::nullopt);
        co_return;
    }
    const QString phone = selected->id();
    if (selected->state != AndroidDevice::State::authorized) {
        setAppOperationState(AppOperationState::failed(ADBClientError::notReady(*selected).errorDescription()), phone);
        co_return;
    }
    const QPointer<DeviceStore> self(this);
    setAppOperationState(AppOperationState::running(message), phone);

    AppOperationState outcome;
    try {
        // The phone as it was asked about: the client checks, just before its command, that it is still the phone.
        outcome = AppOperationState::succeeded(co_await operation(m_client, asked.value_or(*selected)));
    } catch (...) {
        outcome = AppOperationState::failed(errorText(std::current_exception()));
    }
    if (self) {
        setAppOperationState(outcome, phone);
    }
}

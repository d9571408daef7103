#include "DeviceStore.h"

#include "APKArchiveInspector.h"
#include "BackgroundTask.h"

#include <QDateTime>
#include <QFileInfo>
#include <QPointer>
#include <QUuid>

// Picked files are plain paths here: there is no access to start or stop around their use.

QCoro::Task<void> DeviceStore::prepareInstall(QStringList files)
{
    const QPointer<DeviceStore> self(this);
    const quint64 preparation = ++m_installPreparation;
    std::optional<APKInstallPlan> plan;
    QString failure;
    try {
        // The inspector reads every package whole, which can take a while for a large one.
        plan = co_await runInBackground([files] { return APKArchiveInspector::plan(files); });
    } catch (...) {
        failure = errorText(std::current_exception());
    }
    if (!self || preparation != m_installPreparation) {
        co_return;
    }
    setPendingInstallPlan(plan);
    setInstallState(plan ? InstallState::idle() : InstallState::failed(failure));
}

QCoro::Task<void> DeviceStore::installPendingPlan(std::optional<QString> deviceID)
{
    if (!m_pendingInstallPlan) {
        co_return;
    }
    const std::optional<AndroidDevice> selected = deviceOrSelected(deviceID);
    if (!m_client || !selected) {
        setInstallState(InstallState::failed(QStringLiteral("请先连接并选择一台 Android 手机。")));
        co_return;
    }
    if (selected->state != AndroidDevice::State::authorized) {
        setInstallState(InstallState::failed(ADBClientError::notReady(*selected).errorDescription()), selected->id());
        co_return;
    }

    // The phone and the plan of this moment: a later selection does not redirect the install.
    const QPointer<DeviceStore> self(this);
    const std::shared_ptr<ADBClient> client = m_client;
    const AndroidDevice device = *selected;
    const APKInstallPlan plan = *m_pendingInstallPlan;
    setPendingInstallPlan(std::nullopt);
    setInstallState(InstallState::installing(plan.displayName()), device.id());

    std::optional<QString> failure;
    try {
        co_await client->install(plan.files, device);
    } catch (...) {
        failure = errorText(std::current_exception());
    }
    if (!self) {
        co_return;
    }
    if (failure) {
        setInstallState(InstallState::failed(*failure), device.id());
        recordInstall(device, plan, false, *failure);
        co_return;
    }
    const QString text =
        plan.displayName() + QStringLiteral(" 已安装到 ") + device.displayName() + QStringLiteral("。");
    setInstallState(InstallState::succeeded(text), device.id());
    recordInstall(device, plan, true, text);
    co_await refresh();
}

void DeviceStore::recordInstall(const AndroidDevice &device, const APKInstallPlan &plan, bool succeeded,
                                const QString &message)
{
    InstallHistoryRecord record;
    record.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    record.deviceSerial = device.serial;
    record.deviceName = device.displayName();
    for (const QString &file : plan.files) {
        record.fileNames.append(QFileInfo(file).fileName());
    }
    record.installedAt = QDateTime::currentDateTimeUtc();
    record.succeeded = succeeded;
    record.message = message;
    try {
        setInstallHistory(m_historyStore.append(record));
    } catch (const InstallHistoryStoreError &) {
        // The install itself is what the user asked for; a history that cannot be written stays as shown.
    }
}

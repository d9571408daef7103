#include "DeviceStore.h"

#include "PairingPayload.h"

#include <QPointer>

namespace {

const QString confirmationText = QStringLiteral("请在手机上确认相同号码");
const QString withdrawnText = QStringLiteral("配对已取消，未在手机上打开 Tavrine");
const QString notOpenedText = QStringLiteral("未能自动打开手机应用，请使用二维码连接。");

// Installs the companion shipped with the application; a newer one already on the phone serves as well.
QCoro::Task<void> installCompanion(std::shared_ptr<ADBClient> client, CompanionAPKArtifact artifact,
                                   AndroidDevice device)
{
    try {
        co_await client->install({artifact.apkURL}, device);
    } catch (const ADBClientError &error) {
        if (error.errorCase() != ADBClientError::Case::versionDowngrade) {
            throw;
        }
    }
}

} // namespace

QCoro::Task<void> DeviceStore::installCompanionAndConnect(QString pairingURL, std::optional<AndroidDevice> asked)
{
    const std::optional<AndroidDevice> selected = actionTarget(asked);
    if (!m_client || !selected || selected->state != AndroidDevice::State::authorized) {
        const ADBClientError reason = selected            ? ADBClientError::notReady(*selected)
                                      : m_client && asked ? ADBClientError(ADBClientError::Case::deviceNotFound)
                                                          : ADBClientError(ADBClientError::Case::deviceNotAuthorized);
        setCompanionInstallState(CompanionInstallState::failed(reason.errorDescription()));
        co_return;
    }
    if (!m_companionArtifact) {
        setCompanionInstallState(CompanionInstallState::failed(m_companionArtifactErrorMessage.value_or(
            CompanionAPKArtifactError(CompanionAPKArtifactError::Case::unavailable).errorDescription())));
        co_return;
    }

    const QPointer<DeviceStore> self(this);
    const std::shared_ptr<ADBClient> client = m_client;
    // The phone as it was asked about: the client checks, just before each command, that it is still the phone.
    const AndroidDevice device = asked.value_or(*selected);
    const CompanionAPKArtifact artifact = *m_companionArtifact;
    const quint64 generation = m_companionPairingGeneration;
    setCompanionInstallState(CompanionInstallState::installing(
        QStringLiteral("正在安装 Tavrine ") + artifact.metadata.versionName + QStringLiteral("，完成后会自动打开…")));
    setPairingLaunchMessage(QStringLiteral("正在安装 Tavrine 手机端…"));

    std::optional<QString> failure;
    bool installed = false;
    try {
        // A URL the phone could not pair with is refused before anything is installed.
        PairingPayload::parse(pairingURL);
        co_await installCompanion(client, artifact, device);
        installed = true;
        if (self && m_companionPairingGeneration == generation) {
            co_await client->launchCompanion(pairingURL, device);
        }
    } catch (const ADBClientError &error) {
        // Just installed, the companion is on the phone: an activity the phone does not find means that starting
        // it failed, not that it is missing.
        failure = installed && error.errorCase() == ADBClientError::Case::companionMissing
                      ? ADBClientError(ADBClientError::Case::companionNotStarted).errorDescription()
                      : QString::fromUtf8(error.what());
    } catch (...) {
        failure = errorText(std::current_exception());
    }
    if (!self) {
        co_return;
    }
    if (m_companionPairingGeneration != generation) {
        setCompanionInstallState(CompanionInstallState::failed(withdrawnText));
        setPairingLaunchMessage(std::nullopt);
        co_return;
    }
    if (failure) {
        setCompanionInstallState(CompanionInstallState::failed(*failure));
        setPairingLaunchMessage(QStringLiteral("手机端安装没有完成"));
        co_return;
    }
    setCompanionInstallState(CompanionInstallState::awaitingConfirmation(confirmationText));
    setPairingLaunchMessage(confirmationText);
    co_await refresh();
}

QCoro::Task<void> DeviceStore::openCompanion(QString pairingURL, std::optional<AndroidDevice> asked)
{
    const std::optional<AndroidDevice> selected = actionTarget(asked);
    if (m_client && asked && !selected) {
        // The phone the pairing began for is gone: no other phone is handed its link.
        setPairingLaunchMessage(notOpenedText);
        co_return;
    }
    if (!m_client || !selected || selected->state != AndroidDevice::State::authorized) {
        co_return;
    }
    const QPointer<DeviceStore> self(this);
    const std::shared_ptr<ADBClient> client = m_client;
    const AndroidDevice device = asked.value_or(*selected);
    const quint64 generation = m_companionPairingGeneration;
    setPairingLaunchMessage(QStringLiteral("正在手机上打开 Tavrine…"));

    bool launched = true;
    try {
        co_await client->launchCompanion(pairingURL, device);
    } catch (...) {
        launched = false; // the fixed text below points to the QR code instead of the error
    }
    if (self && m_companionPairingGeneration == generation) {
        setPairingLaunchMessage(launched ? confirmationText : notOpenedText);
    }
}

void DeviceStore::withdrawCompanionPairing()
{
    ++m_companionPairingGeneration;
    // An installation cannot be stopped half-way; it ends (and says so) once adb is done with it.
    if (m_companionInstallState.kind == CompanionInstallState::Kind::awaitingConfirmation) {
        setCompanionInstallState(CompanionInstallState::failed(withdrawnText));
    }
    if (m_companionInstallState.kind != CompanionInstallState::Kind::installing) {
        setPairingLaunchMessage(std::nullopt);
    }
}

#include "TransferStore.h"
#include "TransferStorePrivate.h"

#include <QTextBoundaryFinder>

#include <algorithm>

using transferStorePrivate::describe;

namespace {

constexpr int maximumDeviceNameCharacters = 80;

QString leadingCharacters(const QString &text, qsizetype count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype position = 0;
    for (qsizetype taken = 0; taken < count; ++taken) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) {
            break;
        }
        position = next;
    }
    return text.left(position);
}

} // namespace

// MARK: - Trusted phones

bool TransferStore::commitTrustedRegistry(const TrustedDeviceRegistry &candidate, const QString &failurePrefix)
{
    // Through the writer, after whatever it still has to write: an earlier registry never lands over this one.
    CredentialWriter::Outcome failure;
    try {
        failure = credentialWriter().writeAndWait(
            {{TransferCredentialStore::Account::trustedDeviceRegistry, TrustedDeviceRegistryStore::encode(candidate)}});
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (failure) {
        setPhase(Phase::failed(failurePrefix + *failure));
        return false;
    }
    adoptTrustedRegistry(candidate);
    return true;
}

bool TransferStore::saveTrustedRegistry()
{
    waitForCredentialWrites();
    return commitTrustedRegistry(m_trustedRegistry, QStringLiteral("无法保存可信设备："));
}

void TransferStore::selectTrustedDevice(const QString &id)
{
    // A change starts from the registry with the phone whose pairing is still being saved.
    waitForCredentialWrites();
    if (m_selectedTrustedDeviceID == id) {
        return;
    }
    const bool known = std::any_of(m_trustedRegistry.devices.begin(), m_trustedRegistry.devices.end(),
                                   [&](const TrustedDeviceRecord &record) { return record.id == id; });
    if (!known) {
        return;
    }
    TrustedDeviceRegistry candidate = m_trustedRegistry;
    candidate.select(id);
    if (!commitTrustedRegistry(candidate, QStringLiteral("无法保存可信设备："))) {
        return;
    }
    stopHost();
    if (const std::optional<TrustedDeviceRecord> selected = m_trustedRegistry.selectedDevice()) {
        startHost(true, selected->secret);
    }
}

void TransferStore::renameTrustedDevice(const QString &id, const QString &name)
{
    waitForCredentialWrites();
    const QString trimmed = leadingCharacters(name.trimmed(), maximumDeviceNameCharacters);
    if (trimmed.isEmpty()) {
        return;
    }
    TrustedDeviceRegistry candidate = m_trustedRegistry;
    for (TrustedDeviceRecord &record : candidate.devices) {
        if (record.id == id) {
            record.name = trimmed;
            commitTrustedRegistry(candidate, QStringLiteral("无法保存可信设备："));
            return;
        }
    }
}

void TransferStore::forgetTrustedDevice(const QString &id)
{
    waitForCredentialWrites();
    const bool wasSelected = m_trustedRegistry.selectedDeviceID == id;
    TrustedDeviceRegistry candidate = m_trustedRegistry;
    candidate.removeDevice(id);
    if (!commitTrustedRegistry(candidate, QStringLiteral("无法保存可信设备："))) {
        return;
    }
    if (wasSelected) {
        stopHost();
        if (const std::optional<TrustedDeviceRecord> selected = m_trustedRegistry.selectedDevice()) {
            startHost(true, selected->secret);
        }
    }
}

void TransferStore::bindUSBSerial(const QString &serial, const QString &deviceID)
{
    waitForCredentialWrites();
    if (!TrustedDeviceRecord::isValidUSBSerial(serial)) {
        return;
    }
    TrustedDeviceRegistry candidate = m_trustedRegistry;
    auto target = std::find_if(candidate.devices.begin(), candidate.devices.end(),
                               [&](const TrustedDeviceRecord &record) { return record.id == deviceID; });
    if (target == candidate.devices.end() || target->usbSerial == serial) {
        return;
    }
    for (TrustedDeviceRecord &record : candidate.devices) {
        if (record.usbSerial == serial) {
            record.usbSerial.reset();
        }
    }
    target->usbSerial = serial;
    commitTrustedRegistry(candidate, QStringLiteral("无法保存可信设备："));
}

void TransferStore::reloadTrustedRegistryIfEmpty()
{
    if (!m_trustedDevices.isEmpty()) {
        return;
    }
    try {
        reloadTrustedRegistry();
    } catch (const std::exception &error) {
        setPhase(Phase::failed(describe(error)));
    }
}

void TransferStore::reloadTrustedRegistry()
{
    waitForCredentialWrites();
    adoptTrustedRegistry(m_trustedRegistryStore.load());
    noteStoredRegistry();
}

void TransferStore::noteStoredRegistry()
{
    try {
        credentialWriter().noteStored({TransferCredentialStore::Account::trustedDeviceRegistry,
                                       TrustedDeviceRegistryStore::encode(m_trustedRegistry)});
    } catch (const std::exception &) {
        // A registry that could not be written back is simply written again by the next change.
    }
}

std::optional<QString> TransferStore::currentPeerDisplayName() const
{
    switch (m_phase.kind) {
    case Phase::Kind::reconnecting:
    case Phase::Kind::awaitingConfirmation:
    case Phase::Kind::connected:
        return m_phase.text;
    default:
        break;
    }
    if (const std::optional<TrustedDeviceRecord> selected = m_trustedRegistry.selectedDevice()) {
        return selected->name;
    }
    return std::nullopt;
}

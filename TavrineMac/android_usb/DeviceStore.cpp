#include "DeviceStore.h"

#include "ADBServerProbe.h"
#include "TextExcerpt.h"

#include <QPointer>
#include <QSet>

#include <algorithm>
#include <vector>

namespace {

// How many phones that left are remembered, to be known again when they come back.
constexpr qsizetype maximumDepartedPhones = 16;

// Whether two listings may be of one phone: the same serial, and the same model and product where both name them
// (a phone that waits for approval is listed without them).
bool mayBeOnePhone(const AndroidDevice &earlier, const AndroidDevice &later)
{
    const auto agree = [](const std::optional<QString> &first, const std::optional<QString> &second) {
        return !first || !second || *first == *second;
    };
    return earlier.serial == later.serial && agree(earlier.model, later.model) && agree(earlier.product, later.product);
}

// Whether adb lists the phone with its model and product, as it lists an authorised phone. adb lists a phone that
// awaits approval or is offline without them, and such a phone may be any phone of its serial.
bool isNamed(const AndroidDevice &phone)
{
    return phone.model && !phone.model->isEmpty() && phone.product && !phone.product->isEmpty();
}

// Whether a phone listed anew is the phone that left, so that what held the departed phone's id follows it: the same
// serial, model and product, with both listings naming the model and the product.
bool isSamePhoneBack(const AndroidDevice &departed, const AndroidDevice &came)
{
    return isNamed(departed) && isNamed(came) && departed.serial == came.serial && departed.model == came.model &&
           departed.product == came.product;
}

// Whether `phone` is still listed in `listing` under its id.
bool isListedIn(const AndroidDevice &phone, const QList<AndroidDevice> &listing)
{
    return std::ranges::any_of(listing, [&phone](const AndroidDevice &listed) {
        return listed.id() == phone.id() && mayBeOnePhone(phone, listed);
    });
}

} // namespace

DeviceStore::DeviceStore(std::shared_ptr<ADBClient> client, InstallHistoryStore historyStore,
                         DeviceStoreEnvironment environment, QObject *parent)
    : QObject(parent), m_client(std::move(client)), m_historyStore(std::move(historyStore)),
      m_usbRegistry(environment.usbRegistry ? std::move(environment.usbRegistry)
                                            : std::make_shared<const UdevUSBDeviceRegistry>()),
      m_otherADBServerRunning(environment.otherADBServerRunning ? std::move(environment.otherADBServerRunning)
                                                                : [] { return isOtherADBServerRunning(); })
{
    try {
        m_companionArtifact = CompanionAPKArtifact::load(
            environment.companionResourceFolder.value_or(CompanionAPKArtifact::defaultResourceFolder()));
    } catch (...) {
        m_companionArtifactErrorMessage = errorText(std::current_exception());
    }
    m_historyStore.removeLeftoverTemporaryFiles();
    // Record by record: one damaged record costs that record, not the whole history.
    m_installHistory = m_historyStore.load();
    if (!m_client) {
        m_setupMessage = ADBClientError(ADBClientError::Case::executableMissing).errorDescription();
    }
}

DeviceStore::~DeviceStore() = default;

QString DeviceStore::errorText(const std::exception_ptr &error)
{
    // Every error of this subsystem and of the pairing parser carries its description as its message.
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &exception) {
        return QString::fromUtf8(exception.what());
    } catch (...) {
        return ADBClientError::commandFailed({}, {}, 0).errorDescription();
    }
}

std::optional<AndroidDevice> DeviceStore::selectedDevice() const
{
    if (!m_selectedDeviceID) {
        return m_devices.isEmpty() ? std::nullopt : std::optional<AndroidDevice>(m_devices.first());
    }
    return device(*m_selectedDeviceID);
}

std::optional<AndroidDevice> DeviceStore::device(const QString &deviceID) const
{
    for (const AndroidDevice &device : m_devices) {
        if (device.id() == deviceID) {
            return device;
        }
    }
    return std::nullopt;
}

std::optional<AndroidDevice> DeviceStore::deviceOrSelected(const std::optional<QString> &deviceID) const
{
    return deviceID ? device(*deviceID) : selectedDevice();
}

std::optional<AndroidDevice> DeviceStore::actionTarget(const std::optional<AndroidDevice> &asked) const
{
    return asked ? ADBClient::commandTarget(*asked, m_devices) : selectedDevice();
}

std::optional<USBAndroidDevice> DeviceStore::waitingUSBPhone() const
{
    if (!m_devices.isEmpty() || m_connectedUSBPhones.isEmpty()) {
        return std::nullopt;
    }
    return m_connectedUSBPhones.first();
}

bool DeviceStore::canInstallCompanion() const
{
    const std::optional<AndroidDevice> device = selectedDevice();
    return m_companionArtifact && device && device->state == AndroidDevice::State::authorized &&
           m_companionInstallState.kind != CompanionInstallState::Kind::installing;
}

QCoro::Task<void> DeviceStore::refresh()
{
    setConnectedUSBPhones(USBAndroidDevice::connectedPhones(*m_usbRegistry));
    updateUSBPhoneProblem(false);
    if (!m_client || m_isRefreshing) {
        co_return; // a listing already running is not queued behind
    }
    setIsRefreshing(true);
    const QPointer<DeviceStore> self(this);
    const std::shared_ptr<ADBClient> client = m_client;
    co_await listDevices(client);
    // The phones are shown already; their names follow as each phone answers.
    if (self) {
        co_await readDeviceProperties(client);
    }
}

QCoro::Task<void> DeviceStore::listDevices(std::shared_ptr<ADBClient> client)
{
    const QPointer<DeviceStore> self(this);
    std::optional<QList<AndroidDevice>> listed;
    std::optional<QString> failure;
    try {
        listed = co_await client->listDevices();
    } catch (...) {
        failure = errorText(std::current_exception());
    }
    if (!self) {
        co_return;
    }
    // The reason of a failed listing stays shown until a listing succeeds again.
    setSetupMessage(failure);
    if (listed) {
        const QHash<QString, QString> renamed = renamedIDs(*listed);
        // The selection and the outcomes go with their phones.
        if (m_selectedDeviceID) {
            setSelectedDeviceID(renamed.value(*m_selectedDeviceID, *m_selectedDeviceID));
        }
        for (std::optional<QString> *id : {&m_installStateDeviceID, &m_appOperationDeviceID}) {
            if (*id) {
                *id = renamed.value(**id, **id);
            }
        }
        setDevices(*listed, renamed);
        // Phones that share a serial are told apart by their ids: the selection never moves to the other one.
        if (!m_selectedDeviceID || !device(*m_selectedDeviceID)) {
            setSelectedDeviceID(listed->isEmpty() ? std::nullopt : std::optional<QString>(listed->first().id()));
        }
        updateUSBPhoneProblem(true);
    } else {
        // adb cannot tell which phones are attached: none is shown as connected.
        setDevices({});
    }
    setIsRefreshing(false);
}

QCoro::Task<void> DeviceStore::readDeviceProperties(std::shared_ptr<ADBClient> client)
{
    // Started together, so that a phone whose shell does not answer holds up no other phone's name.
    std::vector<QCoro::Task<void>> reads;
    for (const AndroidDevice &device : client->devicesNeedingProperties(m_devices)) {
        reads.push_back(readDeviceProperties(client, device));
    }
    for (QCoro::Task<void> &read : reads) {
        co_await read;
    }
}

QCoro::Task<void> DeviceStore::readDeviceProperties(std::shared_ptr<ADBClient> client, AndroidDevice device)
{
    const QPointer<DeviceStore> self(this);
    const std::optional<ADBDeviceProperties> properties = co_await client->readProperties(device);
    if (!self || !properties) {
        co_return;
    }
    // Into the record of the same phone, when it is still listed and authorised.
    QList<AndroidDevice> devices = m_devices;
    for (AndroidDevice &listed : devices) {
        if (ADBClient::isSamePhone(listed, device) && listed.state == AndroidDevice::State::authorized) {
            properties->applyTo(listed);
        }
    }
    setDevices(devices);
}

void DeviceStore::updateUSBPhoneProblem(bool mayProbe)
{
    // adb names a USB phone by its USB serial number; a phone without one is listed with an empty serial. Only a
    // phone with USB debugging on can be held by an adb server.
    QSet<QString> listedSerials;
    for (const AndroidDevice &device : std::as_const(m_devices)) {
        listedSerials.insert(device.serial);
    }
    const auto unlisted = std::ranges::find_if(m_connectedUSBPhones, [&listedSerials](const USBAndroidDevice &phone) {
        return phone.hasADBInterface && !listedSerials.contains(phone.serialNumber.value_or(QString()));
    });
    if (unlisted == m_connectedUSBPhones.cend()) {
        setUSBPhoneProblem(std::nullopt);
    } else if (mayProbe) {
        setUSBPhoneProblem(
            m_otherADBServerRunning()
                ? std::optional<QString>(
                      QStringLiteral("另一个 adb 程序正在使用手机“%1”，Tavrine 无法连接它。请关闭正在使用"
                                     "手机的开发工具或投屏软件（或在终端运行“adb kill-server”），然后"
                                     "重新插拔手机。")
                          .arg(textExcerpt(unlisted->productName)))
                : std::nullopt);
    }
}

void DeviceStore::markCompanionConnected()
{
    if (m_companionInstallState.kind == CompanionInstallState::Kind::awaitingConfirmation) {
        setCompanionInstallState(CompanionInstallState::connected(QStringLiteral("手机端已安装并安全连接")));
    } else if (m_companionInstallState.kind == CompanionInstallState::Kind::failed) {
        // The phone paired all the same (by its code): an earlier failure no longer stands beside "配对完成".
        setCompanionInstallState(CompanionInstallState::idle());
    }
    // The launch's progress or failure is history once the phone is connected; one still installing goes on.
    if (m_companionInstallState.kind != CompanionInstallState::Kind::installing) {
        setPairingLaunchMessage(std::nullopt);
    }
}

QHash<QString, QString> DeviceStore::renamedIDs(const QList<AndroidDevice> &listed)
{
    // The phones named now with their serial, model and product that the last listing did not name so under their
    // ids: plugged in again, approved since, or another phone under an id. A phone listed without them (one awaiting
    // approval, or offline for a moment while it connects) may be any phone of its serial: it neither follows a phone
    // that left nor makes it forgotten.
    QList<AndroidDevice> came;
    for (const AndroidDevice &phone : listed) {
        const auto namedSoBefore = [&phone](const AndroidDevice &last) {
            return last.id() == phone.id() && isSamePhoneBack(last, phone);
        };
        if (isNamed(phone) && std::ranges::none_of(m_lastListing, namedSoBefore)) {
            came.append(phone);
        }
    }
    for (const AndroidDevice &phone : std::as_const(m_lastListing)) {
        if (!isListedIn(phone, listed)) {
            m_departedPhones.append(phone);
        }
    }
    if (m_departedPhones.size() > maximumDepartedPhones) {
        m_departedPhones.remove(0, m_departedPhones.size() - maximumDepartedPhones);
    }
    m_lastListing = listed;

    // A phone that came and one that left are one phone when each can be no other of them.
    QHash<QString, QString> renamed;
    for (const AndroidDevice &phone : std::as_const(came)) {
        const auto isPhone = [&phone](const AndroidDevice &departed) {
            return isSamePhoneBack(departed, phone);
        };
        if (std::ranges::count_if(m_departedPhones, isPhone) != 1) {
            continue;
        }
        const auto departed = std::ranges::find_if(m_departedPhones, isPhone);
        if (std::ranges::count_if(
                came, [&departed](const AndroidDevice &other) { return isSamePhoneBack(*departed, other); }) != 1) {
            continue;
        }
        // adb's server started anew may give it its old id again: then nothing is renamed.
        if (departed->id() != phone.id()) {
            renamed.insert(departed->id(), phone.id());
        }
        m_departedPhones.erase(departed);
    }
    // A phone of its serial named otherwise is another phone: the one that left is forgotten, as is one that two
    // phones came as, so that its own next return is not taken for one of two phones of its kind.
    m_departedPhones.removeIf([&came](const AndroidDevice &departed) {
        return std::ranges::any_of(came,
                                   [&departed](const AndroidDevice &phone) { return departed.serial == phone.serial; });
    });
    return renamed;
}

void DeviceStore::setDevices(const QList<AndroidDevice> &devices, const QHash<QString, QString> &renamedIDs)
{
    if (m_devices != devices) {
        m_devices = devices;
        if (!renamedIDs.isEmpty()) {
            emit devicesRenamed(renamedIDs);
        }
        emit devicesChanged();
    }
}

void DeviceStore::setConnectedUSBPhones(const QList<USBAndroidDevice> &phones)
{
    if (m_connectedUSBPhones != phones) {
        m_connectedUSBPhones = phones;
        emit connectedUSBPhonesChanged();
    }
}

void DeviceStore::setSelectedDeviceID(const std::optional<QString> &deviceID)
{
    if (m_selectedDeviceID != deviceID) {
        m_selectedDeviceID = deviceID;
        emit selectedDeviceIDChanged();
    }
}

void DeviceStore::setIsRefreshing(bool isRefreshing)
{
    if (m_isRefreshing != isRefreshing) {
        m_isRefreshing = isRefreshing;
        emit isRefreshingChanged();
    }
}

void DeviceStore::setInstallState(const InstallState &state, const std::optional<QString> &deviceID)
{
    if (m_installState != state || m_installStateDeviceID != deviceID) {
        m_installState = state;
        m_installStateDeviceID = deviceID;
        emit installStateChanged();
    }
}

DeviceStore::InstallState DeviceStore::installStateFor(const std::optional<QString> &deviceID) const
{
    return m_installStateDeviceID && m_installStateDeviceID != deviceID ? InstallState::idle() : m_installState;
}

void DeviceStore::setPendingInstallPlan(const std::optional<APKInstallPlan> &plan)
{
    if (m_pendingInstallPlan != plan) {
        m_pendingInstallPlan = plan;
        emit pendingInstallPlanChanged();
    }
}

void DeviceStore::setInstallHistory(const QList<InstallHistoryRecord> &history)
{
    if (m_installHistory != history) {
        m_installHistory = history;
        emit installHistoryChanged();
    }
}

void DeviceStore::setSetupMessage(const std::optional<QString> &message)
{
    if (m_setupMessage != message) {
        m_setupMessage = message;
        emit setupMessageChanged();
    }
}

void DeviceStore::setPairingLaunchMessage(const std::optional<QString> &message)
{
    if (m_pairingLaunchMessage != message) {
        m_pairingLaunchMessage = message;
        emit pairingLaunchMessageChanged();
    }
}

void DeviceStore::setAppOperationState(const AppOperationState &state, const std::optional<QString> &deviceID)
{
    if (m_appOperationState != state || m_appOperationDeviceID != deviceID) {
        m_appOperationState = state;
        m_appOperationDeviceID = deviceID;
        emit appOperationStateChanged();
    }
}

DeviceStore::AppOperationState DeviceStore::appOperationStateFor(const std::optional<QString> &deviceID) const
{
    return m_appOperationDeviceID && m_appOperationDeviceID != deviceID ? AppOperationState::idle()
                                                                        : m_appOperationState;
}

void DeviceStore::setUSBPhoneProblem(const std::optional<QString> &problem)
{
    if (m_usbPhoneProblem != problem) {
        m_usbPhoneProblem = problem;
        emit usbPhoneProblemChanged();
    }
}

void DeviceStore::setCompanionInstallState(const CompanionInstallState &state)
{
    if (m_companionInstallState != state) {
        m_companionInstallState = state;
        emit companionInstallStateChanged();
    }
}

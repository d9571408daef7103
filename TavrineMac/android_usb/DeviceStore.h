#pragma once

#include "ADBClient.h"
#include "APKInstallPlan.h"
#include "AndroidDevice.h"
#include "CompanionAPKArtifact.h"
#include "InstallHistoryStore.h"
#include "USBAndroidDevice.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <qcorotask.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

// What the store needs from the machine besides adb, replaceable in tests.
struct DeviceStoreEnvironment
{
    std::shared_ptr<const USBDeviceRegistry> usbRegistry; // default: the system's registry through libudev
    std::optional<QString> companionResourceFolder;       // default: CompanionAPKArtifact::defaultResourceFolder()
    std::function<bool()> otherADBServerRunning = {};     // default: isOtherADBServerRunning()
};

// The one store between the USB views and adb: the phones adb lists and those plugged in by USB, the selection,
// and one state per long-running flow (APK install, companion install, application operation), each carrying the
// exact text a view shows. Lives on the GUI thread; every task it starts runs there too, so published state is
// only written on that thread.
//
// Operations never throw towards a view: every outcome is published. Those that talk to the phone change state
// at once and return the task that finishes the flow; views drop it, tests and callers that need the outcome
// await it. Tasks are neither kept nor cancelled: two installs started back to back run side by side and the
// last to finish writes the state.
class DeviceStore : public QObject
{
    Q_OBJECT

public:
    struct InstallState
    {
        enum class Kind
        {
            idle,
            installing,
            succeeded,
            failed,
        };

        Kind kind = Kind::idle;
        QString text; // empty for idle

        static InstallState idle() { return {}; }
        static InstallState installing(const QString &text) { return {Kind::installing, text}; }
        static InstallState succeeded(const QString &text) { return {Kind::succeeded, text}; }
        static InstallState failed(const QString &text) { return {Kind::failed, text}; }
        bool operator==(const InstallState &) const = default;
    };

    struct AppOperationState
    {
        enum class Kind
        {
            idle,
            running,
            succeeded,
            failed,
        };

        Kind kind = Kind::idle;
        QString text; // empty for idle

        static AppOperationState idle() { return {}; }
        static AppOperationState running(const QString &text) { return {Kind::running, text}; }
        static AppOperationState succeeded(const QString &text) { return {Kind::succeeded, text}; }
        static AppOperationState failed(const QString &text) { return {Kind::failed, text}; }
        bool operator==(const AppOperationState &) const = default;
    };

    struct CompanionInstallState
    {
        enum class Kind
        {
            idle,
            installing,
            awaitingConfirmation,
            connected,
            failed,
        };

        Kind kind = Kind::idle;
        QString text; // empty for idle

        static CompanionInstallState idle() { return {}; }
        static CompanionInstallState installing(const QString &text) { return {Kind::installing, text}; }
        static CompanionInstallState awaitingConfirmation(const QString &text)
        {
            return {Kind::awaitingConfirmation, text};
        }
        static CompanionInstallState connected(const QString &text) { return {Kind::connected, text}; }
        static CompanionInstallState failed(const QString &text) { return {Kind::failed, text}; }
        bool operator==(const CompanionInstallState &) const = default;
    };

    // An operation on one application of the phone: awaits its adb command and returns the success text.
    using AppOperation = std::function<QCoro::Task<QString>(std::shared_ptr<ADBClient> client, AndroidDevice device)>;

    // The three operations of the applications pane, for the package `packageIdentifier` shown as
    // `applicationName`.
    static AppOperation uninstallOperation(const QString &packageIdentifier, const QString &applicationName);
    static AppOperation forceStopOperation(const QString &packageIdentifier, const QString &applicationName);
    static AppOperation clearDataOperation(const QString &packageIdentifier, const QString &applicationName);

    // `client` is null when no adb was found. Loads the companion package and the install history.
    DeviceStore(std::shared_ptr<ADBClient> client, InstallHistoryStore historyStore,
                DeviceStoreEnvironment environment = {}, QObject *parent = nullptr);
    ~DeviceStore() override;

    // Published state.
    const QList<AndroidDevice> &devices() const { return m_devices; }
    const QList<USBAndroidDevice> &connectedUSBPhones() const { return m_connectedUSBPhones; }
    // The id (AndroidDevice::id) of the phone the store works on; the main window writes it.
    const std::optional<QString> &selectedDeviceID() const { return m_selectedDeviceID; }
    bool isRefreshing() const { return m_isRefreshing; }
    const InstallState &installState() const { return m_installState; }
    const std::optional<APKInstallPlan> &pendingInstallPlan() const { return m_pendingInstallPlan; }
    const QList<InstallHistoryRecord> &installHistory() const { return m_installHistory; }
    const std::optional<QString> &setupMessage() const { return m_setupMessage; }
    const std::optional<QString> &pairingLaunchMessage() const { return m_pairingLaunchMessage; }
    const AppOperationState &appOperationState() const { return m_appOperationState; }
    // The phone (its id) whose install or application operation the state tells of; none for an outcome of no
    // phone (packages that failed their check, no phone to act on).
    const std::optional<QString> &installStateDeviceID() const { return m_installStateDeviceID; }
    const std::optional<QString> &appOperationDeviceID() const { return m_appOperationDeviceID; }
    // The state as the page of the phone `deviceID` (none: a page of no USB phone) shows it: idle while it tells of
    // another phone, so that one phone's outcome never shows on another's page.
    InstallState installStateFor(const std::optional<QString> &deviceID) const;
    AppOperationState appOperationStateFor(const std::optional<QString> &deviceID) const;
    const CompanionInstallState &companionInstallState() const { return m_companionInstallState; }
    // Why a phone plugged in by USB is not listed, when the reason is known: another adb program holds it.
    const std::optional<QString> &usbPhoneProblem() const { return m_usbPhoneProblem; }

    // What views write: the device list's selection, the plan card's cancel (none), the companion install
    // confirmation (idle).
    void setSelectedDeviceID(const std::optional<QString> &deviceID);
    void setPendingInstallPlan(const std::optional<APKInstallPlan> &plan);
    void setCompanionInstallState(const CompanionInstallState &state);

    // Set once at construction.
    const std::shared_ptr<ADBClient> &client() const { return m_client; }
    const InstallHistoryStore &historyStore() const { return m_historyStore; }
    const std::optional<CompanionAPKArtifact> &companionArtifact() const { return m_companionArtifact; }
    const std::optional<QString> &companionArtifactErrorMessage() const { return m_companionArtifactErrorMessage; }

    // The listed device with the selected id; the first listed device while nothing is selected.
    std::optional<AndroidDevice> selectedDevice() const;
    // The listed device whose id is `deviceID`.
    std::optional<AndroidDevice> device(const QString &deviceID) const;
    // The listed device `deviceID` when given, else the selected device.
    std::optional<AndroidDevice> deviceOrSelected(const std::optional<QString> &deviceID) const;
    // A phone plugged in by USB that adb does not list (yet): the first one, and only while adb lists none.
    std::optional<USBAndroidDevice> waitingUSBPhone() const;
    // A companion package, an authorised selected phone, and no companion install running.
    bool canInstallCompanion() const;

    // Scans the USB bus at once and, unless a listing is running or there is no adb, lists the phones again and
    // publishes them, then reads the properties of those not read yet; the task ends with those reads. A failed
    // listing shows no phone and says why until a listing succeeds. The main window's poll calls it too.
    QCoro::Task<void> refresh();

    // Checks the files picked or dropped (absolute paths) and makes them the pending plan, or fails the install
    // state with the reason. The packages are read off the GUI thread; of overlapping calls the last one wins.
    QCoro::Task<void> prepareInstall(QStringList files);
    // Installs the pending plan on the selected phone, or on the listed phone `deviceID` when given, records it in
    // the history and, when it succeeded, lists the phones again.
    QCoro::Task<void> installPendingPlan(std::optional<QString> deviceID = std::nullopt);

    // Installs the companion on the selected phone, or on the phone `asked` when given (as it was listed when the
    // pairing began: actionTarget() finds it), and starts it with `pairingURL`, so that pairing completes without a
    // scan; ends awaiting the phone's confirmation. A phone `asked` that adb no longer lists so fails as gone, with
    // nothing installed.
    QCoro::Task<void> installCompanionAndConnect(QString pairingURL, std::optional<AndroidDevice> asked = std::nullopt);
    // Starts the companion already on the selected phone, or on the phone `asked` when given, with `pairingURL`;
    // only the launch message changes. A phone `asked` that adb no longer lists so is not opened, and the message
    // says that the QR code is the way left.
    QCoro::Task<void> openCompanion(QString pairingURL, std::optional<AndroidDevice> asked = std::nullopt);
    // The trusted phone connected: a companion awaiting confirmation is now connected, a failed set-up no longer
    // shows, and the launch message is cleared unless the companion is still being installed.
    void markCompanionConnected();
    // The pairing the companion was started for was withdrawn on this computer: a companion set-up under way
    // ends with a failure instead of opening the phone's application with a link that no longer pairs, and a
    // companion that was opened with it no longer awaits a confirmation.
    void withdrawCompanionPairing();

    // Runs `operation` on the selected phone, or on the phone `asked` when given (as it was listed when the user was
    // asked, or the action began: actionTarget() finds it), showing `message` while it runs; a phone `asked` that
    // adb no longer lists so fails as gone.
    QCoro::Task<void> performAppOperation(QString message, AppOperation operation,
                                          std::optional<AndroidDevice> asked = std::nullopt);

    // The phone an action goes to: the phone `asked` (as it was listed when the user was asked, or the action began)
    // as this store lists it now, by ADBClient::commandTarget(), which the client applies again just before each
    // command; none when it is not listed so. Without `asked`, the selected phone.
    std::optional<AndroidDevice> actionTarget(const std::optional<AndroidDevice> &asked) const;

    // The text a view shows for a failure: the description of the error.
    static QString errorText(const std::exception_ptr &error);

signals:
    void devicesChanged();
    void connectedUSBPhonesChanged();
    void selectedDeviceIDChanged();
    void isRefreshingChanged();
    void installStateChanged();
    void pendingInstallPlanChanged();
    void installHistoryChanged();
    void setupMessageChanged();
    void pairingLaunchMessageChanged();
    void appOperationStateChanged();
    void companionInstallStateChanged();
    void usbPhoneProblemChanged();
    // Just before devicesChanged, when a listing lists phones under other ids than the last listing that succeeded:
    // a phone plugged in again, or listed anew after adb's server started again, is the one phone that left as it
    // is first listed with its serial, model and product (a phone listed without them, as one awaiting approval or
    // offline for a moment is, is no phone that left, nor another one). Earlier id → id now; whatever holds an id of
    // a phone takes its new one, as the store does with its selection and outcomes.
    void devicesRenamed(const QHash<QString, QString> &renamedIDs);

private:
    // `renamedIDs` as devicesRenamed tells them.
    void setDevices(const QList<AndroidDevice> &devices, const QHash<QString, QString> &renamedIDs = {});
    // What a successful listing renames, against the last successful one; remembers the phones that left.
    QHash<QString, QString> renamedIDs(const QList<AndroidDevice> &listed);
    void setConnectedUSBPhones(const QList<USBAndroidDevice> &phones);
    void setIsRefreshing(bool isRefreshing);
    void setInstallState(const InstallState &state, const std::optional<QString> &deviceID = std::nullopt);
    void setInstallHistory(const QList<InstallHistoryRecord> &history);
    void setSetupMessage(const std::optional<QString> &message);
    void setPairingLaunchMessage(const std::optional<QString> &message);
    void setAppOperationState(const AppOperationState &state, const std::optional<QString> &deviceID);
    // After a listing (`mayProbe`) or a USB scan: says so when a phone on the bus is not listed while another adb
    // server runs; a scan alone only withdraws the message once every phone on the bus is listed.
    void updateUSBPhoneProblem(bool mayProbe);
    void setUSBPhoneProblem(const std::optional<QString> &problem);

    QCoro::Task<void> listDevices(std::shared_ptr<ADBClient> client);
    // Reads the properties of the listed phones that lack them, all at once, publishing each as it comes.
    QCoro::Task<void> readDeviceProperties(std::shared_ptr<ADBClient> client);
    QCoro::Task<void> readDeviceProperties(std::shared_ptr<ADBClient> client, AndroidDevice device);
    void recordInstall(const AndroidDevice &device, const APKInstallPlan &plan, bool succeeded, const QString &message);

    const std::shared_ptr<ADBClient> m_client;
    const InstallHistoryStore m_historyStore;
    const std::shared_ptr<const USBDeviceRegistry> m_usbRegistry;
    const std::function<bool()> m_otherADBServerRunning;
    std::optional<CompanionAPKArtifact> m_companionArtifact;
    std::optional<QString> m_companionArtifactErrorMessage;

    QList<AndroidDevice> m_devices;
    QList<USBAndroidDevice> m_connectedUSBPhones;
    std::optional<QString> m_selectedDeviceID;
    bool m_isRefreshing = false;
    InstallState m_installState;
    std::optional<APKInstallPlan> m_pendingInstallPlan;
    QList<InstallHistoryRecord> m_installHistory;
    std::optional<QString> m_setupMessage;
    std::optional<QString> m_pairingLaunchMessage;
    AppOperationState m_appOperationState;
    std::optional<QString> m_installStateDeviceID;
    std::optional<QString> m_appOperationDeviceID;
    CompanionInstallState m_companionInstallState;
    std::optional<QString> m_usbPhoneProblem;

    // The last listing that succeeded, and the phones that left since and may come again (the newest last).
    QList<AndroidDevice> m_lastListing;
    QList<AndroidDevice> m_departedPhones;

    // Counts prepareInstall calls, so that only the latest one publishes its outcome.
    quint64 m_installPreparation = 0;
    // Counts withdrawn pairings, so that a companion set-up started for one of them does not go on with it.
    quint64 m_companionPairingGeneration = 0;
};

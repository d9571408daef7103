#pragma once

#include "AndroidDevice.h"
#include "ManagedApplicationsPresentation.h"
#include "ManagedContentModel.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class AppOperationBanner;
class ApplicationListModel;
class ClampedLabel;
class DeviceManagementStore;
class DeviceStore;
class ElidedLabel;
class InstallPlanCard;
class InstallStatusBanner;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class SelectableWrappedText;
class StatusBanner;

// The applications section of a trusted phone's dashboard: the phone's applications as the management channel
// lists them, searchable and scoped, with the details of one of them and what can be done to it on the phone.
// When the same phone is also recognised among the adb devices it offers force stop, clear data and uninstall
// over USB and installs APK files on it; those always name that phone (by its id, as phones may share a serial),
// never whichever phone the device store has selected. It keeps only its selection and the application a dialog asks
// about.
class ManagedApplicationsPane : public QWidget
{
    Q_OBJECT

public:
    // The dashboard's actions; the pane only calls them.
    struct Actions
    {
        std::function<void()> chooseAPK;
        std::function<void()> goHome;
    };

    ManagedApplicationsPane(const QString &peerName, DeviceManagementStore *managementStore, DeviceStore *deviceStore,
                            bool isManagementConnected, bool isUSBConnected, Actions actions,
                            QWidget *parent = nullptr);
    ~ManagedApplicationsPane() override;

    // The dashboard keeps these current.
    void setPeerName(const QString &peerName);
    void setManagementConnected(bool connected);
    void setUSBConnected(bool connected);
    // This phone's adb device in whatever state, none when it is not plugged in: one that cannot take commands says
    // why over the list and in the install button's help. `isBound`: the phone is known by its USB serial, so that
    // the USB actions reach that device alone, and none while it is not plugged in or cannot take commands; else they
    // reach the one phone of the model the phone reports.
    void setUSBPhone(const std::optional<AndroidDevice> &usbPhone, bool isBound = false);

    const std::optional<QString> &selectedApplicationID() const { return m_selectedApplicationID; }
    void setSelectedApplicationID(const std::optional<QString> &packageName);
    std::optional<ManagedApplication> selectedApplication() const;
    // The adb device the USB actions reach: the bound phone (setUSBPhone), else the one phone of the reported model
    // (ManagedApplicationsPresentation::usbTargetDevice).
    std::optional<AndroidDevice> usbTargetDevice() const;

    // The actions of the menus and buttons, for an application of the list. Those over USB act on `usbPhone`, the
    // target as it was when the action was offered (a menu filled before the phone left names the phone gone), by
    // default the target now.
    void launch(const ManagedApplication &application);
    void showDetails(const ManagedApplication &application);
    void forceStop(const ManagedApplication &application) { forceStop(application, usbTargetDevice()); }
    void forceStop(const ManagedApplication &application, const std::optional<AndroidDevice> &usbPhone);
    // Each sets its pending state and asks without waiting; any answer empties the state, only the confirming one
    // acts. A question asked again replaces the one still open.
    void requestUninstall(const ManagedApplication &application);
    void requestClearData(const ManagedApplication &application) { requestClearData(application, usbTargetDevice()); }
    void requestClearData(const ManagedApplication &application, const std::optional<AndroidDevice> &usbPhone);
    void requestUSBUninstall(const ManagedApplication &application)
    {
        requestUSBUninstall(application, usbTargetDevice());
    }
    void requestUSBUninstall(const ManagedApplication &application, const std::optional<AndroidDevice> &usbPhone);
    const std::optional<ManagedApplication> &pendingUninstall() const { return m_pendingUninstall; }
    const std::optional<ManagedApplication> &pendingClearData() const { return m_pendingClearData; }
    const std::optional<ManagedApplication> &pendingUSBUninstall() const { return m_pendingUSBUninstall; }
    void refresh();

    QToolButton *backButton() const { return m_backButton; }
    QLineEdit *searchField() const { return m_searchField; }
    QComboBox *scopePicker() const { return m_scopePicker; }
    QPushButton *installButton() const { return m_installButton; }
    QToolButton *refreshButton() const { return m_refreshButton; }
    InstallPlanCard *planCard() const { return m_planCard; }
    StatusBanner *usbStateBanner() const { return m_usbStateBanner; }
    InstallStatusBanner *installBanner() const { return m_installBanner; }
    AppOperationBanner *operationBanner() const { return m_operationBanner; }
    QListView *applicationList() const { return m_listView; }
    // Gives the keyboard to the applications list; while it still loads, the pane's main area holds it and hands it
    // on once the list shows.
    void focusContent();
    // The details column's buttons; hidden when they do not apply.
    QPushButton *openButton() const { return m_openButton; }
    QPushButton *detailsButton() const { return m_detailsButton; }
    QPushButton *moreActionsButton() const { return m_moreActionsButton; }
    // The texts of the labels shown, which tell the states of the list, the details and the main area.
    QStringList visibleTitles() const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Question
    {
        uninstall,
        clearData,
        usbUninstall,
    };
    static constexpr size_t questionCount = 3;

    // `usbPhone`: the phone a USB question is about.
    void ask(Question question, const ManagedApplicationsPresentation::Confirmation &confirmation,
             const std::optional<AndroidDevice> &usbPhone = std::nullopt);
    void answer(Question question, quint64 generation, bool confirmed);
    void buildHeader(QVBoxLayout *layout);
    QWidget *buildDetails();
    void applicationsChanged();
    void renderHeader();
    void renderMain();
    void renderDetails();
    void renderInstall();
    void layOutHeader();
    void showContextMenu(const QPoint &position);
    void fillMoreActions();
    void fillMenu(QMenu *menu, const ManagedApplication &application,
                  const QList<ManagedApplicationsPresentation::ApplicationAction> &actions,
                  const std::optional<AndroidDevice> &usbPhone = std::nullopt);
    // The target's id for a USB operation; nothing (and nothing starts) without a target.
    std::optional<QString> targetDeviceID() const;
    // The phone that the answer to the question in `slot` goes to: the one the question was asked about, followed
    // as the device store renames it.
    std::optional<AndroidDevice> answerTarget(size_t slot);

    QPointer<DeviceManagementStore> m_managementStore;
    QPointer<DeviceStore> m_deviceStore;
    QString m_peerName;
    bool m_isManagementConnected;
    bool m_isUSBConnected;
    const Actions m_actions;

    std::optional<ManagedApplication> m_pendingUninstall;
    std::optional<ManagedApplication> m_pendingClearData;
    std::optional<ManagedApplication> m_pendingUSBUninstall;
    std::optional<QString> m_selectedApplicationID;
    // The question of each kind on show and the number it was asked under; only its own answer counts.
    std::array<QPointer<QMessageBox>, questionCount> m_openQuestions;
    std::array<quint64, questionCount> m_questionGenerations{};
    // The USB phone each question was asked about, as adb listed it then: named still when it is gone by the answer,
    // to be told so.
    std::array<std::optional<AndroidDevice>, questionCount> m_questionTargets;
    quint64 m_nextQuestionGeneration = 0;
    std::optional<bool> m_isWideHeader;

    ApplicationListModel *m_model = nullptr;
    QToolButton *m_backButton = nullptr;
    QHBoxLayout *m_topRow = nullptr;
    QHBoxLayout *m_bottomRow = nullptr;
    QLabel *m_titleLabel = nullptr;
    QLineEdit *m_searchField = nullptr;
    QComboBox *m_scopePicker = nullptr;
    QPushButton *m_installButton = nullptr;
    QToolButton *m_refreshButton = nullptr;
    InstallPlanCard *m_planCard = nullptr;
    QWidget *m_planSection = nullptr;
    std::optional<AndroidDevice> m_usbPhone;
    bool m_isUSBPhoneBound = false;
    StatusBanner *m_usbStateBanner = nullptr;
    InstallStatusBanner *m_installBanner = nullptr;
    AppOperationBanner *m_operationBanner = nullptr;
    QStackedWidget *m_mainStack = nullptr;
    QLabel *m_disconnectedTitle = nullptr;
    QLabel *m_disconnectedDescription = nullptr;
    QStackedWidget *m_listStack = nullptr;
    QListView *m_listView = nullptr;
    QStackedWidget *m_detailsStack = nullptr;
    QLabel *m_detailsIcon = nullptr;
    ClampedLabel *m_detailsName = nullptr;
    ElidedLabel *m_detailsVersion = nullptr;
    QPushButton *m_openButton = nullptr;
    QPushButton *m_detailsButton = nullptr;
    QPushButton *m_moreActionsButton = nullptr;
    SelectableWrappedText *m_packageLabel = nullptr;
    QLabel *m_versionCodeLabel = nullptr;
    QLabel *m_kindLabel = nullptr;
};

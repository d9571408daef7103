#include "../android_usb_views/UsbViewsTestSupport.h"
#include "ApplicationAccessible.h"
#include "DefaultADBClient.h"
#include "DeviceManagementDashboard.h"
#include "DeviceManagementStore.h"
#include "DeviceOverviewPane.h"
#include "DisclosureGroup.h"
#include "FileSelectionRules.h"
#include "FilesPaneToolbar.h"
#include "HomeQuickAction.h"
#include "MainWindow.h"
#include "MainWindowDetailPane.h"
#include "ManagedApplicationsPane.h"
#include "ManagedFileBrowser.h"
#include "ManagedFilesPane.h"
#include "ManagedMediaGallery.h"
#include "ManagedMediaPreview.h"
#include "ManagedTrashList.h"
#include "ManagementMessageBar.h"
#include "ManagementStoreFixture.h"
#include "QuickLookWindow.h"
#include "QuickSendCoordinator.h"
#include "QuickSendPanel.h"
#include "SidebarList.h"
#include "SymbolIcon.h"
#include "TransferActivityDock.h"
#include "TrashListPresentation.h"
#include "TrustedDeviceManager.h"
#include "ViewColors.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListView>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <optional>

using namespace Qt::StringLiterals;
using namespace UsbViewsTestSupport;

namespace {

// One element of the accessibility tree as an assistive tool reads it over AT-SPI.
struct Element
{
    QString role;
    QString name;
    QString description;
    QStringList states; // as AT-SPI names them: "focused", "checked", …
    QList<Element> children;

    static Element fromJson(const QJsonObject &object)
    {
        Element element{object.value("role"_L1).toString(),
                        object.value("name"_L1).toString(),
                        object.value("description"_L1).toString(),
                        {},
                        {}};
        for (const QJsonValue state : object.value("states"_L1).toArray())
            element.states.append(state.toString());
        for (const QJsonValue child : object.value("children"_L1).toArray())
            element.children.append(fromJson(child.toObject()));
        return element;
    }

    // The first element at or below this one with `wantedRole` (any role when empty) and `wantedName`, depth first.
    std::optional<Element> find(const QString &wantedRole, const QString &wantedName) const
    {
        if ((wantedRole.isEmpty() || role == wantedRole) && name == wantedName)
            return *this;
        for (const Element &child : children) {
            if (std::optional<Element> found = child.find(wantedRole, wantedName))
                return found;
        }
        return std::nullopt;
    }

    // The names of this element and those below it with `wantedRole` (any role when empty), depth first.
    QStringList names(const QString &wantedRole) const
    {
        QStringList found;
        if (wantedRole.isEmpty() || role == wantedRole)
            found.append(name);
        for (const Element &child : children)
            found += child.names(wantedRole);
        return found;
    }
};

// Runs the reading script against this process; its exit code and output. The event loop keeps turning meanwhile:
// the script's questions come back to this process over the accessibility bus.
std::pair<int, QByteArray> runReader(const QStringList &arguments)
{
    QProcess reader;
    reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QSignalSpy finished(&reader, &QProcess::finished);
    reader.start(u"/usr/bin/python3"_s, QStringList{QFINDTESTDATA("accessibility_tree.py"),
                                                    QString::number(QCoreApplication::applicationPid())} +
                                            arguments);
    if (!reader.waitForStarted() || !finished.wait(60'000)) {
        reader.kill();
        reader.waitForFinished();
        return {-1, {}};
    }
    return {reader.exitStatus() == QProcess::NormalExit ? reader.exitCode() : -1, reader.readAllStandardOutput()};
}

// This process's tree, from the application down to what is on screen; nothing when it could not be read.
std::optional<Element> readTree()
{
    const auto [exitCode, output] = runReader({});
    if (exitCode != 0)
        return std::nullopt;
    return Element::fromJson(QJsonDocument::fromJson(output).object());
}

// The element that took the keyboard, as a screen reader learns of it.
struct TakenFocus
{
    QString role;
    QString name;
    bool held = false; // the tree holds it: each element up to the application is among its parent's children
};

// Does `press` while the reading script listens; the element that then takes the keyboard.
std::optional<TakenFocus> nextFocus(const std::function<void()> &press)
{
    QProcess reader;
    reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QSignalSpy finished(&reader, &QProcess::finished);
    reader.start(u"/usr/bin/python3"_s, {QFINDTESTDATA("accessibility_tree.py"),
                                         QString::number(QCoreApplication::applicationPid()), u"focus"_s});
    const bool listens = reader.waitForStarted() && QTest::qWaitFor([&] { return reader.canReadLine(); }, 60'000) &&
                         reader.readLine().trimmed() == "ready";
    if (listens)
        press();
    if (!listens || !finished.wait(90'000) || reader.exitCode() != 0) {
        reader.kill();
        reader.waitForFinished();
        return std::nullopt;
    }
    const QJsonObject taken = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
    return TakenFocus{taken.value("role"_L1).toString(), taken.value("name"_L1).toString(),
                      taken.value("held"_L1).toBool()};
}

// Performs `action` on the element with `role` and `name` over AT-SPI, as an assistive tool does.
bool performAction(const QString &role, const QString &name, const QString &action)
{
    return runReader({role, name, action}).first == 0;
}

// What a check looks for: a window of the application or an open popup, with `windowName` and `windowRole` (any when
// empty), holding elements of `itemRole` named by each of `itemNames`.
struct Sought
{
    QString windowName;
    QString windowRole;
    QString itemRole;
    QStringList itemNames;

    bool isIn(const Element &tree) const
    {
        return std::any_of(tree.children.begin(), tree.children.end(), [this](const Element &window) {
            const QStringList names = window.names(itemRole);
            return (windowName.isEmpty() || window.name == windowName) &&
                   (windowRole.isEmpty() || window.role == windowRole) &&
                   std::all_of(itemNames.begin(), itemNames.end(),
                               [&](const QString &name) { return names.contains(name); });
        });
    }
};

// Reads the tree until it shows `sought`, within a bound. Otherwise false, with the windows last read in `report`.
bool treeShows(const Sought &sought, QString *report)
{
    std::optional<Element> tree;
    if (QTest::qWaitFor([&] { return (tree = readTree()) && sought.isIn(*tree); }, 30'000))
        return true;
    QStringList windows;
    for (const Element &window : tree ? tree->children : QList<Element>())
        windows.append(window.role + u" \""_s + window.name + u"\": "_s + window.names({}).join(u" | "_s));
    *report = tree ? windows.join(u"\n"_s) : u"(no tree)"_s;
    return false;
}

// Reads the tree until its element with `role` (any when empty) and `name` passes `check`, within a bound. Otherwise
// false, with that element's states and description as last read in `report`.
bool elementShows(const QString &role, const QString &name, const std::function<bool(const Element &)> &check,
                  QString *report)
{
    std::optional<Element> element;
    if (QTest::qWaitFor(
            [&] {
                const std::optional<Element> tree = readTree();
                element = tree ? tree->find(role, name) : std::nullopt;
                return element && check(*element);
            },
            30'000))
        return true;
    *report = element ? name + u": "_s + element->states.join(u' ') + u" | "_s + element->description
                      : name + u" not found"_s;
    return false;
}

// Looks for `sought` in the tree while the next popup window is open, and closes the popup then: a menu opened by
// its button keeps the caller in a loop of its own until it closes.
class PopupReader : public QObject
{
public:
    explicit PopupReader(Sought sought) : m_sought(std::move(sought)) { qApp->installEventFilter(this); }
    ~PopupReader() override { qApp->removeEventFilter(this); }

    bool hasRead() const { return m_hasRead; }
    bool found() const { return m_found; }
    const QString &report() const { return m_report; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *popup = qobject_cast<QWidget *>(watched);
        if (event->type() == QEvent::Show && popup && popup->windowType() == Qt::Popup && !m_isReading) {
            m_isReading = true;
            QTimer::singleShot(0, this, [this, popup = QPointer<QWidget>(popup)] {
                m_found = treeShows(m_sought, &m_report);
                if (popup)
                    popup->close();
                m_hasRead = true;
            });
        }
        return false;
    }

private:
    Sought m_sought;
    bool m_isReading = false;
    bool m_hasRead = false;
    bool m_found = false;
    QString m_report;
};

// A photo of the phone, 400 by 300.
ManagedMediaItem photo(const QString &id, const QString &name)
{
    return {id,  name, ManagedMediaKind::photo, 2'000'000,   1'700'000'000'000, u"image/jpeg"_s, 400,
            300, 0,    u"DCIM/"_s + name,       std::nullopt};
}

enum class ListShown
{
    files,
    photos,
    trash,
    applications,
};

enum class TabbedScreen
{
    home,
    homeWithDetails,
    homeWithDetailsOpenedBySpace, // 设备详情 reached with Tab and pressed with Space
    filesSection,
    filesSectionOpenedBySpace, // 浏览手机 reached with Tab and pressed with Space
    subfolderOpenedByReturn,   // the files list's folder reached with the arrow keys and opened with Return
    usbPage,
    usbPageWithNothingPaired,
    usbPageScrolledDown,  // with nothing paired, the window at its smallest, scrolled to its foot before Tab comes
    usbPageWithTransfers, // a phone named as the connected one on USB, the connected one known by another serial
    nothingListed,        // no phone paired, none on USB: the keyboard where the window puts it as it opens
    trustedDeviceSheet,   // opened with Space on the sidebar's 管理已信任设备
};

// How many pixels of two pictures of one place differ as far as an eye tells them apart, one of their channels moved
// by an eighth of its range; all of them when the pictures differ in size.
qsizetype countChangedPixels(const QImage &one, const QImage &other)
{
    if (one.size() != other.size())
        return qsizetype(one.width()) * one.height();
    const auto apart = [](QRgb a, QRgb b) {
        return std::max(
                   {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))}) >= 32;
    };
    qsizetype changed = 0;
    for (int y = 0; y < one.height(); ++y) {
        for (int x = 0; x < one.width(); ++x)
            changed += apart(one.pixel(x, y), other.pixel(x, y));
    }
    return changed;
}

// Whether `widget` shows within the shown part of each scrolling page it is on, as much of it as that part holds.
bool isInView(QWidget *widget)
{
    for (QWidget *ancestor = widget->parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        const auto *area = qobject_cast<QScrollArea *>(ancestor);
        if (!area || !area->widget() || !area->widget()->isAncestorOf(widget))
            continue;
        const QRect shown = area->viewport()->rect();
        const QRect place(widget->mapTo(area->viewport(), QPoint(0, 0)), widget->size());
        const QRect seen = shown.intersected(place);
        if (seen.width() < std::min(place.width(), shown.width()) ||
            seen.height() < std::min(place.height(), shown.height()))
            return false;
    }
    return true;
}

// A place Tab stops on as it looks: the widget, and in a view the current item too, where the view shows that it has
// the keyboard.
struct StopLook
{
    QPointer<QWidget> widget;
    QRect item; // in the view's viewport; empty where there is no current item
    QImage whole;
    QImage itemLook;

    static StopLook of(QWidget *widget)
    {
        StopLook look{widget, {}, {}, {}};
        if (const auto *view = qobject_cast<QAbstractItemView *>(widget); view && view->currentIndex().isValid())
            look.item = view->visualRect(view->currentIndex());
        return look.grabbed();
    }

    StopLook grabbed() const
    {
        StopLook look = *this;
        if (widget) {
            look.whole = widget->grab().toImage();
            if (!item.isEmpty())
                look.itemLook = static_cast<QAbstractItemView *>(widget.data())->viewport()->grab(item).toImage();
        }
        return look;
    }

    // The part that looks the same once the keyboard has gone on; nothing when both show that it had the keyboard.
    std::optional<QString> unchangedIn(const StopLook &later) const
    {
        if (countChangedPixels(whole, later.whole) < 20)
            return u"shows no focus"_s;
        if (!item.isEmpty() && countChangedPixels(itemLook, later.itemLook) < 20)
            return u"shows no focus on its current item"_s;
        return std::nullopt;
    }
};

enum class Opening
{
    showMenuAction,
    rightClick,
    pressAction,
};

// What the main window is among: whether the connected phone answers the dashboard's questions (its snapshot first,
// and a folder holding the folder "DCIM", with "b.txt" in it, and "a.txt"; else they wait), whether the phones are
// paired (else no phone is trusted), whether adb lists a phone on USB, and the model that phone states.
struct Surroundings
{
    bool phoneAnswers = false;
    bool paired = true;
    bool phoneOnUSB = true;
    QByteArray usbModel = "Galaxy_S23";
};

// The world of the main window: a connected "Pixel", a trusted "Galaxy" out of reach, and a "Galaxy S23" that the
// fake adb lists on USB; with nothing paired, the phone on USB alone, or nothing at all.
struct MainWindowWorld
{
    StoreFixture transfers;
    QTemporaryDir folder;
    std::unique_ptr<DeviceStore> devices;
    std::unique_ptr<DeviceManagementStore> management;
    std::unique_ptr<QuickSendCoordinator> quickSend;
    std::unique_ptr<MainWindow> window;

    std::optional<ManagementStoreFixture> phone;
    // What the phone's storage root holds, as it answers a listing of it.
    QList<ManagedFileEntry> rootFolder{folderEntry(u"DCIM"_s, u"DCIM"_s), fileEntry(u"a"_s, u"a.txt"_s)};

    explicit MainWindowWorld(const Surroundings &around = {})
    {
        if (around.paired) {
            transfers.saveRegistry({trustedPhone(u"Galaxy"_s, 2)});
            transfers.makePaired();
        } else {
            transfers.make();
        }
        ::writeFile(folder.filePath(u"adb/devices.json"_s),
                    around.phoneOnUSB ? R"([{"serial": "R58N", "model": ")" + around.usbModel + R"("}])" : "[]");
        qputenv("TAVRINE_FAKE_ADB_STATE", folder.filePath(u"adb"_s).toUtf8());
        devices = std::make_unique<DeviceStore>(
            makeDefaultADBClient(), InstallHistoryStore(folder.filePath(u"history.json"_s)),
            DeviceStoreEnvironment{std::make_shared<NoUSBDevices>(), folder.filePath(u"no-companion"_s)});
        DeviceManagementStore *managementStore = nullptr;
        if (around.phoneAnswers) {
            phone.emplace();
            phone->channel->answer = [this](const FakeManagementChannel::Request &request) {
                if (request.action == "device.snapshot"_L1)
                    return FakeManagementChannel::Reply::json(encodeManaged(pixelSnapshot()));
                if (request.action == "files.roots"_L1)
                    return FakeManagementChannel::Reply::json(
                        encodeManaged(ManagedStorageRoots{1, {{u"root"_s, u"内部存储"_s, false, 1, 2}}}));
                if (request.action == "files.list"_L1 && request.object().value("parentId"_L1) == "DCIM"_L1)
                    return FakeManagementChannel::Reply::json(filePageJson(u"DCIM"_s, {fileEntry(u"b"_s, u"b.txt"_s)}));
                if (request.action == "files.list"_L1)
                    return FakeManagementChannel::Reply::json(filePageJson(u"root"_s, rootFolder));
                return FakeManagementChannel::Reply{};
            };
            managementStore = phone->store.get();
        } else {
            management = std::make_unique<DeviceManagementStore>(*transfers.store);
            managementStore = management.get();
        }
        quickSend = std::make_unique<QuickSendCoordinator>(*transfers.store);
        window = std::make_unique<MainWindow>(*devices, *transfers.store, *managementStore, *quickSend);
        window->show();
    }
    ~MainWindowWorld()
    {
        // The dashboard's overview request ends before the stores go.
        transfers.store->failPendingManagementRequests(DeviceManagementRequestError::disconnected());
        static_cast<void>(
            QTest::qWaitFor([this] { return !(phone ? phone->store.get() : management.get())->isLoadingOverview(); }));
        window.reset();
    }
};

// A files pane on the phone's storage root, which lists "a.txt".
struct FilesPaneWorld
{
    ManagementStoreFixture fixture;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<ManagedFilesPane> pane;

    static ManagedFileEntry entry() { return fileEntry(u"a"_s, u"a.txt"_s); }

    FilesPaneWorld()
    {
        fixture.channel->answer = [](const FakeManagementChannel::Request &request) {
            return request.action == "files.list"_L1
                       ? FakeManagementChannel::Reply::json(filePageJson(u"root"_s, {entry()}))
                       : FakeManagementChannel::Reply{};
        };
        QCoro::waitFor(fixture.store->openRoot({u"root"_s, u"内部存储"_s, false, 0}));
        settings = std::make_unique<QSettings>(fixture.folder.filePath(u"settings.ini"_s), QSettings::IniFormat);
        pane = std::make_unique<ManagedFilesPane>(u"Pixel"_s, fixture.store.get(), ManagedContentCategory::allFiles,
                                                  true, false, ManagedFilesPane::Actions{}, settings.get());
        pane->resize(900, 600);
        pane->show();
    }
    QListView *fileView() const { return pane->findChild<ManagedFileBrowser *>()->view(); }
};

} // namespace

// The application as a person with a screen reader meets it: its windows under the real X server, read over AT-SPI
// by a script (accessibility_tree.py) that walks this process's tree and performs actions as assistive tools do.
class TestAccessibilityTree : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != "xcb"_L1)
            QSKIP("the accessibility bus is read under an X server");
        qputenv("TAVRINE_ADB_PATH", QFINDTESTDATA("../android_usb/fake-adb").toUtf8());
        // The process serves its tree once it has found the session's accessibility bus, which the first reader
        // starts.
        QVERIFY2(QTest::qWaitFor([] { return readTree().has_value(); }, 60'000),
                 "this process never appeared among the desktop's accessible applications");
    }

    // Each phone row of the sidebar is read as the phone's name and its state.
    void sidebarRowsAreNamedByPhoneAndState()
    {
        MainWindowWorld world;
        QString report;
        QVERIFY2(
            treeShows({{}, u"frame"_s, u"list item"_s, {u"Pixel，无线已连接"_s, u"Galaxy S23，USB 已连接"_s}}, &report),
            qPrintable(report));
    }

    // The sidebar is a named list whose header, manager row and note are read by their texts.
    void sidebarIsANamedListWithItsTexts()
    {
        MainWindowWorld world;
        QString report;
        QVERIFY2(treeShows({{}, u"frame"_s, u"list"_s, {u"设备列表"_s}}, &report), qPrintable(report));
        QVERIFY2(
            treeShows({{}, u"frame"_s, u"list item"_s, {u"可用设备"_s, u"管理已信任设备"_s, u"文件仅在设备之间传输"_s}},
                      &report),
            qPrintable(report));
    }

    void tabStopsFromTheSidebarAreNamed_data()
    {
        QTest::addColumn<TabbedScreen>("shown");
        QTest::addColumn<QString>("firstStop");         // none where the refresh going on may make it another
        QTest::addColumn<QStringList>("stopsOnTheWay"); // of a walk through every stop of the screen
        const QString manager = u"list item \"管理已信任设备\""_s, sidebar = u"list \"设备列表\""_s;
        QTest::newRow("home section") << TabbedScreen::home << manager << QStringList();
        QTest::newRow("home section with its details, a message and a transfer")
            << TabbedScreen::homeWithDetails << manager
            << QStringList{u"push button \"收起设备详情\""_s, u"push button \"管理可信设备\""_s,
                           u"push button \"关闭\""_s, u"push button \"活动\""_s, sidebar};
        QTest::newRow("home section with its details opened with Space")
            << TabbedScreen::homeWithDetailsOpenedBySpace << u"push button \"发送文件\""_s
            << QStringList{u"push button \"管理可信设备\""_s, manager};
        QTest::newRow("files section") << TabbedScreen::filesSection << manager
                                       << QStringList{u"check box \"所有文件\""_s, u"list \"文件\""_s, sidebar};
        QTest::newRow("files section opened with Space on 浏览手机")
            << TabbedScreen::filesSectionOpenedBySpace << QString()
            << QStringList{manager, u"check box \"所有文件\""_s};
        QTest::newRow("files list of a folder opened with Return")
            << TabbedScreen::subfolderOpenedByReturn << QString() << QStringList{manager, u"check box \"所有文件\""_s};
        QTest::newRow("page of a phone on USB") << TabbedScreen::usbPage << manager << QStringList();
        QTest::newRow("page of a phone on USB with nothing paired")
            << TabbedScreen::usbPageWithNothingPaired << u"push button \"手机已安装，直接连接\""_s
            << QStringList{sidebar};
        QTest::newRow("page of a phone on USB scrolled to its foot")
            << TabbedScreen::usbPageScrolledDown << u"push button \"手机已安装，直接连接\""_s
            << QStringList{u"push button \"设备信息\""_s};
        QTest::newRow("page of a phone on USB that transfers go to, with a file received")
            << TabbedScreen::usbPageWithTransfers << manager
            << QStringList{u"push button \"清除已完成\""_s, u"push button \"在文件管理器中查看\""_s, sidebar};
        QTest::newRow("no phone, from the window's start")
            << TabbedScreen::nothingListed << u"push button \"显示配对码\""_s
            << QStringList{u"push button \"检查 USB 连接\""_s};
        QTest::newRow("trusted-device sheet")
            << TabbedScreen::trustedDeviceSheet << u"push button \"选择 Pixel\""_s
            << QStringList{u"push button \"添加另一台手机\""_s, u"push button \"完成\""_s};
    }

    // From the phone's row in the sidebar to the first control of the screen beside it, each place Tab stops on is
    // told to a screen reader as an element the tree holds, with a name and a role that says what it is, shows within
    // the shown part of a scrolling page, and looks otherwise while it has the keyboard than once the next Tab has
    // taken the keyboard on: a view shows it on its current item. On a screen with more to show, Tab goes on through
    // every place of the screen it stops on and back to where it started. Where a key other than Tab (or the window
    // as it opens) put the keyboard somewhere, the walk starts there, and that place is held to the same.
    void tabStopsFromTheSidebarAreNamed()
    {
        QFETCH(TabbedScreen, shown);
        QFETCH(QString, firstStop);
        QFETCH(QStringList, stopsOnTheWay);
        const bool usbPage = shown == TabbedScreen::usbPage || shown == TabbedScreen::usbPageWithNothingPaired ||
                             shown == TabbedScreen::usbPageScrolledDown || shown == TabbedScreen::usbPageWithTransfers;
        const bool filesSection = shown == TabbedScreen::filesSection || shown == TabbedScreen::subfolderOpenedByReturn;
        const bool wholeScreen = !stopsOnTheWay.isEmpty();
        // Transfers go to a phone on USB where no phone is trusted, or where it is named as the connected phone,
        // which is not that phone where the connected one is known by another serial.
        MainWindowWorld world({.phoneAnswers = shown == TabbedScreen::homeWithDetails ||
                                               shown == TabbedScreen::homeWithDetailsOpenedBySpace || filesSection ||
                                               shown == TabbedScreen::filesSectionOpenedBySpace,
                               .paired = shown != TabbedScreen::usbPageWithNothingPaired &&
                                         shown != TabbedScreen::usbPageScrolledDown &&
                                         shown != TabbedScreen::nothingListed,
                               .phoneOnUSB = shown != TabbedScreen::nothingListed,
                               .usbModel = shown == TabbedScreen::usbPageWithTransfers ? "Pixel" : "Galaxy_S23"});
        if (shown == TabbedScreen::usbPageWithTransfers) {
            world.transfers.store->bindUSBSerial(u"P1X3L"_s, *world.transfers.store->selectedTrustedDeviceID());
            world.transfers.deliver(
                {transferEvent(TransferEventKind::completed, TransferDirection::receiving, u"t1"_s, 1000, 1000)});
        }
        // The page of a phone on USB is taller than the window at its smallest, where it scrolls most.
        if (shown == TabbedScreen::usbPageScrolledDown)
            world.window->resize(MainWindow::minimumWidth, MainWindow::minimumHeight);
        else
            world.window->resize(MainWindow::defaultWidth, MainWindow::defaultHeight);
        world.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(world.window.get()));
        if (shown == TabbedScreen::nothingListed) {
            QTRY_VERIFY(!world.devices->isRefreshing());
        } else {
            // The sidebar lists the phone on USB with what adb tells of it, and the screen beside it shows.
            QTRY_VERIFY_WITH_TIMEOUT(
                !world.devices->devices().isEmpty() && world.devices->devices().first().model.has_value(), 30'000);
            QTRY_VERIFY(world.window->sidebarSelection().has_value() && !world.devices->isRefreshing());
        }
        if (usbPage)
            world.window->setSidebarSelection(SidebarSelection::usbDevice(world.devices->devices().first().id()));
        QPointer<QWidget> screen = world.window->detailPane()->screenWidget();
        QTRY_VERIFY(screen->isVisible());
        auto *dashboard = qobject_cast<DeviceManagementDashboard *>(screen);
        auto *overview = dashboard ? qobject_cast<DeviceOverviewPane *>(dashboard->sectionPane()) : nullptr;
        if (shown == TabbedScreen::homeWithDetails) {
            QTRY_VERIFY(overview->statusCard()->isVisible());
            QTest::mouseClick(overview->detailsButton(), Qt::LeftButton);
            auto *trustedPhones = overview->findChild<TrustedDeviceManager *>();
            QTRY_VERIFY(!trustedPhones->disclosure()->toggle()->rect().isEmpty());
            QTest::mouseClick(trustedPhones->disclosure()->toggle(), Qt::LeftButton);
            world.transfers.store->sendFiles({world.transfers.writeFile(u"a.txt"_s)});
            world.phone->store->setMessage(u"已重命名为“新名字.txt”"_s);
            QTRY_VERIFY(dashboard->activityDock()->isVisible() && dashboard->messageBar()->isVisible());
        } else if (shown == TabbedScreen::homeWithDetailsOpenedBySpace) {
            QTRY_VERIFY(overview->statusCard()->isVisible());
        } else if (shown == TabbedScreen::filesSectionOpenedBySpace) {
            // The files section was opened before, and the phone's root has changed since.
            dashboard->setSection(DashboardSection::content);
            const QListView *files = dashboard->findChild<ManagedFileBrowser *>()->view();
            QTRY_VERIFY_WITH_TIMEOUT(files->isVisible() && files->model()->rowCount() == 2, 30'000);
            dashboard->setSection(DashboardSection::home);
            overview = qobject_cast<DeviceOverviewPane *>(dashboard->sectionPane());
            QTRY_VERIFY(overview->statusCard()->isVisible());
            world.rootFolder.append(fileEntry(u"c"_s, u"c.txt"_s));
        } else if (filesSection) {
            dashboard->setSection(DashboardSection::content);
            const QListView *files = dashboard->findChild<ManagedFileBrowser *>()->view();
            QTRY_VERIFY_WITH_TIMEOUT(files->isVisible() && files->model()->rowCount() == 2, 30'000);
        } else if (shown == TabbedScreen::usbPageScrolledDown) {
            // As far down as the scroll bar goes, as a person drags it.
            QScrollBar *bar = screen->findChild<QScrollArea *>()->verticalScrollBar();
            QTRY_VERIFY(bar->maximum() > 0);
            bar->setValue(bar->maximum());
        } else if (shown == TabbedScreen::usbPageWithTransfers) {
            QTRY_VERIFY(screen->findChild<QWidget *>(u"revealButton"_s)->isVisible() &&
                        screen->findChild<QWidget *>(u"clearFinishedButton"_s)->isVisible());
        }
        const auto isScreenControl = [&screen](const QWidget *widget) {
            return qobject_cast<const QAbstractButton *>(widget) && screen->isAncestorOf(widget);
        };
        const auto tabTo = [](const QWidget *place) {
            for (int presses = 0; presses < 60 && QApplication::focusWidget() && QApplication::focusWidget() != place;
                 ++presses)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            return QApplication::focusWidget() == place;
        };
        QWidget *sidebar = world.window->sidebar();
        if (shown == TabbedScreen::nothingListed)
            QTRY_COMPARE(QApplication::focusWidget(), sidebar);
        else
            sidebar->setFocus(Qt::TabFocusReason);
        // Keys other than Tab that bring the keyboard somewhere, as a person reaches them with Tab.
        if (shown == TabbedScreen::homeWithDetailsOpenedBySpace) {
            QVERIFY(tabTo(overview->detailsButton()));
            QTest::keyClick(overview->detailsButton(), Qt::Key_Space);
            QTRY_VERIFY(overview->findChild<TrustedDeviceManager *>()->isVisible());
        } else if (shown == TabbedScreen::filesSectionOpenedBySpace) {
            const QList<HomeQuickAction *> actions = overview->findChildren<HomeQuickAction *>();
            const auto found = std::find_if(actions.begin(), actions.end(), [](const HomeQuickAction *action) {
                return action->accessibleName() == u"浏览手机"_s;
            });
            QVERIFY(found != actions.end());
            HomeQuickAction *browse = *found;
            QVERIFY(tabTo(browse));
            QTest::keyClick(browse, Qt::Key_Space);
            // The files list shows the folder as last listed, with the keyboard, until the phone's new listing, with
            // a file added meanwhile, takes its place.
            QTRY_VERIFY(dashboard->findChild<ManagedFileBrowser *>());
            const QListView *files = dashboard->findChild<ManagedFileBrowser *>()->view();
            QTRY_VERIFY_WITH_TIMEOUT(files->isVisible() && files->model()->rowCount() == 3, 30'000);
            QCOMPARE(QApplication::focusWidget(), files);
        } else if (shown == TabbedScreen::subfolderOpenedByReturn) {
            QListView *files = dashboard->findChild<ManagedFileBrowser *>()->view();
            QVERIFY(tabTo(files));
            // Down and back up onto the folder, the first row, which selects it.
            QTest::keyClick(files, Qt::Key_Down);
            QTest::keyClick(files, Qt::Key_Up);
            QTest::keyClick(files, Qt::Key_Return);
            QTRY_VERIFY_WITH_TIMEOUT(
                files->model()->rowCount() == 1 && files->model()->index(0, 0).data().toString() == u"b.txt"_s, 30'000);
            // The selection went with the folder, and with it the bar that showed it: the list takes its room back.
            QTRY_VERIFY(!dashboard->findChild<ManagedFilesPane *>()->selectionBar()->isVisible());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QCOMPARE(QApplication::focusWidget(), files);
        } else if (shown == TabbedScreen::trustedDeviceSheet) {
            QWidget *managerRow = sidebar->findChild<SidebarRowButton *>();
            QVERIFY(tabTo(managerRow));
            QTest::keyClick(managerRow, Qt::Key_Space);
            QTRY_VERIFY(world.window->trustedDeviceManagerSheet());
            screen = world.window->trustedDeviceManagerSheet();
            QVERIFY(QTest::qWaitForWindowActive(screen));
            QTRY_VERIFY(screen->isAncestorOf(QApplication::focusWidget()));
        }
        QWidget *start = QApplication::focusWidget();
        QStringList stops, faults;
        // The place that has the keyboard, as it looks, and how the report names it. Where a key or the window's
        // opening put the keyboard, the walk holds that place to what it holds a stop to from the start on; the
        // sidebar's list, given the keyboard by the test, and the sheet's button, given it as the sheet opens, it holds
        // so once Tab comes back to them.
        std::optional<StopLook> keyboardsLook;
        QString keyboardsPlace = u"where the keyboard started"_s;
        const bool heldFromTheStart =
            shown == TabbedScreen::nothingListed || (start != sidebar && shown != TabbedScreen::trustedDeviceSheet);
        if (heldFromTheStart) {
            keyboardsLook = StopLook::of(start);
            if (!isInView(start))
                faults.append(keyboardsPlace + u" out of view"_s);
        }
        const auto checkTheLookLeft = [&] {
            if (const std::optional<QString> unchanged = keyboardsLook->unchangedIn(keyboardsLook->grabbed()))
                faults.append(keyboardsPlace + u" "_s + *unchanged);
        };
        bool passedTheScreen = false, walked = false;
        for (int presses = 0; presses < 60 && !walked; ++presses) {
            const std::optional<TakenFocus> taken =
                nextFocus([] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); });
            if (keyboardsLook)
                checkTheLookLeft();
            QWidget *focused = QApplication::focusWidget();
            QVERIFY(screen);
            passedTheScreen = passedTheScreen || screen->isAncestorOf(focused);
            stops.append(taken ? taken->role + u" \""_s + taken->name + u"\""_s +
                                     (taken->held ? u""_s : u" (out of the tree)"_s)
                               : u"(nothing)"_s);
            keyboardsPlace = stops.last();
            if (!taken || !taken->held || taken->name.trimmed().isEmpty() ||
                QStringList{u"filler"_s, u"unknown"_s, u"panel"_s}.contains(taken->role))
                faults.append(stops.last());
            if (!isInView(focused))
                faults.append(stops.last() + u" out of view"_s);
            keyboardsLook = StopLook::of(focused);
            walked = wholeScreen ? passedTheScreen && focused == start : isScreenControl(focused);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        checkTheLookLeft();
        const QString report = u"stops: "_s + stops.join(u", "_s);
        QVERIFY2(walked, qPrintable(report));
        QVERIFY2(faults.isEmpty(), qPrintable(u"faults: "_s + faults.join(u", "_s) + u"\n"_s + report));
        QVERIFY2(firstStop.isEmpty() || stops.first() == firstStop, qPrintable(report));
        for (const QString &stop : std::as_const(stopsOnTheWay))
            QVERIFY2(stops.contains(stop), qPrintable(stop + u" missing from "_s + report));
    }

    // The pairing sheet is named by the title it shows, also once the title changes.
    void pairingSheetIsNamedByItsTitle()
    {
        MainWindowWorld world;
        world.window->showPairing();
        QString report;
        QCOMPARE(world.transfers.store->phase().kind, TransferStore::Phase::Kind::pairing);
        QVERIFY2(treeShows({u"用手机扫描配对码"_s, u"dialog"_s, {}, {}}, &report), qPrintable(report));
        world.transfers.deliver({linkEvent(TransferEventKind::connecting, {}, {}),
                                 linkEvent(TransferEventKind::awaitingConfirmation, u"Nokia"_s, u"peer-2"_s)});
        QCOMPARE(world.transfers.store->phase().kind, TransferStore::Phase::Kind::awaitingConfirmation);
        QVERIFY2(treeShows({u"确认是同一台设备"_s, u"dialog"_s, {}, {}}, &report), qPrintable(report));
    }

    // The trusted-device sheet's circles say which phone they select.
    void trustedDeviceSheetNamesItsSelectionButtons()
    {
        MainWindowWorld world;
        world.window->showTrustedDeviceManager();
        QString report;
        QVERIFY2(
            treeShows({u"已信任设备"_s, u"dialog"_s, u"push button"_s, {u"选择 Pixel"_s, u"选择 Galaxy"_s}}, &report),
            qPrintable(report));
    }

    // Quick send's floating panel is a dialog named by its title, whose privacy note shows the lock and shield.
    void quickSendPanelIsANamedDialog()
    {
        StoreFixture transfers;
        transfers.make();
        QuickSendCoordinator coordinator(*transfers.store);
        QuickSendPanel panel(&coordinator, transfers.store.get());
        panel.show();
        QString report;
        QVERIFY2(treeShows({u"快速发送"_s, u"dialog"_s, {}, {}}, &report), qPrintable(report));

        const auto *symbol = panel.findChild<QWidget *>(u"quickSendPrivacyRow"_s)->findChild<QLabel *>();
        QCOMPARE(
            symbol->pixmap().toImage(),
            SymbolIcon::pixmap(Symbol::lockShield, ViewColors::secondary(), 12, panel.devicePixelRatioF()).toImage());
    }

    void previewsAreNamedByTheirTitles_data()
    {
        QTest::addColumn<bool>("media");
        QTest::newRow("photo of the phone") << true;
        QTest::newRow("local copy of a phone file") << false;
    }

    // The large photo preview and the quick look at a file are dialogs named by the title they show.
    void previewsAreNamedByTheirTitles()
    {
        QFETCH(bool, media);
        ManagementStoreFixture fixture;
        std::unique_ptr<QWidget> preview;
        if (media) {
            fixture.store->setMediaItems(
                {{u"m1"_s, u"beach.jpg"_s, ManagedMediaKind::photo, 2'000'000, 1'700'000'000'000, u"image/jpeg"_s, 400,
                  300, 0, u"DCIM/beach.jpg"_s, std::nullopt}});
            preview = std::make_unique<ManagedMediaPreview>(*fixture.store, u"m1"_s);
            preview->show();
        } else {
            const QString path = fixture.folder.filePath(u"beach.jpg"_s);
            QVERIFY(writeFile(path, "not a picture"));
            preview.reset(QuickLookWindow::show(path, nullptr));
            QVERIFY(preview);
            preview->setAttribute(Qt::WA_DeleteOnClose, false);
        }
        QString report;
        QVERIFY2(treeShows({u"beach.jpg"_s, u"dialog"_s, {}, {}}, &report), qPrintable(report));
    }

    // Each tile of the photo gallery, which paints its tiles, is a button named by kind and name whose action
    // "预览" opens the item's preview.
    void galleryTilesAreNamedButtons()
    {
        ManagementStoreFixture fixture;
        fixture.channel->connected = false;
        fixture.store->setMediaItems({{u"m1"_s, u"beach.jpg"_s, ManagedMediaKind::photo, 2'000'000, 1'700'000'000'000,
                                       u"image/jpeg"_s, 400, 300, 0, u"DCIM/beach.jpg"_s, std::nullopt},
                                      {u"m2"_s, u"clip.mp4"_s, ManagedMediaKind::video, 9'000'000, 1'700'000'000'000,
                                       u"video/mp4"_s, 1920, 1080, 0, u"DCIM/clip.mp4"_s, 65'000}});
        ManagedMediaGallery gallery(*fixture.store);
        gallery.resize(800, 600);
        gallery.show();
        QString report;
        QVERIFY2(treeShows({{}, {}, u"push button"_s, {u"照片，beach.jpg"_s, u"视频，clip.mp4"_s}}, &report),
                 qPrintable(report));
        QSignalSpy previews(&gallery, &ManagedMediaGallery::previewRequested);
        QVERIFY(performAction(u"push button"_s, u"视频，clip.mp4"_s, u"预览"_s));
        QTRY_COMPARE(previews.size(), 1);
        QCOMPARE(previews.first().first().toString(), u"m2"_s);
    }

    void openMenusAreInTheTree_data()
    {
        QTest::addColumn<Opening>("opening");
        QTest::addColumn<Sought>("sought");
        QStringList fileCommands;
        for (const FileCommandItem &item : entryContextMenuItems(FilesPaneWorld::entry(), 1))
            fileCommands.append(item.title);
        QTest::newRow("the add button's menu, by its show-menu action")
            << Opening::showMenuAction
            << Sought{{}, u"popup menu"_s, u"menu item"_s, {u"选择文件…"_s, u"选择文件夹…"_s}};
        QTest::newRow("a file's context menu")
            << Opening::rightClick << Sought{{}, u"popup menu"_s, u"menu item"_s, fileCommands};
        QTest::newRow("the activity popover, by the dock's press action")
            << Opening::pressAction << Sought{u"活动"_s, {}, u"label"_s, {u"t1.jpg"_s}};
    }

    // An open menu or popover is a window of the application with its items named; a button's show-menu action
    // opens its menu.
    void openMenusAreInTheTree()
    {
        QFETCH(Opening, opening);
        QFETCH(Sought, sought);
        FilesPaneWorld files;
        StoreFixture transfers;
        transfers.saveTasks(
            {taskRecord(u"t1"_s, TransferTaskRecord::Direction::sending, TransferTaskRecord::Status::completed)});
        transfers.make();
        TransferActivityDock dock(transfers.store.get());
        dock.show();

        PopupReader reader(sought);
        switch (opening) {
        case Opening::showMenuAction:
            QTRY_VERIFY(files.pane->toolbar()->addMenuButton()->isEnabled());
            QVERIFY(performAction(u"push button"_s, u"添加到手机"_s, u"ShowMenu"_s));
            break;
        case Opening::rightClick: {
            QTRY_COMPARE(files.fileView()->model()->rowCount(), 1);
            QVERIFY(QTest::qWaitForWindowExposed(files.pane.get()));
            // Through the window, as the X server delivers a click: the toolkit makes a context menu of it.
            const QRect row = files.fileView()->visualRect(files.fileView()->model()->index(0, 0));
            QTest::mouseClick(files.pane->windowHandle(), Qt::RightButton, {},
                              files.fileView()->viewport()->mapTo(files.pane.get(), row.center()));
            break;
        }
        case Opening::pressAction:
            QVERIFY(performAction(u"push button"_s, u"活动"_s, u"Press"_s));
            break;
        }
        QTRY_VERIFY_WITH_TIMEOUT(reader.hasRead(), 60'000);
        QVERIFY2(reader.found(), qPrintable(reader.report()));
    }

    // With the keyboard in the photo gallery, the tile under it is the focused element, and only it of the tiles.
    void galleryTileUnderTheKeyboardIsFocused()
    {
        ManagementStoreFixture fixture;
        fixture.channel->connected = false;
        fixture.store->setMediaItems({photo(u"m1"_s, u"beach.jpg"_s), photo(u"m2"_s, u"dunes.jpg"_s)});
        ManagedMediaGallery gallery(*fixture.store);
        gallery.resize(800, 600);
        gallery.show();
        gallery.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&gallery));
        gallery.setFocus();
        QTest::keyClick(&gallery, Qt::Key_Right);
        const auto focused = [](const Element &element) {
            return element.states.contains(u"focused"_s);
        };
        QString report;
        QVERIFY2(elementShows(u"push button"_s, u"照片，dunes.jpg"_s, focused, &report), qPrintable(report));
        QVERIFY2(elementShows(u"push button"_s, u"照片，beach.jpg"_s, std::not_fn(focused), &report),
                 qPrintable(report));
    }

    // The category chips say which one is shown: it is checked, the others are not.
    void categoryChipsSayWhichIsCurrent()
    {
        FilesPaneWorld files;
        const auto checked = [](const Element &element) {
            return element.states.contains(u"checked"_s);
        };
        QString report;
        QVERIFY2(elementShows({}, u"所有文件"_s, checked, &report), qPrintable(report));
        QVERIFY2(elementShows({}, u"照片"_s, std::not_fn(checked), &report), qPrintable(report));
        files.pane->toolbar()->chip(ManagedContentCategory::photos)->click();
        QVERIFY2(elementShows({}, u"照片"_s, checked, &report), qPrintable(report));
        QVERIFY2(elementShows({}, u"所有文件"_s, std::not_fn(checked), &report), qPrintable(report));
    }

    void listsAreNamed_data()
    {
        QTest::addColumn<ListShown>("shown");
        QTest::addColumn<QString>("name");
        QTest::newRow("files") << ListShown::files << u"文件"_s;
        QTest::newRow("photos") << ListShown::photos << u"照片"_s;
        QTest::newRow("trash") << ListShown::trash << u"回收站"_s;
        QTest::newRow("applications") << ListShown::applications << u"应用"_s;
    }

    // Every list of the phone's content is named by what it holds.
    void listsAreNamed()
    {
        QFETCH(ListShown, shown);
        QFETCH(QString, name);
        ManagementStoreFixture fixture;
        fixture.channel->connected = false;
        std::unique_ptr<DeviceStore> devices;
        std::unique_ptr<QWidget> list;
        switch (shown) {
        case ListShown::files: {
            auto browser = std::make_unique<ManagedFileBrowser>(fixture.store.get());
            browser->setEntries({FilesPaneWorld::entry()});
            list = std::move(browser);
            break;
        }
        case ListShown::photos:
            fixture.store->setMediaItems({photo(u"m1"_s, u"beach.jpg"_s)});
            list = std::make_unique<ManagedMediaGallery>(*fixture.store);
            break;
        case ListShown::trash:
            list = std::make_unique<ManagedTrashList>(fixture.store.get());
            break;
        case ListShown::applications:
            devices = std::make_unique<DeviceStore>(
                makeDefaultADBClient(), InstallHistoryStore(fixture.folder.filePath(u"history.json"_s)),
                DeviceStoreEnvironment{std::make_shared<NoUSBDevices>(), fixture.folder.filePath(u"no-companion"_s)});
            fixture.channel->connected = true;
            fixture.channel->answer = [](const FakeManagementChannel::Request &) {
                return FakeManagementChannel::Reply::json(encodeManaged(
                    ManagedApplicationPage{1, {{u"pkg.maps"_s, u"Maps"_s, u"1.0"_s, 1, 0, 0, false, true, true}}, {}}));
            };
            QCoro::waitFor(fixture.store->loadApplications());
            list = std::make_unique<ManagedApplicationsPane>(u"Pixel"_s, fixture.store.get(), devices.get(), true,
                                                             false, ManagedApplicationsPane::Actions{});
            break;
        }
        list->resize(800, 500);
        list->show();
        QString report;
        QVERIFY2(treeShows({{}, {}, u"list"_s, {name}}, &report), qPrintable(report));
    }

    // A trash row is read with where its item came from and when it was deleted, and its "恢复" restores it.
    void trashRowIsRestoredByItsAction()
    {
        ManagementStoreFixture fixture;
        fixture.channel->answer = [](const FakeManagementChannel::Request &request) {
            return FakeManagementChannel::Reply::json(
                request.action == u"files.trash.list"_s ? encodeManaged(ManagedTrashPage{1, {}, {}}) : QJsonObject());
        };
        const ManagedTrashEntry entry{u"t1"_s, u"周报_第01周.txt"_s, u"parent"_s, u"/Documents"_s, u"root"_s, false,
                                      3,       1'700'000'000'000};
        fixture.store->setTrashEntries({entry});
        ManagedTrashList list(fixture.store.get());
        list.resize(700, 400);
        list.show();
        const QString name = entry.originalName + u"，"_s + trashRowDetail(entry);
        QVERIFY(name.contains(u"原位置：/Documents · "_s));
        QString report;
        QVERIFY2(treeShows({{}, {}, u"list item"_s, {name}}, &report), qPrintable(report));
        QVERIFY(performAction(u"list item"_s, name, u"恢复"_s));
        QTRY_COMPARE(fixture.channel->count(u"files.trash.restore"_s), 1);
        QTRY_VERIFY(!fixture.store->isLoadingTrash() && fixture.store->trashEntries().isEmpty());
    }

    // The activity popover lists its tasks in the order it shows them, the newest first also for a task that
    // arrives while it is open, and a name is described as it stands, whatever markup it looks like.
    void activityPopoverReadsInTheOrderShown()
    {
        StoreFixture transfers;
        transfers.saveTasks(
            {taskRecord(u"t1"_s, TransferTaskRecord::Direction::sending, TransferTaskRecord::Status::completed)});
        transfers.makePaired();
        TransferActivityDock dock(transfers.store.get());
        dock.show();
        dock.setShowingActivity(true);
        const QString marked = u"<b>周报</b>.txt"_s;
        transfers.deliver({{TransferEventKind::receiving,
                            TransferDirection::receiving,
                            u"incoming"_s,
                            marked,
                            250,
                            1000,
                            {},
                            {},
                            {}}});
        QTRY_COMPARE(transfers.store->tasks().size(), 2);
        QCOMPARE(transfers.store->tasks().first().fileName, marked);

        QString report;
        QVERIFY2(
            elementShows(
                u"label"_s, marked, [&](const Element &element) { return element.description == marked; }, &report),
            qPrintable(report));
        const std::optional<Element> tree = readTree();
        QVERIFY(tree);
        // The dock, named "活动" too, is a window of its own here.
        const auto popover = std::find_if(tree->children.cbegin(), tree->children.cend(), [](const Element &window) {
            return window.name == u"活动"_s && window.names(u"label"_s).contains(u"t1.jpg"_s);
        });
        QVERIFY(popover != tree->children.cend());
        const QStringList labels = popover->names(u"label"_s);
        QVERIFY2(labels.indexOf(marked) >= 0 && labels.indexOf(marked) < labels.indexOf(u"t1.jpg"_s),
                 qPrintable(labels.join(u" | "_s)));
        dock.setShowingActivity(false);
    }
};

int main(int argc, char *argv[])
{
    // The tree is read from the X server's session, where assistive tools find it.
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    ApplicationAccessible::install();
    QApplication application(argc, argv);
    // As the application's event loop does when it starts; the tests turn loops of their own.
    QAccessible::setRootObject(&application);
    TestAccessibilityTree test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_accessibility_tree.moc"

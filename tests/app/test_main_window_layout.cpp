#include "../android_usb_views/UsbViewsTestSupport.h"
#include "../device_management/ManagementStoreFixture.h"
#include "ClampedLabel.h"
#include "DefaultADBClient.h"
#include "DeviceDashboard.h"
#include "DeviceHero.h"
#include "DeviceManagementDashboard.h"
#include "DeviceOverviewPane.h"
#include "DisclosureGroup.h"
#include "ElidedLabel.h"
#include "MainWindow.h"
#include "MainWindowDetailPane.h"
#include "ManagedApplicationsPane.h"
#include "ManagedFileBrowser.h"
#include "ManagedFilesPane.h"
#include "ManagementMessageBar.h"
#include "QuickSendCoordinator.h"
#include "SelectableWrappedText.h"
#include "StatusBanner.h"
#include "TransferActivityDock.h"
#include "USBApprovalView.h"
#include "USBPhoneProblemBanner.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTextBlock>
#include <QTextDocument>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Section = DashboardSection;

Q_DECLARE_METATYPE(DashboardSection)

namespace {

const QSize defaultSize(MainWindow::defaultWidth, MainWindow::defaultHeight);

// A phone with a folder of 40 files and two applications.
Reply phone(const FakeManagementChannel::Request &request)
{
    if (request.action == u"device.snapshot")
        return Reply::json(encodeManaged(pixelSnapshot()));
    if (request.action == u"files.roots")
        return Reply::json(encodeManaged(ManagedStorageRoots{1, {{u"root"_s, u"内部存储"_s, false, 1, 2}}}));
    if (request.action == u"files.list") {
        QList<ManagedFileEntry> entries;
        for (int index = 0; index < 40; ++index)
            entries.append(fileEntry(QString::number(index), u"file %1.txt"_s.arg(index)));
        return Reply::json(filePageJson(u"root"_s, entries));
    }
    if (request.action == u"apps.list") {
        return Reply::json(encodeManaged(ManagedApplicationPage{
            1,
            {{u"com.example.family.photo.organizer.backup"_s, u"Family Photo Organizer and Backup Assistant"_s,
              u"2024.12.28-beta.7"_s, 20241228, 1, 2, false, true, true},
             {u"com.example.notes"_s, u"记事本"_s, u"1.0"_s, 10, 1, 2, false, true, true}},
            std::nullopt}));
    }
    return Reply{};
}

// The phones around the window: those on the USB bus, whether the trusted phone is paired and connected, and whether
// another adb program holds the bus's phones.
struct Surroundings
{
    std::shared_ptr<const USBDeviceRegistry> usb = std::make_shared<UsbViewsTestSupport::NoUSBDevices>();
    bool paired = true;
    std::function<bool()> otherADBServerRunning = [] {
        return false;
    };
};

// The main window over the phones of `surroundings`, with the menus the scene gives it, at `size`, showing the
// trusted phone's dashboard when it is paired.
struct ShownWindow
{
    explicit ShownWindow(const QSize &size, Surroundings given = {}) : surroundings(std::move(given))
    {
        management.channel->answer = phone;
        window.menuBar()->addMenu(u"TavrineMac"_s);
        window.menuBar()->addMenu(u"文件"_s);
        window.resize(size);
        if (surroundings.paired)
            window.setSidebarSelection(SidebarSelection::trustedDevice(transferStore.trustedDevices().first().id));
        window.show();
    }

    // The window's look for USB phones ends before its stores go.
    ~ShownWindow()
    {
        window.hide();
        if (!QTest::qWaitFor([this] { return !devices.isRefreshing(); }, 30'000))
            qCritical("the look for USB phones did not end within 30 s");
    }

    DeviceManagementDashboard *dashboard() const
    {
        return qobject_cast<DeviceManagementDashboard *>(window.detailPane()->screenWidget());
    }
    bool idle() const
    {
        const DeviceManagementStore &store = *management.store;
        return !store.isLoadingOverview() && !store.isLoadingFiles() && !store.isLoadingApplications();
    }
    // The dashboard in `section`, once the phone's answers are in.
    bool showSection(Section section)
    {
        if (!QTest::qWaitForWindowExposed(&window) || !QTest::qWaitFor([this] { return dashboard(); }))
            return false;
        dashboard()->setSection(section);
        return QTest::qWaitFor([this] { return idle() && management.store->snapshot(); }, 30'000);
    }

    const Surroundings surroundings;
    StoreFixture transfers;
    TransferStore &transferStore = surroundings.paired ? transfers.makePaired() : transfers.make();
    ManagementStoreFixture management;
    QTemporaryDir folder;
    DeviceStore devices{makeDefaultADBClient(),
                        InstallHistoryStore(folder.filePath(u"history.json"_s)),
                        {surroundings.usb, folder.filePath(u"no-companion"_s), surroundings.otherADBServerRunning}};
    QuickSendCoordinator quickSend{transferStore};
    MainWindow window{devices, transferStore, *management.store, quickSend};
};

// `widget`'s rectangle in `ancestor`'s coordinates.
QRect rectIn(const QWidget *widget, const QWidget *ancestor)
{
    return QRect(widget->mapTo(ancestor, QPoint(0, 0)), widget->size());
}

// Rows of a test run in the window as it opens and at its smallest.
void windowSizeRows()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("default") << defaultSize;
    QTest::newRow("smallest") << QSize(MainWindow::minimumWidth, MainWindow::minimumHeight);
}

} // namespace

// The window as it opens, and a large one: what a person came for fills it.
class MainWindowLayoutTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_adbState;

private slots:
    void initTestCase()
    {
        qputenv("TAVRINE_ADB_PATH", QFINDTESTDATA("../android_usb/fake-adb").toUtf8());
        qputenv("TAVRINE_FAKE_ADB_STATE", m_adbState.path().toUtf8());
        QVERIFY(writeFile(m_adbState.filePath(u"devices.json"_s), "[]"));
    }

    void nothingKeepsEmptyRoom_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<Section>("section");
        for (const auto &[name, size] :
             {std::pair("default", defaultSize), std::pair("1920x1080", QSize(1920, 1080))}) {
            for (const Section section : {Section::home, Section::content, Section::applications})
                QTest::newRow(qPrintable(u"%1 %2"_s.arg(QLatin1StringView(name), rawValue(section))))
                    << size << section;
        }
    }

    // With no message, no task and no selection the section fills the window beside the sidebar: the files list shows
    // at least seven whole rows in the window as it opens, and the home section its device status heading whole.
    void nothingKeepsEmptyRoom()
    {
        QFETCH(QSize, size);
        QFETCH(Section, section);
        ShownWindow shown(size);
        QVERIFY(shown.showSection(section));
        const MainWindowDetailPane *pane = shown.window.detailPane();
        DeviceManagementDashboard *dashboard = shown.dashboard();
        QCOMPARE(shown.window.size(), size);
        QCOMPARE(dashboard->geometry(), pane->rect());
        QCOMPARE(dashboard->sectionPane()->geometry(), dashboard->rect());

        if (auto *files = qobject_cast<ManagedFilesPane *>(dashboard->sectionPane())) {
            QListView *view = static_cast<ManagedFileBrowser *>(files->fileBrowserPage())->view();
            QTRY_COMPARE(view->model()->rowCount(), 40);
            int wholeRows = 0;
            while (view->visualRect(view->model()->index(wholeRows, 0)).bottom() <= view->viewport()->rect().bottom())
                ++wholeRows;
            QVERIFY2(wholeRows >= 7, qPrintable(QString::number(wholeRows)));
            QCOMPARE(rectIn(view, files).bottom(), files->rect().bottom());
        } else if (auto *overview = qobject_cast<DeviceOverviewPane *>(dashboard->sectionPane())) {
            QTRY_VERIFY(overview->statusCard()->isVisible());
            const QLabel *heading = nullptr;
            for (const QLabel *label : overview->statusCard()->findChildren<QLabel *>())
                heading = label->text() == u"设备状态" ? label : heading;
            QVERIFY(heading);
            QWidget *viewport = overview->scrollArea()->viewport();
            QVERIFY2(viewport->rect().contains(rectIn(heading, viewport)),
                     qPrintable(u"%1 in %2"_s.arg(rectIn(heading, viewport).bottom()).arg(viewport->height())));
        } else {
            auto *applications = qobject_cast<ManagedApplicationsPane *>(dashboard->sectionPane());
            QTRY_COMPARE(applications->applicationList()->model()->rowCount(), 2);
            QCOMPARE(rectIn(applications->applicationList(), applications).bottom(), applications->rect().bottom());
        }
    }

    void aMessageCoversNoControl_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<Section>("section");
        QTest::addColumn<QStringList>("bars"); // what shows under the content before the message comes
        const QSize smallest(MainWindow::minimumWidth, MainWindow::minimumHeight);
        for (const Section section : {Section::home, Section::content, Section::applications}) {
            const QString name = rawValue(section);
            QTest::newRow(qPrintable(name)) << defaultSize << section << QStringList();
            QTest::newRow(qPrintable(name + u", a transfer"_s)) << defaultSize << section << QStringList{u"dock"_s};
        }
        QTest::newRow("内容, a transfer and a selection")
            << defaultSize << Section::content << QStringList{u"dock"_s, u"selection"_s};
        QTest::newRow("内容 in the smallest window, a selection")
            << smallest << Section::content << QStringList{u"selection"_s};
    }

    // A message that stays until it is closed takes nothing from the section: each control a click reached before it
    // came is still where it was and a click still reaches it, or, in the lowest rows of a scrolling column, comes into
    // view and reach when scrolled to; in the smallest window the files list gives up its rows before the header does.
    // In the window as it opens the files list still shows five whole rows with the message, a transfer and a
    // selection all under it.
    void aMessageCoversNoControl()
    {
        QFETCH(QSize, size);
        QFETCH(Section, section);
        QFETCH(QStringList, bars);
        ShownWindow shown(size);
        QVERIFY(shown.showSection(section));
        DeviceManagementDashboard *dashboard = shown.dashboard();
        QWidget *pane = dashboard->sectionPane();
        QListView *files = nullptr;
        if (auto *filesPane = qobject_cast<ManagedFilesPane *>(pane)) {
            files = static_cast<ManagedFileBrowser *>(filesPane->fileBrowserPage())->view();
            QTRY_COMPARE(files->model()->rowCount(), 40);
        } else if (auto *applications = qobject_cast<ManagedApplicationsPane *>(pane)) {
            QTRY_COMPARE(applications->applicationList()->model()->rowCount(), 2);
        }
        if (bars.contains(u"dock"_s)) {
            shown.transferStore.sendFiles({shown.transfers.writeFile(u"a.txt"_s)});
            QTRY_VERIFY(dashboard->activityDock()->isVisible());
        }
        if (bars.contains(u"selection"_s)) {
            QTest::mouseClick(files->viewport(), Qt::LeftButton, {},
                              files->visualRect(files->model()->index(0, 0)).center());
            QTRY_VERIFY(static_cast<ManagedFilesPane *>(pane)->selectionBar()->isVisible());
        }
        for (int turn = 0; turn < 3; ++turn)
            QApplication::processEvents();
        const auto reached = [&](QWidget *control) {
            QWidget *hit =
                shown.window.childAt(shown.window.mapFromGlobal(control->mapToGlobal(control->rect().center())));
            return hit == control || control->isAncestorOf(hit);
        };
        QList<QWidget *> controls;
        QList<QPoint> origins;
        for (QWidget *control : pane->findChildren<QWidget *>()) {
            if (control->isVisible() && control->focusPolicy() != Qt::NoFocus && reached(control) &&
                (qobject_cast<QAbstractButton *>(control) || qobject_cast<QLineEdit *>(control) ||
                 qobject_cast<QComboBox *>(control))) {
                controls.append(control);
                origins.append(control->mapToGlobal(QPoint(0, 0)));
            }
        }
        QVERIFY(controls.size() >= 4);

        shown.management.store->setMessage(u"已重命名为“新名字.txt”"_s);
        for (int turn = 0; turn < 3; ++turn)
            QApplication::processEvents();
        QVERIFY(dashboard->messageBar()->isVisible());
        QVERIFY(reached(dashboard->messageBar()->closeButton()));
        QStringList faults;
        for (qsizetype index = 0; index < controls.size(); ++index) {
            QWidget *control = controls[index];
            const auto *button = qobject_cast<QAbstractButton *>(control);
            const QString name = QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name) + u" "_s +
                                 (button ? button->text() : control->objectName());
            if (control->mapToGlobal(QPoint(0, 0)) != origins[index]) {
                faults.append(name + u" moved"_s);
                continue;
            }
            if (reached(control))
                continue;
            // Only the lowest rows of a scrolling column may go out of view, and scrolling brings them back.
            auto *scrollArea = qobject_cast<QScrollArea *>(control->parentWidget());
            for (QWidget *parent = control->parentWidget(); parent && !scrollArea; parent = parent->parentWidget())
                scrollArea = qobject_cast<QScrollArea *>(parent);
            const QWidget *viewport = scrollArea ? scrollArea->viewport() : nullptr;
            if (!viewport || rectIn(control, viewport).center().y() <= viewport->rect().bottom()) {
                faults.append(name + u" covered"_s);
                continue;
            }
            scrollArea->ensureWidgetVisible(control);
            if (!reached(control))
                faults.append(name + u" out of reach"_s);
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u", "_s)));
        if (files && size == defaultSize) {
            int wholeRows = 0;
            while (files->visualRect(files->model()->index(wholeRows, 0)).bottom() <=
                   files->viewport()->rect().bottom())
                ++wholeRows;
            QVERIFY2(wholeRows >= 5, qPrintable(QString::number(wholeRows)));
        }
    }

    // 设备详情 opens the details under the recent content, below the window's lower edge: the page comes up to them,
    // their top in view and as much of them as the window holds.
    void deviceDetailsOpenInView()
    {
        ShownWindow shown(defaultSize);
        QVERIFY(shown.showSection(Section::home));
        auto *overview = qobject_cast<DeviceOverviewPane *>(shown.dashboard()->sectionPane());
        QTRY_VERIFY(overview->statusCard()->isVisible());
        QWidget *viewport = overview->scrollArea()->viewport();
        auto *details = overview->findChild<QWidget *>(u"detailsBlock"_s);
        QVERIFY(details);

        QTest::mouseClick(overview->detailsButton(), Qt::LeftButton);
        QCOMPARE(overview->detailsButton()->text(), u"收起设备详情"_s);
        QVERIFY(details->isVisible());
        const auto inView = [&] {
            const QRect shownDetails = rectIn(details, viewport);
            return shownDetails.top() >= 0 &&
                   (shownDetails.bottom() <= viewport->rect().bottom() || shownDetails.top() <= 24);
        };
        // Layouts follow on the next turns of the event loop.
        for (int turn = 0; turn < 3; ++turn)
            QApplication::processEvents();
        QTRY_VERIFY2(inView(), qPrintable(u"%1..%2 in %3"_s.arg(rectIn(details, viewport).top())
                                              .arg(rectIn(details, viewport).bottom())
                                              .arg(viewport->height())));
    }

    void usbPageBannersMoveNothing_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("the phone approved") << QByteArray("unauthorized") << QByteArray("device");
        QTest::newRow("the phone gone offline") << QByteArray("device") << QByteArray("offline");
    }

    // A USB phone's page as the phone's state changes on its own: the banner that says why it cannot take commands
    // comes or goes under the page, which keeps its place, and takes no room while it is gone.
    void usbPageBannersMoveNothing()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const auto attach = [this](const QByteArray &state) {
            return writeFile(m_adbState.filePath(u"devices.json"_s),
                             R"([{"serial": "R58N", "model": "Galaxy_S23", "state": ")" + state + R"("}])");
        };
        QVERIFY(attach(before));
        ShownWindow shown(defaultSize);
        awaitTask(shown.devices.refresh());
        QCOMPARE(shown.devices.devices().size(), 1);
        shown.window.setSidebarSelection(SidebarSelection::usbDevice(shown.devices.devices().first().id()));
        auto *page = qobject_cast<DeviceDashboard *>(shown.window.detailPane()->screenWidget());
        QVERIFY(page);
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        for (int turn = 0; turn < 3; ++turn)
            QApplication::processEvents();
        const bool bannerBefore = page->stateBanner()->isVisible();
        QCOMPARE(bannerBefore, before != "device");
        QWidget *grid = page->quickActionGrid();
        const QPoint gridOrigin = grid->mapToGlobal(QPoint(0, 0));
        const QPoint heroOrigin = page->hero()->mapToGlobal(QPoint(0, 0));

        QVERIFY(attach(after));
        awaitTask(shown.devices.refresh());
        QCOMPARE(shown.window.detailPane()->screenWidget(), page);
        for (int turn = 0; turn < 3; ++turn)
            QApplication::processEvents();
        QCOMPARE(page->stateBanner()->isVisible(), !bannerBefore);
        QCOMPARE(grid->mapToGlobal(QPoint(0, 0)), gridOrigin);
        QCOMPARE(page->hero()->mapToGlobal(QPoint(0, 0)), heroOrigin);
        if (bannerBefore)
            QCOMPARE(rectIn(page->scrollArea(), page).bottom(), page->rect().bottom());
        QVERIFY(writeFile(m_adbState.filePath(u"devices.json"_s), "[]"));
    }

    // A phone on the bus waits for its approval while another adb program takes the bus's phones: the banner that says
    // so comes under the steps, which stay where they are.
    void usbApprovalProblemMovesNothing()
    {
        struct PhoneOnTheBus : USBDeviceRegistry
        {
            QList<USBRegistryEntry> attachedDevices() const override
            {
                return {{u"18d1"_s, u"4ee7"_s, u"Pixel 7"_s, u"Google"_s, u"HELD"_s, true}};
            }
        };
        bool otherServer = false;
        ShownWindow shown(defaultSize, {std::make_shared<PhoneOnTheBus>(), false, [&otherServer] {
                                            return otherServer;
                                        }});
        awaitTask(shown.devices.refresh());
        auto *approval = qobject_cast<USBApprovalView *>(shown.window.detailPane()->screenWidget());
        QVERIFY(approval);
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        for (int turn = 0; turn < 3; ++turn)
            QApplication::processEvents();
        const QPoint stepsOrigin = approval->stepsCard()->mapToGlobal(QPoint(0, 0));
        auto *banner = approval->findChild<USBPhoneProblemBanner *>();
        QVERIFY(banner && banner->isHidden());

        otherServer = true;
        awaitTask(shown.devices.refresh());
        QCOMPARE(shown.window.detailPane()->screenWidget(), approval);
        for (int turn = 0; turn < 3; ++turn)
            QApplication::processEvents();
        QVERIFY(banner->isVisible());
        QCOMPARE(approval->stepsCard()->mapToGlobal(QPoint(0, 0)), stepsOrigin);
        QVERIFY(rectIn(banner, approval).top() > rectIn(approval->stepsCard(), approval).top());
    }

    void applicationHeaderPlacesEachControl_data() { windowSizeRows(); }

    // The header of the applications section holds the way back, the search field, the scope, 安装 APK and 刷新 in the
    // window as it opens and in the smallest, each in the header and over none of the others.
    void applicationHeaderPlacesEachControl()
    {
        QFETCH(QSize, size);
        ShownWindow shown(size);
        QVERIFY(shown.showSection(Section::applications));
        auto *pane = qobject_cast<ManagedApplicationsPane *>(shown.dashboard()->sectionPane());
        QList<QWidget *> controls;
        for (const QString &name :
             {u"applicationsBackButton"_s, u"applicationSearchField"_s, u"applicationScopePicker"_s,
              u"installAPKButton"_s, u"applicationsRefreshButton"_s}) {
            auto *control = pane->findChild<QWidget *>(name);
            QVERIFY2(control && control->isVisible(), qPrintable(name));
            controls.append(control);
        }
        QWidget *header = controls.first()->parentWidget();
        for (qsizetype first = 0; first < controls.size(); ++first) {
            QVERIFY2(header->rect().contains(controls[first]->geometry()), qPrintable(controls[first]->objectName()));
            for (qsizetype second = first + 1; second < controls.size(); ++second)
                QVERIFY2(!controls[first]->geometry().intersects(controls[second]->geometry()),
                         qPrintable(controls[first]->objectName() + u" over "_s + controls[second]->objectName()));
        }
    }

    void applicationDetailsShowTheirTextsWhole_data() { windowSizeRows(); }

    // A long application name in the details, also with 高级信息 open: every text there shows whole, wrapped, or
    // shortened with its tool tip, and none lies over another or over the icon.
    void applicationDetailsShowTheirTextsWhole()
    {
        QFETCH(QSize, size);
        ShownWindow shown(size);
        QVERIFY(shown.showSection(Section::applications));
        auto *pane = qobject_cast<ManagedApplicationsPane *>(shown.dashboard()->sectionPane());
        QListView *list = pane->applicationList();
        QTRY_COMPARE(list->model()->rowCount(), 2);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(0, 0)).center());
        auto *name = pane->findChild<ClampedLabel *>();
        QTRY_VERIFY(name->isVisible());
        QCOMPARE(name->fullText(), u"Family Photo Organizer and Backup Assistant"_s);
        DisclosureGroup *advanced = nullptr;
        for (DisclosureGroup *group : pane->findChildren<DisclosureGroup *>())
            advanced = group->title() == u"高级信息"_s ? group : advanced;
        QVERIFY(advanced);

        for (const bool open : {false, true}) {
            if (open)
                QTest::mouseClick(advanced->toggle(), Qt::LeftButton);
            for (int turn = 0; turn < 3; ++turn)
                QApplication::processEvents();
            QWidget *details = name->parentWidget();
            QList<QWidget *> texts;
            for (QLabel *label : details->findChildren<QLabel *>()) {
                if (!label->isVisibleTo(details))
                    continue;
                texts.append(label);
                const QString whole = label->text();
                if (label->pixmap().isNull() && whole.isEmpty())
                    continue;
                QVERIFY2(label->height() > 0, qPrintable(whole));
                if (auto *elided = qobject_cast<ElidedLabel *>(label)) {
                    QCOMPARE(elided->toolTip(), whole);
                } else if (auto *clamped = qobject_cast<ClampedLabel *>(label)) {
                    QCOMPARE(clamped->toolTip(), clamped->fullText());
                    const QStringList lines = clamped->text().split(u'\n');
                    QVERIFY(lines.size() <= 2);
                    QVERIFY(lines.last().endsWith(u'…') || clamped->text() == clamped->fullText());
                    for (const QString &line : lines)
                        QVERIFY2(clamped->fontMetrics().horizontalAdvance(line) <= clamped->contentsRect().width(),
                                 qPrintable(line));
                    QVERIFY2(clamped->height() >= lines.size() * clamped->fontMetrics().lineSpacing(),
                             qPrintable(u"%1 high"_s.arg(clamped->height())));
                } else if (label->pixmap().isNull()) {
                    QVERIFY2(label->height() >= (label->wordWrap() ? label->heightForWidth(label->width())
                                                                   : label->fontMetrics().height()),
                             qPrintable(u"%1: %2 high"_s.arg(whole).arg(label->height())));
                    if (!label->wordWrap())
                        QVERIFY2(label->fontMetrics().horizontalAdvance(whole) <= label->contentsRect().width(),
                                 qPrintable(whole));
                }
            }
            auto *package = details->findChild<SelectableWrappedText *>(u"packageName"_s);
            QCOMPARE(package->isVisibleTo(details), open);
            if (open) {
                texts.append(package);
                QCOMPARE(package->text(), u"com.example.family.photo.organizer.backup"_s);
                QVERIFY(package->document()->size().width() <= package->viewport()->width());
                QVERIFY2(package->viewport()->height() >= qCeil(package->document()->size().height()),
                         qPrintable(u"%1 high"_s.arg(package->viewport()->height())));
            }
            for (qsizetype first = 0; first < texts.size(); ++first) {
                for (qsizetype second = first + 1; second < texts.size(); ++second) {
                    const QRect one = rectIn(texts[first], details), other = rectIn(texts[second], details);
                    QVERIFY2(!one.intersects(other),
                             qPrintable(u"%1 over %2"_s.arg(texts[first]->objectName(), texts[second]->objectName())));
                }
            }
        }
    }
};

QTEST_MAIN(MainWindowLayoutTest)
#include "test_main_window_layout.moc"

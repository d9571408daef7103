#include "DefaultADBClient.h"
#include "DeviceManagementDashboard.h"
#include "DeviceManagementStore.h"
#include "DeviceOverviewPane.h"
#include "DeviceStore.h"
#include "FilesPaneToolbar.h"
#include "HomeQuickAction.h"
#include "LinkedStoreFixture.h"
#include "ManagedApplicationsPane.h"
#include "ManagedFileBrowser.h"
#include "ManagedFilesPane.h"
#include "ManagedMediaGallery.h"
#include "ManagedMediaPreview.h"
#include "ManagedSelectionBar.h"
#include "ManagedTrashList.h"
#include "NativeFilePanels.h"
#include "ViewMessageBox.h"

#include <QAction>
#include <QBuffer>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;
using Phase = TransferStore::Phase;
using Category = ManagedContentCategory;

namespace {

// Focus and key events need a real window system; the test session runs an X server.
const bool onTheDisplay = [] {
    if (qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}();

const QString phoneModel = u"Pixel-8"_s;
const QString phoneSerial = u"R58N0JOURNEY"_s;

QByteArray jpeg(const QColor &color)
{
    QImage photo(1600, 1200, QImage::Format_RGB32);
    photo.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    photo.save(&buffer, "JPEG");
    return bytes;
}

struct NoUSBDevices : USBDeviceRegistry
{
    QList<USBRegistryEntry> attachedDevices() const override { return {}; }
};

struct AnsweredDialog
{
    FilesPaneDialog dialog;
    FilesPaneDialogAnswer answer;
};

} // namespace

// The phone dashboard as a person uses it, over the real core and tavrine-phone serving a folder on 127.0.0.1, and
// the same phone on USB through the fake adb. The slots run in order, each one step of the person's way.
class DashboardJourneyTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LinkedStoreFixture> m_link;
    std::unique_ptr<QProcess> m_phone;
    std::unique_ptr<DeviceManagementStore> m_store;
    std::unique_ptr<DeviceStore> m_devices;
    std::unique_ptr<DeviceManagementDashboard> m_dashboard;
    QString m_storage;
    QList<AnsweredDialog> m_dialogs;

    QString storagePath(const QString &relativePath) const { return QDir(m_storage).filePath(relativePath); }
    QString adbState(const QString &name) const { return m_link->folder.filePath(u"adb/"_s + name); }

    ManagedFilesPane *filesPane() const { return qobject_cast<ManagedFilesPane *>(m_dashboard->sectionPane()); }
    ManagedFileBrowser *browser() const { return filesPane()->findChild<ManagedFileBrowser *>(); }
    QListView *view() const { return browser()->view(); }

    QStringList shownNames() const
    {
        QStringList names;
        for (const ManagedFileEntry &entry : browser()->entries())
            names.append(entry.name);
        return names;
    }
    bool shows(const QString &folderName) const
    {
        return m_store->currentPage() && m_store->currentPage()->parentName == folderName && !m_store->isLoadingFiles();
    }
    QRect rowRect(const QString &name) const
    {
        const qsizetype row = shownNames().indexOf(name);
        return row < 0 ? QRect() : view()->visualRect(view()->model()->index(int(row), 0));
    }
    void click(const QString &name, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, modifiers, rowRect(name).center());
    }
    // Double-clicks the folder's row once the list shows it, and waits for its contents. A double click arrives as
    // a click and then a second press that is the double click.
    bool openFolder(const QString &name)
    {
        return QTest::qWaitFor(
                   [&] { return view()->isVisible() && !m_store->isLoadingFiles() && !rowRect(name).isEmpty(); }) &&
               (click(name), QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, rowRect(name).center()),
                QTest::qWaitFor([&] { return shows(name); }));
    }
    QStringList selectedNames() const
    {
        QStringList names;
        for (const ManagedFileEntry &entry : browser()->selectedEntries())
            names.append(entry.name);
        return names;
    }
    // The pane is made again with every section; its dialogs are recorded here and answered by the test.
    void answerDialogsHere()
    {
        filesPane()->setDialogPresenter([this](QWidget *, const FilesPaneDialog &dialog, FilesPaneDialogAnswer answer) {
            m_dialogs.append({dialog, std::move(answer)});
            return QPointer<QWidget>();
        });
    }
    void chooseCategory(Category category)
    {
        filesPane()->toolbar()->chip(category)->click();
        QCOMPARE(m_dashboard->contentCategory(), category);
    }
    // What the person sees now, kept for a person to look at.
    void screenshot(QWidget *widget, const QString &name)
    {
        const QImage picture = widget->grab().toImage();
        QCOMPARE(picture.size(), widget->size() * picture.devicePixelRatio());
        const QString folder = QDir::temp().filePath(u"tavrine-screens"_s);
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(picture.save(QDir(folder).filePath(u"journey-%1.png"_s.arg(name))));
        QVERIFY(QFileInfo(QDir(folder).filePath(u"journey-%1.png"_s.arg(name))).size() > 2000);
    }
    QList<QStringList> adbCommands() const
    {
        QList<QStringList> lines;
        for (const QByteArray &line : contentsOf(adbState(u"commands.log"_s)).trimmed().split('\n'))
            lines.append(QJsonDocument::fromJson(line).toVariant().toStringList());
        return lines;
    }

private slots:
    void initTestCase()
    {
        m_link = std::make_unique<LinkedStoreFixture>();
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_link->makeFolder(u"settings"_s));
        QCoreApplication::setOrganizationName(u"tavrine-journey"_s);

        m_storage = m_link->makeFolder(u"phone-storage"_s);
        QVERIFY(writeFile(storagePath(u"Docs/a.txt"_s), "tiny note"));
        QVERIFY(writeFile(storagePath(u"Docs/mid.bin"_s), QByteArray(500, 'm')));
        m_link->makeFile(u"phone-storage/Docs/big.bin"_s, 30'000, 9);
        QVERIFY(writeFile(storagePath(u"DCIM/beach.jpg"_s), jpeg(Qt::darkCyan)));
        QVERIFY(writeFile(storagePath(u"DCIM/sunset.jpg"_s), jpeg(Qt::darkRed)));
        const QString app =
            uR"({"packageName":"com.example.%1","name":"%1","versionName":"1","versionCode":1,)"
            uR"("firstInstalledAtMillis":1,"updatedAtMillis":2,"system":false,"enabled":true,"launchable":true})"_s;
        QVERIFY(writeFile(storagePath(u".tavrine/applications.json"_s),
                          u"[%1,%2]"_s.arg(app.arg(u"Notes"_s), app.arg(u"Maps"_s)).toUtf8()));

        TransferStore &transfers = m_link->makeStore();
        transfers.beginNewPairing();
        QVERIFY(transfers.pairingPayload());
        m_phone = std::make_unique<QProcess>();
        m_phone->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_phone->start(QCoreApplication::applicationDirPath() + u"/tavrine-phone"_s,
                       {u"pair"_s, u"--url"_s, *transfers.pairingPayload(), u"--storage"_s, m_storage, u"--name"_s,
                        phoneModel, u"--confirm"_s});
        QVERIFY(m_phone->waitForStarted());
        QVERIFY(m_link->waitUntil([&] { return transfers.phase() == Phase::connected(phoneModel); }));
        m_store = std::make_unique<DeviceManagementStore>(transfers);

        // The same phone on USB: the fake adb lists it under the model the phone reports.
        QVERIFY(m_link->makeFolder(u"adb"_s).size());
        qputenv("TAVRINE_ADB_PATH", QFINDTESTDATA("../android_usb/fake-adb").toUtf8());
        qputenv("TAVRINE_FAKE_ADB_STATE", m_link->folder.filePath(u"adb"_s).toUtf8());
        QVERIFY(writeFile(adbState(u"installed/"_s + phoneSerial), "com.example.Maps\n"));
        QVERIFY(writeFile(adbState(u"devices.json"_s),
                          uR"([{"serial": "%1", "model": "%2"}])"_s.arg(phoneSerial, phoneModel).toUtf8()));
        m_devices = std::make_unique<DeviceStore>(
            makeDefaultADBClient(), InstallHistoryStore(m_link->folder.filePath(u"install-history.json"_s)),
            DeviceStoreEnvironment{std::make_shared<NoUSBDevices>(), m_link->folder.filePath(u"no-companion"_s)});
        awaitTask(m_devices->refresh());
        QCOMPARE(m_devices->devices().size(), 1);

        m_dashboard = std::make_unique<DeviceManagementDashboard>(
            phoneModel, &transfers, m_store.get(), m_devices.get(), DeviceManagementDashboard::Actions{});
        m_dashboard->resize(1100, 760);
    }

    void cleanupTestCase()
    {
        m_dashboard.reset();
        if (m_phone) {
            m_phone->write("quit\n");
            m_phone->waitForFinished(10'000);
        }
    }

    void homePageOfThePairedPhone()
    {
        m_dashboard->show();
        m_dashboard->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_dashboard.get()));
        QTRY_VERIFY(m_store->snapshot() && !m_store->isLoadingOverview());
        auto *overview = qobject_cast<DeviceOverviewPane *>(m_dashboard->sectionPane());
        QVERIFY(overview);
        QVERIFY2(overview->connectionLabel()->text().startsWith(u"无线 + USB 已连接"_s),
                 qPrintable(overview->connectionLabel()->text()));
        QCOMPARE(m_store->snapshot()->model, phoneModel);
        screenshot(m_dashboard.get(), u"home"_s);
    }

    void browseIntoAFolderAndBack()
    {
        HomeQuickAction *browse = nullptr;
        for (HomeQuickAction *tile : m_dashboard->findChildren<HomeQuickAction *>())
            browse = tile->text() == u"浏览手机" ? tile : browse;
        QVERIFY(browse);
        browse->click();
        QCOMPARE(m_dashboard->contentCategory(), Category::allFiles);
        answerDialogsHere();
        QTRY_VERIFY(m_store->currentPage() && shownNames().contains(u"Docs"_s));
        const QString rootName = m_store->currentPage()->parentName;

        QVERIFY(openFolder(u"Docs"_s));
        QCOMPARE(shownNames().size(), 3);
        QVERIFY(filesPane()->toolbar()->backButton()->isEnabled());
        filesPane()->toolbar()->backButton()->click();
        QTRY_VERIFY(shows(rootName) && shownNames().contains(u"DCIM"_s));
    }

    void listAndGridAreKeptInTheSettings()
    {
        const QList<QToolButton *> styles = filesPane()->toolbar()->viewStyleButtons();
        QVERIFY(!browser()->isGridPresentation() && styles.at(0)->isChecked());
        styles.at(1)->click();
        QVERIFY(browser()->isGridPresentation() && styles.at(1)->isChecked());
        QCOMPARE(QSettings().value(FileBrowserPreferences::fileViewStyleKey), u"grid"_s);
        QVERIFY(QSettings().fileName().startsWith(m_link->folder.path()));
        screenshot(m_dashboard.get(), u"files-grid"_s);
        styles.at(0)->click();
        QVERIFY(!browser()->isGridPresentation());
        QCOMPARE(QSettings().value(FileBrowserPreferences::fileViewStyleKey), u"list"_s);
    }

    void sortBySize()
    {
        QVERIFY(openFolder(u"Docs"_s));
        for (QAction *action : filesPane()->toolbar()->sortMenuButton()->menu()->actions()) {
            if (action->data() == u"size"_s)
                action->trigger();
        }
        QCOMPARE(QSettings().value(FileBrowserPreferences::fileSortFieldKey), u"size"_s);
        QCOMPARE(shownNames(), QStringList({u"a.txt"_s, u"mid.bin"_s, u"big.bin"_s}));
    }

    void selectWithControlAndShiftClicks()
    {
        view()->setFocus();
        click(u"a.txt"_s);
        click(u"big.bin"_s, Qt::ShiftModifier);
        QCOMPARE(selectedNames(), QStringList({u"a.txt"_s, u"mid.bin"_s, u"big.bin"_s}));
        click(u"mid.bin"_s, Qt::ControlModifier);
        QCOMPARE(selectedNames(), QStringList({u"a.txt"_s, u"big.bin"_s}));
        const auto *bar = filesPane()->findChild<ManagedSelectionBar *>();
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->countLabel()->text(), u"已选择 2 项"_s);
    }

    void rename()
    {
        click(u"a.txt"_s);
        browser()->runCommand(FileCommand::rename, browser()->selectedEntries().first(), browser()->selectedEntries());
        QCOMPARE(m_dialogs.size(), 1);
        QCOMPARE(m_dialogs.last().dialog.kind, FilesPaneDialogKind::rename);
        QCOMPARE(m_dialogs.last().dialog.fieldText, u"a.txt"_s);
        m_dialogs.last().answer(0, u"notes.txt"_s);
        QTRY_VERIFY(shownNames().contains(u"notes.txt"_s) && !m_store->isPerformingFileOperation());
        QVERIFY(!shownNames().contains(u"a.txt"_s));
        QCOMPARE(contentsOf(storagePath(u"Docs/notes.txt"_s)), QByteArray("tiny note"));
        QVERIFY(!QFile::exists(storagePath(u"Docs/a.txt"_s)));
    }

    void newFolder()
    {
        filesPane()->toolbar()->newFolderButton()->click();
        QCOMPARE(m_dialogs.last().dialog.kind, FilesPaneDialogKind::newFolder);
        m_dialogs.last().answer(0, u"Reports"_s);
        QTRY_VERIFY(shownNames().contains(u"Reports"_s));
        QVERIFY(QFileInfo(storagePath(u"Docs/Reports"_s)).isDir());
    }

    void moveToTrashAndRestore()
    {
        click(u"mid.bin"_s);
        QTest::keyClick(view(), Qt::Key_Delete);
        QCOMPARE(m_dialogs.last().dialog.kind, FilesPaneDialogKind::moveToTrash);
        QCOMPARE(m_dialogs.last().dialog.message, u"mid.bin"_s);
        m_dialogs.last().answer(0, {});
        QTRY_VERIFY(!shownNames().contains(u"mid.bin"_s));
        QVERIFY(!QFile::exists(storagePath(u"Docs/mid.bin"_s)));

        chooseCategory(Category::trash);
        auto *trash = filesPane()->findChild<ManagedTrashList *>();
        QTRY_VERIFY(!m_store->isLoadingTrash() && trash->view()->model()->rowCount() == 1);
        QCOMPARE(m_store->trashEntries().first().originalName, u"mid.bin"_s);
        screenshot(m_dashboard.get(), u"trash"_s);
        QTest::mouseClick(trash->view()->viewport(), Qt::LeftButton, {}, trash->restoreButtonRect(0).center());
        QTRY_COMPARE(contentsOf(storagePath(u"Docs/mid.bin"_s)), QByteArray(500, 'm'));
        QTRY_COMPARE(trash->view()->model()->rowCount(), 0);
    }

    void galleryAndPreview()
    {
        chooseCategory(Category::photos);
        auto *gallery = filesPane()->findChild<ManagedMediaGallery *>();
        QTRY_VERIFY(gallery->isVisible() && m_store->mediaItems().size() == 2);
        // The thumbnails the phone made of its photos, kept at what a tile draws.
        for (const ManagedMediaItem &item : m_store->mediaItems()) {
            QTRY_VERIFY(m_store->cachedMediaImage(item));
            QCOMPARE(m_store->cachedMediaImage(item)->size(), QSize(293, 220));
        }
        screenshot(m_dashboard.get(), u"gallery"_s);

        const QString first = m_store->mediaItems().at(0).id, second = m_store->mediaItems().at(1).id;
        QTest::mouseDClick(gallery->viewport(), Qt::LeftButton, {}, gallery->tileRect(0).center().toPoint());
        auto *preview = filesPane()->findChild<ManagedMediaPreview *>();
        QVERIFY(preview);
        QVERIFY(QTest::qWaitForWindowExposed(preview));
        QCOMPARE(preview->selectedMediaID(), first);
        QTRY_VERIFY(m_store->loadingPreviewKeys().isEmpty());
        screenshot(preview, u"preview"_s);
        QTest::keyClick(preview, Qt::Key_Right);
        QCOMPARE(preview->selectedMediaID(), second);
        QCOMPARE(filesPane()->previewedMediaID(), second);
        QTest::keyClick(preview, Qt::Key_Escape);
        QTRY_VERIFY(!filesPane()->previewedMediaID());
        QTRY_VERIFY(m_store->loadingPreviewKeys().isEmpty());
    }

    void downloadAFile()
    {
        chooseCategory(Category::allFiles);
        QTRY_VERIFY(shownNames().contains(u"Docs"_s) && !m_store->isLoadingFiles());
        QVERIFY(shows(u"Docs"_s) || openFolder(u"Docs"_s));
        click(u"big.bin"_s);
        const QString local = m_link->makeFolder(u"downloads"_s) + u"/big.bin"_s;
        NativeFilePanels::setNextAnswer(QStringList{local});
        QPushButton *download = nullptr;
        for (QPushButton *button : filesPane()->findChild<ManagedSelectionBar *>()->actionButtons())
            download = button->text().startsWith(u"下载"_s) ? button : download;
        QVERIFY(download);
        download->click();
        QVERIFY(m_link->waitUntil([&] { return contentsOf(local) == contentsOf(storagePath(u"Docs/big.bin"_s)); }));
    }

    void uninstallThroughThePhone()
    {
        m_dashboard->setSection(DashboardSection::applications);
        auto *pane = qobject_cast<ManagedApplicationsPane *>(m_dashboard->sectionPane());
        QVERIFY(pane);
        QTRY_VERIFY(!m_store->isLoadingApplications() && pane->applicationList()->model()->rowCount() == 2);
        QCOMPARE(pane->usbTargetDevice()->serial, phoneSerial);
        screenshot(m_dashboard.get(), u"applications"_s);

        const auto notes = std::ranges::find(m_store->applications(), u"Notes"_s, &ManagedApplication::name);
        ViewMessageBox::setNextAnswer(QMessageBox::DestructiveRole);
        pane->requestUninstall(*notes);
        QTRY_COMPARE(m_store->message(), u"请点按手机通知，确认卸载 Notes"_s);
        QVERIFY(!contentsOf(storagePath(u".tavrine/applications.json"_s)).contains("Notes"));
        pane->refresh();
        QTRY_VERIFY(!m_store->isLoadingApplications() && pane->applicationList()->model()->rowCount() == 1);
    }

    void clearDataOverUSB()
    {
        auto *pane = qobject_cast<ManagedApplicationsPane *>(m_dashboard->sectionPane());
        ViewMessageBox::setNextAnswer(QMessageBox::DestructiveRole);
        pane->requestClearData(m_store->applications().first());
        QTRY_VERIFY(m_devices->appOperationState().kind != DeviceStore::AppOperationState::Kind::running);
        QVERIFY2(m_devices->appOperationState().kind == DeviceStore::AppOperationState::Kind::succeeded,
                 qPrintable(m_devices->appOperationState().text + contentsOf(adbState(u"commands.log"_s))));
        // The phone is named by the transport id adb lists it with.
        const QStringList clear{u"-t"_s, u"1"_s, u"shell"_s, u"pm"_s, u"clear"_s, u"com.example.Maps"_s};
        QVERIFY2(
            std::ranges::any_of(adbCommands(),
                                [&](const QStringList &line) { return line.join(u' ').endsWith(clear.join(u' ')); }),
            contentsOf(adbState(u"commands.log"_s)).constData());
    }
};

QTEST_MAIN(DashboardJourneyTest)
#include "test_dashboard_journey.moc"

#include "AwaitTask.h"
#include "FilesPaneDialogs.h"
#include "FilesPaneToolbar.h"
#include "ManagedFilesPane.h"
#include "ManagedFilesPanePresentation.h"
#include "ManagementStoreFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QSettings>
#include <QTest>
#include <QToolButton>

using Kind = FilesPaneContent::Kind;

class TestManagedFilesPane : public QObject
{
    Q_OBJECT

private slots:
    void stateContent_data()
    {
        QTest::addColumn<ManagedContentCategory>("category");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<FilesPaneStoreValues>("store");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("description");
        using C = ManagedContentCategory;
        FilesPaneStoreValues none;
        FilesPaneStoreValues denied;
        denied.hasSnapshot = true;
        FilesPaneStoreValues loadingFiles;
        loadingFiles.isLoadingFiles = true;
        FilesPaneStoreValues pageWhileLoading = loadingFiles;
        pageWhileLoading.hasCurrentPage = true;
        FilesPaneStoreValues failed;
        failed.errorMessage = QStringLiteral("超时");
        FilesPaneStoreValues photosLoadedVideosLoading;
        photosLoadedVideosLoading.isLoadingMedia = true;
        photosLoadedVideosLoading.loadedMediaKind = ManagedMediaKind::photo;
        photosLoadedVideosLoading.hasMediaItems = true;
        FilesPaneStoreValues photosLoaded = photosLoadedVideosLoading;
        photosLoaded.isLoadingMedia = false;
        FilesPaneStoreValues emptySearch;
        emptySearch.loadedMediaKind = ManagedMediaKind::photo;
        emptySearch.mediaQuery = QStringLiteral("cat");
        emptySearch.listedMediaQuery = QStringLiteral("cat");
        FilesPaneStoreValues searchTypedSince = emptySearch;
        searchTypedSince.listedMediaQuery.clear();
        FilesPaneStoreValues searchCleared = emptySearch;
        searchCleared.mediaQuery.clear();
        FilesPaneStoreValues trashLoading;
        trashLoading.isLoadingTrash = true;
        const int placeholder = int(Kind::placeholder), loading = int(Kind::loading);
        QTest::newRow("USB only") << C::allFiles << false << none << "" << placeholder << "手机端 Tavrine 未连接"
                                  << "请在手机上打开 Tavrine，并让手机与电脑保持在同一个 Wi-Fi。";
        QTest::newRow("permission hides trash")
            << C::trash << true << denied << "" << placeholder << "需要在手机上允许文件管理"
            << "打开手机上的 Tavrine，点击“允许管理文件”。只需设置一次。";
        QTest::newRow("files loading") << C::downloads << true << loadingFiles << "" << loading << "正在读取手机文件…"
                                       << "";
        QTest::newRow("older page stays")
            << C::documents << true << pageWhileLoading << "" << int(Kind::fileBrowser) << ""
            << "";
        QTest::newRow("no page, no error") << C::allFiles << true << none << "" << placeholder << "无法读取手机文件"
                                           << "请确认手机仍然在线。";
        QTest::newRow("no page, error") << C::allFiles << true << failed << "" << placeholder << "无法读取手机文件"
                                        << "超时";
        QTest::newRow("videos loading over photos")
            << C::videos << true << photosLoadedVideosLoading << "" << loading << "正在整理视频…"
            << "";
        QTest::newRow("videos over loaded photos")
            << C::videos << true << photosLoaded << "" << placeholder << "没有视频"
            << "";
        QTest::newRow("empty search") << C::photos << true << emptySearch << "" << placeholder << "没有匹配的内容"
                                      << "";
        // The empty title belongs to the search the list was made with, not to the field's text.
        QTest::newRow("search typed, not yet sent")
            << C::photos << true << searchTypedSince << "" << placeholder << "没有照片"
            << "";
        QTest::newRow("search cleared, not yet listed again")
            << C::photos << true << searchCleared << "" << placeholder << "没有匹配的内容"
            << "";
        QTest::newRow("photos shown") << C::photos << true << photosLoaded << "grid" << int(Kind::mediaGallery) << ""
                                      << "";
        QTest::newRow("trash loading") << C::trash << true << trashLoading << "" << loading << "正在读取回收站…"
                                       << "";
    }

    void stateContent()
    {
        QFETCH(ManagedContentCategory, category);
        QFETCH(bool, connected);
        QFETCH(FilesPaneStoreValues, store);
        QFETCH(QString, layout);
        const FilesPaneContent content = filesPaneStateContent(category, connected, true, store, layout);
        QFETCH(int, kind);
        QCOMPARE(int(content.kind), kind);
        QTEST(content.title, "title");
        QTEST(content.description, "description");
        QVERIFY(!content.compactGallery);
        QCOMPARE(filesPaneStateContent(category, false, false, store, layout).title, QStringLiteral("手机未连接"));
    }

    void trashConfirmationTexts()
    {
        const auto file = [](const QString &name) {
            return fileEntry(name, name);
        };
        QCOMPARE(FilesPaneDialogs::moveToTrash({folderEntry("d", "相册")}).message, QStringLiteral("相册"));
        QCOMPARE(FilesPaneDialogs::moveToTrash({folderEntry("d", "相册")}).title,
                 QStringLiteral("移到 Tavrine 回收站？"));
        const FilesPaneDialog two = FilesPaneDialogs::moveToTrash({file("a"), file("b")});
        QCOMPARE(two.title, QStringLiteral("将 2 项移到 Tavrine 回收站？"));
        QCOMPARE(two.message, QStringLiteral("2 个文件；之后仍可从 Tavrine 回收站恢复。"));
        QCOMPARE(FilesPaneDialogs::trashConfirmationMessage({file("a"), file("b"), folderEntry("d", "d"), file("c")}),
                 QStringLiteral("3 个文件、1 个文件夹；之后仍可从 Tavrine 回收站恢复。"));
        QCOMPARE(FilesPaneDialogs::renamePolicy(1), ManagedConflictPolicy::keepBoth);
        QCOMPARE(FilesPaneDialogs::emptyTrash().title, QStringLiteral("永久清空 Tavrine 回收站？"));
    }

    void toolbarEnablement()
    {
        FilesPaneStoreValues store;
        store.isLoadingMedia = true;
        FilesPaneToolbarState files = filesPaneToolbarState(ManagedContentCategory::allFiles, false, store, true);
        QVERIFY(!files.searchEnabled && !files.refreshEnabled && !files.headerActionEnabled && !files.newFolderEnabled);
        QCOMPARE(files.folderTitle, QStringLiteral("手机文件"));
        QCOMPARE(files.sortDirectionTitle, QStringLiteral("降序"));
        QVERIFY(!files.pasteTitle);
        store.isLoadingMedia = false;
        store.clipboardCount = 3;
        store.hasCurrentPage = true;
        files = filesPaneToolbarState(ManagedContentCategory::allFiles, true, store, false);
        QVERIFY(files.refreshEnabled && files.headerActionEnabled && files.newFolderEnabled);
        QCOMPARE(files.pasteTitle, QStringLiteral("粘贴 3 项"));
        QCOMPARE(files.sortSymbolName, QStringLiteral("arrow.down.arrow.up"));
        const FilesPaneToolbarState trash = filesPaneToolbarState(ManagedContentCategory::trash, true, store, true);
        QVERIFY(trash.headerAction == FilesPaneToolbarState::HeaderAction::emptyTrash && !trash.headerActionEnabled);
        QVERIFY(!trash.showsFolderToolbar && !trash.showsLayoutPicker);
        const FilesPaneToolbarState photos = filesPaneToolbarState(ManagedContentCategory::photos, true, store, true);
        QVERIFY(photos.headerAction == FilesPaneToolbarState::HeaderAction::none && photos.showsLayoutPicker);
    }

    // Return, Space and Delete act only on the file browser of the files categories; the delete key asks first,
    // and confirming clears the selection before the phone answers.
    void keysAndDialogsOnAFolder()
    {
        ManagementStoreFixture fixture;
        fixture.channel->answer = [](const FakeManagementChannel::Request &request) {
            if (request.action == QStringLiteral("files.list")) {
                return FakeManagementChannel::Reply::json(
                    filePageJson("root", {folderEntry("d", "Docs"), fileEntry("a", "a.txt"), fileEntry("b", "b.txt")}));
            }
            return FakeManagementChannel::Reply{};
        };
        QCoro::waitFor(fixture.store->openRoot({"root", "内部存储", false, 0}));
        QVERIFY(fixture.store->currentPage());
        QSettings settings(fixture.folder.filePath("settings.ini"), QSettings::IniFormat);
        ManagedFilesPane pane("Pixel", fixture.store.get(), ManagedContentCategory::trash, true, false, {}, &settings);
        QList<FilesPaneDialog> shown;
        pane.setDialogPresenter([&shown](QWidget *, const FilesPaneDialog &dialog, FilesPaneDialogAnswer) {
            shown.append(dialog);
            return QPointer<QWidget>();
        });
        pane.setFileSelection({{"a", "b"}, "a"});
        QVERIFY(!pane.handleFileBrowserKey(Qt::Key_Delete));
        QVERIFY(pane.deletingEntries().isEmpty());

        pane.setSelection(ManagedContentCategory::allFiles);
        QVERIFY(pane.selectedFileIDs().isEmpty()); // switching category clears the selection
        pane.setFileSelection({{"a", "b"}, "a"});
        QCOMPARE(pane.selectedEntries().size(), 2);
        QVERIFY(!pane.handleFileBrowserKey(Qt::Key_Return)); // two selected: the key passes on
        QVERIFY(pane.handleFileBrowserKey(Qt::Key_Delete));
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.last().title, QStringLiteral("将 2 项移到 Tavrine 回收站？"));
        pane.confirmMoveToTrash();
        QVERIFY(pane.selectedFileIDs().isEmpty() && !pane.selectionAnchorID());

        pane.setFileSelection({{"d"}, "d"});
        QVERIFY(!pane.handleFileBrowserKey(Qt::Key_Space)); // a folder does not preview
        QVERIFY(pane.handleFileBrowserKey(Qt::Key_Return));
        QTRY_VERIFY(fixture.channel->count("files.list") >= 3);

        pane.setNewFolderName("新的");
        pane.setIsCreatingFolder(true);
        QCOMPARE(shown.last().title, QStringLiteral("新建文件夹"));
        pane.cancelNewFolder();
        QVERIFY(pane.newFolderName().isEmpty() && !pane.isCreatingFolder());
        pane.confirmRestoreReplacing(); // nothing pending: nothing happens
        QCOMPARE(fixture.channel->count("files.trash.restore"), 0);
        QVERIFY(!pane.toolbar()->folderToolbar()->isHidden());
    }

    // A keyboard user tabs through the toolbar: each stop is a control a screen reader can name, never a bare
    // container around the controls.
    void everyTabStopOfTheToolbarIsANamedControl()
    {
        ManagementStoreFixture fixture;
        QSettings settings(fixture.folder.filePath("settings.ini"), QSettings::IniFormat);
        ManagedFilesPane pane("Pixel", fixture.store.get(), ManagedContentCategory::photos, true, false, {}, &settings);
        pane.resize(900, 600);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        int stops = 0;
        const QList<QWidget *> children = pane.toolbar()->findChildren<QWidget *>();
        for (QWidget *widget : children) {
            if (!widget->isVisibleTo(&pane) || !widget->isEnabled() || !(widget->focusPolicy() & Qt::TabFocus)) {
                continue;
            }
            ++stops;
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(accessible);
            QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), widget->metaObject()->className());
        }
        QVERIFY(stops > 0);
    }

    // Tab enters the category chips on the current one, also when the mouse chose it after the arrow keys had moved
    // among them; the arrow keys step to the next chip and show it.
    void tabEntersTheChipsOnTheCurrentOne()
    {
        ManagementStoreFixture fixture;
        fixture.channel->connected = false; // the categories switch without loading
        QSettings settings(fixture.folder.filePath("settings.ini"), QSettings::IniFormat);
        ManagedFilesPane pane("Pixel", fixture.store.get(), ManagedContentCategory::photos, true, false, {}, &settings);
        pane.resize(900, 600);
        pane.show();
        QApplication::setActiveWindow(&pane);
        QVERIFY(QTest::qWaitForWindowActive(&pane));
        const FilesPaneToolbar *toolbar = pane.toolbar();
        toolbar->chip(ManagedContentCategory::photos)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QCOMPARE(pane.selection(), ManagedContentCategory::videos);
        QCOMPARE(QApplication::focusWidget(), toolbar->chip(ManagedContentCategory::videos));

        toolbar->chip(ManagedContentCategory::trash)->click();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QVERIFY(!toolbar->chip(ManagedContentCategory::videos)->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), toolbar->chip(ManagedContentCategory::trash));
    }
};

QTEST_MAIN(TestManagedFilesPane)
#include "test_managed_files_pane.moc"

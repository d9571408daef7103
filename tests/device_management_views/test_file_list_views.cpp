#include "FileSelectionRules.h"
#include "ManagedFileBrowser.h"
#include "ManagedFileListModel.h"
#include "ManagedSelectionBar.h"
#include "ManagementStoreFixture.h"
#include "PhoneFileMimeData.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;

namespace {

QList<ManagedFileEntry> manyEntries(int count)
{
    QList<ManagedFileEntry> entries;
    for (int index = 0; index < count; ++index) {
        entries.append(index % 10 == 0 ? folderEntry(QString::number(index), u"folder %1"_s.arg(index))
                                       : fileEntry(QString::number(index), u"file %1.txt"_s.arg(index)));
    }
    return entries;
}

QStringList menuTitles(QMenu *menu)
{
    QStringList titles;
    for (QAction *action : menu->actions()) {
        if (!action->isSeparator()) {
            titles.append(action->text());
        }
    }
    return titles;
}

} // namespace

class FileListViewsTest : public QObject
{
    Q_OBJECT

private slots:
    void presentations_data()
    {
        QTest::addColumn<bool>("grid");
        QTest::newRow("list") << false;
        QTest::newRow("grid") << true;
    }

    // A folder of 5000 entries paints rows or tiles without a widget per entry, and the empty folder shows its title
    // over either presentation.
    void presentations()
    {
        QFETCH(bool, grid);
        ManagementStoreFixture fixture;
        ManagedFileBrowser browser(fixture.store.get());
        browser.setGridPresentation(grid);
        browser.resize(640, 480);
        browser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        const qsizetype widgetsBefore = browser.findChildren<QWidget *>().size();
        browser.setEntries(manyEntries(5000));
        QCOMPARE(browser.view()->model()->rowCount(), 5000);
        QCOMPARE(browser.findChildren<QWidget *>().size(), widgetsBefore);
        QVERIFY(browser.emptyOverlay()->isHidden());
        const QRect first = browser.view()->visualRect(browser.view()->model()->index(0, 0));
        const QRect second = browser.view()->visualRect(browser.view()->model()->index(1, 0));
        QCOMPARE(second.top() == first.top(), grid); // tiles side by side, rows one under another

        browser.setEntries({});
        QVERIFY(!browser.emptyOverlay()->isHidden());
        QCOMPARE(browser.emptyOverlay()->text(), u"文件夹为空"_s);
        QVERIFY(!browser.view()->model()->flags(browser.view()->model()->index(0, 0)).testFlag(Qt::ItemIsDragEnabled));
    }

    // Grid clicks follow the click rule with the modifiers held; the selection survives a switch to the list, whose
    // own selection writes the ids only.
    void gridClicksAndListSelection()
    {
        ManagementStoreFixture fixture;
        ManagedFileBrowser browser(fixture.store.get());
        browser.setGridPresentation(true);
        browser.resize(800, 600);
        browser.setEntries(manyEntries(12));
        browser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        QWidget *viewport = browser.view()->viewport();
        const auto centre = [&](int row) { return browser.view()->visualRect(browser.model()->index(row)).center(); };
        QSignalSpy changed(&browser, &ManagedFileBrowser::selectionChanged);
        QTest::mouseClick(viewport, Qt::LeftButton, {}, centre(2));
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, centre(5));
        QCOMPARE(browser.selection(), (FileSelection{{u"2"_s, u"3"_s, u"4"_s, u"5"_s}, u"2"_s}));
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, centre(3));
        QCOMPARE(browser.selection(), (FileSelection{{u"2"_s, u"4"_s, u"5"_s}, u"3"_s}));
        QCOMPARE(changed.size(), 3);

        browser.setGridPresentation(false);
        QCOMPARE(browser.view()->selectionModel()->selectedIndexes().size(), 3);
        QTest::mouseClick(viewport, Qt::LeftButton, {}, centre(7));
        QCOMPARE(browser.selection(), (FileSelection{{u"7"_s}, u"3"_s}));
    }

    // Rows and tiles tell a screen reader whether they are selected, whichever way the selection was made.
    void selectionIsHeardOnEachEntry_data()
    {
        QTest::addColumn<bool>("grid");
        QTest::newRow("grid") << true;
        QTest::newRow("list") << false;
    }

    void selectionIsHeardOnEachEntry()
    {
        QFETCH(bool, grid);
        ManagementStoreFixture fixture;
        ManagedFileBrowser browser(fixture.store.get());
        browser.setGridPresentation(grid);
        browser.resize(800, 600);
        browser.setEntries(manyEntries(4));
        browser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        QAccessibleInterface *view = QAccessible::queryAccessibleInterface(browser.view());
        QVERIFY(view && view->tableInterface());
        const auto heard = [&](int row) {
            QAccessibleInterface *cell = view->tableInterface()->cellAt(row, 0);
            return cell ? cell->text(QAccessible::Description) : u"no cell"_s;
        };
        QCOMPARE(heard(1), u"未选择"_s);
        const auto centre = [&](int row) {
            return browser.view()->visualRect(browser.model()->index(row)).center();
        };
        QTest::mouseClick(browser.view()->viewport(), Qt::LeftButton, {}, centre(1));
        QCOMPARE(heard(1), u"已选择"_s);
        QCOMPARE(heard(2), u"未选择"_s);
        QVERIFY(view->tableInterface()->cellAt(1, 0)->state().selected);
        browser.setSelection({{u"2"_s, u"3"_s}, u"2"_s});
        QCOMPARE(heard(1), u"未选择"_s);
        QCOMPARE(heard(3), u"已选择"_s);
        QCOMPARE(heard(2), u"已选择"_s);
        browser.clearSelection();
        QCOMPARE(heard(3), u"未选择"_s);
    }

    // Return opens the one selected folder, Space previews the one selected file once its copy is here, Delete asks
    // about the selection; with nothing usable selected the keys go on.
    void keys()
    {
        ManagementStoreFixture fixture;
        const QString copy = fixture.folder.filePath(u"copy.txt"_s);
        QVERIFY(writeFile(copy, "text"));
        fixture.channel->deliveredPath = [copy](const QString &) { return copy; };
        fixture.channel->answer = [](const FakeManagementChannel::Request &request) {
            return Reply::json(filePageJson(request.object().value(u"parentId"_s).toString(), {}));
        };
        ManagedFileBrowser browser(fixture.store.get());
        const QList<ManagedFileEntry> entries{folderEntry(u"d"_s, u"Docs"_s), fileEntry(u"f"_s, u"a.txt"_s)};
        browser.setEntries(entries);
        QSignalSpy previewed(&browser, &ManagedFileBrowser::previewedFileReady);
        QSignalSpy deleting(&browser, &ManagedFileBrowser::deletingEntriesRequested);

        QVERIFY(!browser.openSelectedEntry());
        browser.requestTrashForSelection();
        QCOMPARE(deleting.size(), 0);
        browser.setSelection({{u"d"_s}, std::nullopt});
        QVERIFY(!browser.previewSelectedFile());
        QVERIFY(browser.openSelectedEntry());
        QTRY_VERIFY(fixture.channel->actions().contains(u"files.list"_s));

        browser.setSelection({{u"f"_s}, std::nullopt});
        QTest::keyClick(browser.view(), Qt::Key_Space);
        QVERIFY(previewed.wait(5000));
        QCOMPARE(previewed.first().first().toString(), copy);

        browser.setSelection({{u"d"_s, u"f"_s}, std::nullopt});
        QVERIFY(!browser.openSelectedEntry());
        QTest::keyClick(browser.view(), Qt::Key_Delete);
        QCOMPARE(deleting.size(), 1);
        QCOMPARE(deleting.first().first().value<QList<ManagedFileEntry>>(), entries);
    }

    // The context menu acts on the selection or the entry alone; its copy keeps the selection, the bar's clears it.
    void contextMenuAndSelectionBar()
    {
        ManagementStoreFixture fixture;
        ManagedFileBrowser browser(fixture.store.get());
        const QList<ManagedFileEntry> entries{fileEntry(u"1"_s, u"a.txt"_s, 1000), fileEntry(u"2"_s, u"b.txt"_s, 24),
                                              folderEntry(u"3"_s, u"c"_s), fileEntry(u"4"_s, u"d.txt"_s)};
        browser.setEntries(entries);
        browser.setSelection({{u"1"_s, u"2"_s, u"3"_s}, std::nullopt});
        ManagedSelectionBar bar(&browser);
        bar.show();
        QCOMPARE(bar.countLabel()->text(), u"已选择 3 项"_s);
        QCOMPARE(bar.bytesLabel()->text(), selectionBytesText(1024).value());

        std::unique_ptr<QMenu> outside(browser.makeEntryContextMenu(entries[3], nullptr));
        QVERIFY(menuTitles(outside.get()).contains(u"重命名"_s));
        std::unique_ptr<QMenu> inside(browser.makeEntryContextMenu(entries[1], nullptr));
        QCOMPARE(menuTitles(inside.get()), (QStringList{u"下载到…"_s, u"复制 3 项"_s, u"移动 3 项"_s, u"移到回收站"_s}));
        inside->actions().at(2)->trigger(); // 复制 3 项
        QCOMPARE(fixture.store->clipboard()->entries, entries.first(3));
        QCOMPARE(browser.selection().selectedFileIDs.size(), 3);

        bar.actionButtons().at(2)->click(); // 移动
        QCOMPARE(fixture.store->clipboard(), (DeviceManagementStore::FileClipboard{entries.first(3), true}));
        QVERIFY(browser.selection().selectedFileIDs.isEmpty());
        QCOMPARE(bar.countLabel()->text(), u"已选择 0 项"_s);
        QVERIFY(!bar.actionButtons().first()->isEnabled());

        bar.resize(1200, 50);
        QVERIFY(bar.showsButtons());
        bar.resize(200, 50);
        QVERIFY(!bar.showsButtons());
    }

    void rightClickKeepsTheSelection_data()
    {
        QTest::addColumn<bool>("grid");
        QTest::newRow("list") << false;
        QTest::newRow("grid") << true;
    }

    // A right click opens the menu of the entry under it, for that entry alone or for the selection it belongs to,
    // and the selection stays as it was.
    void rightClickKeepsTheSelection()
    {
        QFETCH(bool, grid);
        ManagementStoreFixture fixture;
        ManagedFileBrowser browser(fixture.store.get());
        browser.setGridPresentation(grid);
        browser.resize(800, 600);
        browser.setEntries(manyEntries(12));
        browser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        QWidget *viewport = browser.view()->viewport();
        const auto centre = [&](int row) {
            return browser.view()->visualRect(browser.model()->index(row)).center();
        };
        QTest::mouseClick(viewport, Qt::LeftButton, {}, centre(2));
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, centre(4));
        const FileSelection selected = browser.selection();
        QCOMPARE(selected.selectedFileIDs, (QSet<QString>{u"2"_s, u"3"_s, u"4"_s}));

        // Pressed on the window, as the pointer does: the press is followed by the menu.
        const auto rightClick = [&](int row) {
            const QPoint point = viewport->mapTo(&browser, centre(row));
            QTest::mousePress(browser.windowHandle(), Qt::RightButton, {}, point);
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            const QStringList titles = menu ? menuTitles(menu) : QStringList();
            if (menu) {
                menu->close();
            }
            QTest::mouseRelease(browser.windowHandle(), Qt::RightButton, {}, point);
            return titles;
        };
        const QStringList outside = rightClick(7);
        QVERIFY2(outside.contains(u"复制 1 项"_s) && outside.contains(u"重命名"_s), qPrintable(outside.join(u", "_s)));
        QCOMPARE(browser.selection(), selected);
        QVERIFY(rightClick(3).contains(u"复制 3 项"_s));
        QCOMPARE(browser.selection(), selected);
    }

    void dragData_data()
    {
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<bool>("held");
        QTest::newRow("fetched when asked") << true << false;
        QTest::newRow("failed fetch fails the drop") << false << false;
        QTest::newRow("a fetch past the bound fails the drop") << true << true;
    }

    // A dragged file is fetched only when the drop target asks for its URL, within a bound; folders are not dragged.
    void dragData()
    {
        QFETCH(bool, delivered);
        QFETCH(bool, held);
        ManagementStoreFixture fixture;
        const QString copy = fixture.folder.filePath(u"copy.jpg"_s);
        QVERIFY(writeFile(copy, "jpeg"));
        if (delivered) {
            fixture.channel->deliveredPath = [copy](const QString &) { return copy; };
        }
        fixture.channel->hold = held;
        ManagedFileBrowser browser(fixture.store.get());
        QCOMPARE(browser.makeDragData(folderEntry(u"d"_s, u"Docs"_s)), nullptr);

        PhoneFileMimeData data(fixture.store.get(), fileEntry(u"f"_s, u"photo.jpg"_s), std::chrono::milliseconds(200));
        QVERIFY(data.hasUrls());
        QCOMPARE(fixture.channel->downloads.size(), 0);
        const QList<QUrl> urls = data.urls();
        QCOMPARE(fixture.channel->downloads.size(), 1);
        // The drop target gets the copy under the file's name on the phone.
        const QString named = fixture.folder.filePath(u"copy.jpg.named/photo.jpg"_s);
        QCOMPARE(urls, delivered && !held ? QList{QUrl::fromLocalFile(named)} : QList<QUrl>());
        QCOMPARE(contentsOf(named), delivered && !held ? QByteArray("jpeg") : QByteArray("<unreadable>"));
        QCOMPARE(data.exportError(), delivered && !held ? std::nullopt : std::optional(makeFileExportError()));
        data.urls(); // asked again: answered from the first fetch
        QCOMPARE(fixture.channel->downloads.size(), 1);
        fixture.channel->hold = false;
        fixture.channel->release();
        QTRY_VERIFY(!fixture.store->previewLoadingFileID());
    }
};

QTEST_MAIN(FileListViewsTest)
#include "test_file_list_views.moc"

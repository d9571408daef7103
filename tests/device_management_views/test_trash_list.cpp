#include "ManagedTrashList.h"
#include "ManagementStoreFixture.h"
#include "TestSupport.h"
#include "TrashListPresentation.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Title = std::optional<QString>;

namespace {

ManagedTrashEntry trashed(const QString &id, const QString &name, bool directory, std::optional<qint64> size)
{
    return {id, name, u"parent"_s, u"/Download"_s, u"root"_s, directory, size, 1'700'000'000'000};
}

} // namespace

using States = TestTable<bool, QList<ManagedTrashEntry>, QString, bool, Title>;

class TrashListTest : public QObject
{
    Q_OBJECT

private slots:
    void states_data()
    {
        // Loading, entries, search text, whether the loading row shows, the title over the list.
        const States rows;
        const QList<ManagedTrashEntry> one{trashed(u"t1"_s, u"a.txt"_s, false, 3)};
        rows("first load", true, {}, {}, true, u"回收站为空"_s);
        rows("reload keeps the rows", true, one, {}, false, std::nullopt);
        rows("empty trash", false, {}, {}, false, u"回收站为空"_s);
        rows("no match for the search", false, {}, u"x"_s, false, u"没有匹配的项目"_s);
        rows("rows", false, one, u"x"_s, false, std::nullopt);
    }

    // The trash category shows the loading row only during a first load, else the rows and the empty title.
    void states()
    {
        const auto [loading, entries, query, showsLoading, title] = States::fetch();
        ManagementStoreFixture fixture;
        // The entries as the phone listed them for the search.
        const ManagedTrashPage page{1, entries, std::nullopt};
        fixture.channel->answer = [page](const FakeManagementChannel::Request &) {
            return Reply::json(encodeManaged(page));
        };
        fixture.store->setTrashQuery(query);
        awaitTask(fixture.store->loadTrash());
        fixture.store->setIsLoadingTrash(loading);
        ManagedTrashList list(fixture.store.get());
        QCOMPARE(list.showsLoading(), showsLoading);
        QCOMPARE(list.view()->model()->rowCount(), entries.size());
        QCOMPARE(list.emptyOverlay()->isVisibleTo(&list) ? Title(list.emptyOverlay()->text()) : std::nullopt,
                 showsLoading ? std::nullopt : title);
        QCOMPARE(trashEmptyTitle(!entries.isEmpty(), query), title);
    }

    void rowTexts()
    {
        const ManagedTrashEntry folder = trashed(u"t1"_s, u"photo.jpg"_s, true, std::nullopt);
        const ManagedTrashEntry empty = trashed(u"t2"_s, u"notes.txt"_s, false, 0);
        QCOMPARE(trashRowSymbolName(folder), u"folder.fill"_s);
        QCOMPARE(trashRowSymbolName(trashed(u"t3"_s, u"photo.jpg"_s, false, 1)), u"photo"_s);
        QCOMPARE(trashRowSizeText(folder), std::nullopt);
        QVERIFY(trashRowSizeText(empty).has_value());
        QVERIFY(trashRowDetail(empty).startsWith(u"原位置：/Download · "_s));
        QCOMPARE(trashLoadingText(), u"正在读取回收站…"_s);
    }

    // "恢复" and "恢复，同名时保留两个" restore keeping both; "恢复并替换同名项目" only asks the pane.
    void restore()
    {
        ManagementStoreFixture fixture;
        fixture.channel->answer = [](const FakeManagementChannel::Request &request) {
            return Reply::json(request.action == u"files.trash.list"_s ? encodeManaged(ManagedTrashPage{1, {}, {}})
                                                                       : QJsonObject());
        };
        const ManagedTrashEntry entry = trashed(u"t1"_s, u"a.txt"_s, false, 3);
        fixture.store->setTrashEntries({entry});
        ManagedTrashList list(fixture.store.get());
        list.resize(600, 300);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy replacing(&list, &ManagedTrashList::replacingTrashEntryRequested);

        std::unique_ptr<QMenu> menu(list.makeRowMenu(entry, nullptr));
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions().at(0)->text(), u"恢复，同名时保留两个"_s);
        menu->actions().at(1)->trigger();
        QCOMPARE(replacing.size(), 1);
        QCOMPARE(fixture.channel->count(u"files.trash.restore"_s), 0);

        QTest::mouseClick(list.view()->viewport(), Qt::LeftButton, {}, list.restoreButtonRect(0).center());
        menu->actions().at(0)->trigger();
        QTRY_COMPARE(fixture.channel->count(u"files.trash.restore"_s), 2);
        // A restore reloads the trash, which empties the list.
        QTRY_VERIFY(fixture.channel->count(u"files.trash.list"_s) >= 1);
        QTRY_VERIFY(!fixture.store->isLoadingTrash() && fixture.store->trashEntries().isEmpty());
        for (const FakeManagementChannel::Request &request : fixture.channel->requests) {
            if (request.action == u"files.trash.restore"_s) {
                QCOMPARE(request.object().value(u"conflictPolicy"_s).toString(), u"keep_both"_s);
                QCOMPARE(request.object().value(u"id"_s).toString(), u"t1"_s);
            }
        }
    }

    void theKeyboardsRowIsDrawnSo_data()
    {
        QTest::addColumn<bool>("clicked"); // the list reached with a click on its first row, else with Tab
        QTest::newRow("reached with Tab") << false;
        QTest::newRow("clicked, then the arrow keys") << true;
    }

    // The arrow keys move through the rows: the row the keyboard is on is drawn so, the others not, also in a list the
    // mouse gave the keyboard to.
    void theKeyboardsRowIsDrawnSo()
    {
        QFETCH(bool, clicked);
        ManagementStoreFixture fixture;
        fixture.channel->connected = false;
        fixture.store->setTrashEntries(
            {trashed(u"t0"_s, u"a.txt"_s, false, 3), trashed(u"t1"_s, u"b.txt"_s, false, 3)});
        ManagedTrashList list(fixture.store.get());
        list.resize(600, 300);
        list.show();
        QApplication::setActiveWindow(&list);
        QVERIFY(QTest::qWaitForWindowActive(&list));
        QListView *view = list.view();
        view->clearFocus();
        const auto row = [view](int number) {
            return view->viewport()->grab(view->visualRect(view->model()->index(number, 0))).toImage();
        };
        const QImage first = row(0);
        const QImage second = row(1);
        if (clicked)
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                              view->visualRect(view->model()->index(0, 0)).topLeft() + QPoint(4, 4));
        else
            QTest::keyClick(&list, Qt::Key_Tab);
        QVERIFY(view->hasFocus());
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(view->currentIndex().row(), 1);
        QCOMPARE(row(0), first);
        QVERIFY2(row(1) != second, "the keyboard's row looks as the others do");
    }

    // A screen reader finds the named list with one element per row, named by where the entry came from and when
    // it was deleted, whose "恢复" restores keeping both and whose other action asks before replacing.
    void rowsAreAccessibleWithTheirRestore()
    {
        ManagementStoreFixture fixture;
        fixture.channel->answer = [](const FakeManagementChannel::Request &request) {
            return Reply::json(request.action == u"files.trash.list"_s ? encodeManaged(ManagedTrashPage{1, {}, {}})
                                                                       : QJsonObject());
        };
        const ManagedTrashEntry entry = trashed(u"t1"_s, u"a.txt"_s, false, 3);
        fixture.store->setTrashEntries({trashed(u"t0"_s, u"b"_s, true, std::nullopt), entry});
        ManagedTrashList list(fixture.store.get());
        list.resize(600, 300);
        list.show();
        QAccessibleInterface *rows = QAccessible::queryAccessibleInterface(list.view());
        QCOMPARE(rows->role(), QAccessible::List);
        QCOMPARE(rows->text(QAccessible::Name), u"回收站"_s);
        QCOMPARE(rows->childCount(), 2);
        QAccessibleInterface *row = rows->child(1);
        QCOMPARE(row->role(), QAccessible::ListItem);
        QCOMPARE(row->text(QAccessible::Name), u"a.txt，"_s + trashRowDetail(entry));
        QVERIFY(row->text(QAccessible::Name).contains(u"原位置：/Download · "_s));
        QCOMPARE(rows->indexOfChild(row), 1);
        const QRect shown = row->rect();
        QCOMPARE(rows->childAt(shown.center().x(), shown.center().y()), row);
        QCOMPARE(row->actionInterface()->actionNames(), (QStringList{u"恢复"_s, u"恢复并替换同名项目"_s}));

        QSignalSpy replacing(&list, &ManagedTrashList::replacingTrashEntryRequested);
        row->actionInterface()->doAction(u"恢复并替换同名项目"_s);
        QCOMPARE(replacing.size(), 1);
        QCOMPARE(replacing.first().first().value<ManagedTrashEntry>().id, u"t1"_s);
        row->actionInterface()->doAction(u"恢复"_s);
        QTRY_COMPARE(fixture.channel->count(u"files.trash.restore"_s), 1);
        QCOMPARE(fixture.channel->requests.last().action, u"files.trash.restore"_s);
        QCOMPARE(fixture.channel->requests.last().object().value(u"id"_s).toString(), u"t1"_s);
        QCOMPARE(fixture.channel->requests.last().object().value(u"conflictPolicy"_s).toString(), u"keep_both"_s);
        // The restore ends by reading the trash again, empty now.
        QTRY_VERIFY(!fixture.store->isLoadingTrash() && fixture.store->trashEntries().isEmpty());
    }
};

QTEST_MAIN(TrashListTest)
#include "test_trash_list.moc"

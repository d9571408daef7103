#include "ManagedTrashList.h"
#include "ManagementStoreFixture.h"
#include "TestSupport.h"
#include "TrashListPresentation.h"

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
        fixture.store->setIsLoadingTrash(loading);
        fixture.store->setTrashEntries(entries);
        fixture.store->setTrashQuery(query);
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
};

QTEST_MAIN(TrashListTest)
#include "test_trash_list.moc"

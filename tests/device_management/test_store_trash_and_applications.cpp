#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Request = FakeManagementChannel::Request;
using Text = std::optional<QString>;

namespace {

const QString trashList = u"files.trash.list"_s;
const QString appsList = u"apps.list"_s;

// One list page of `count` items named after the page's token, with a further token when `continued`.
Reply listPage(const Request &request, int count, bool continued)
{
    const qint64 token = request.object().value(u"pageToken"_s).toInteger();
    const std::optional<qint64> next = continued ? std::optional<qint64>(token + 7) : std::nullopt;
    ManagedTrashPage trash{1, {}, next};
    ManagedApplicationPage applications{1, {}, next};
    for (int index = 0; index < count; ++index) {
        const QString id = u"%1-%2"_s.arg(token).arg(index);
        trash.entries.append({id, id, u"dir"_s, u"/dir"_s, u"root"_s, false, 1, 5});
        applications.applications.append({id, id, u"1.0"_s, 1, 2, 3, false, true, true});
    }
    return Reply::json(request.action == trashList ? encodeManaged(trash) : encodeManaged(applications));
}

const ManagedApplication notes{u"com.example.notes"_s, u"便签"_s, u"2.1"_s, 21, 1, 2, false, true, true};

} // namespace

using Paging = TestTable<QString, bool, int, bool, int, int>;
using Emptying = TestTable<qint64, qint64, QString>;
using Restores = TestTable<bool, QStringList, QString, Text>;
using ApplicationActions = TestTable<QString, bool, QString, QString, Text>;

class StoreTrashAndApplicationsTest : public QObject
{
    Q_OBJECT

private slots:
    void paging_data()
    {
        // List, connected, entries per page, whether every page has a token, requests, entries published.
        const Paging rows;
        rows("trash in pages of 100", trashList, true, 100, true, 50, 5000);
        rows("trash in pages of 150", trashList, true, 150, true, 34, 5100);
        rows("trash empty", trashList, true, 0, false, 1, 0);
        rows("trash of empty pages without end", trashList, true, 0, true, 1000, 0);
        rows("trash while not connected", trashList, false, 100, true, 0, 0);
        rows("applications in pages of 100", appsList, true, 100, true, 20, 2000);
        rows("applications in pages of 150", appsList, true, 150, true, 14, 2100);
        rows("applications none", appsList, true, 0, false, 1, 0);
        rows("applications of empty pages without end", appsList, true, 0, true, 1000, 0);
        rows("applications while not connected", appsList, false, 100, true, 0, 0);
    }

    // Loads follow the page tokens with the search they began with until a page has none, the list is long
    // enough or the phone keeps answering empty pages, and publish the whole list once.
    void paging()
    {
        const auto [list, connected, perPage, continued, requests, entries] = Paging::fetch();
        ManagementStoreFixture fixture;
        fixture.channel->connected = connected;
        DeviceManagementStore &store = *fixture.store;
        // A search or scope changed while a load pages on is for the next load: one list answers one search.
        fixture.channel->answer = [&store, perPage = perPage, continued = continued](const Request &request) {
            store.setTrashQuery(u"other"_s);
            store.setApplicationQuery(u"other"_s);
            store.setApplicationFilter(DeviceManagementStore::AppFilter::all);
            return listPage(request, perPage, continued);
        };
        store.setMessage(u"earlier message"_s);
        store.setErrorMessage(u"earlier error"_s);

        const bool trash = list == trashList;
        // A nested event loop that does not pause between rounds, as some loads take a thousand round trips.
        QCoro::waitFor(trash ? store.loadTrash() : store.loadApplications());

        QCOMPARE(fixture.channel->requests.size(), requests);
        for (qsizetype index = 0; index < requests; ++index) {
            const QString token = QString::number(index * 7);
            QCOMPARE(fixture.channel->requests.at(index).payload,
                     trash ? uR"({"pageSize":100,"pageToken":%1,"query":""})"_s.arg(token)
                           : uR"({"filter":"user","pageSize":100,"pageToken":%1,"query":""})"_s.arg(token));
        }
        QCOMPARE(trash ? store.trashEntries().size() : store.applications().size(), entries);
        QCOMPARE(store.message(), Text(u"earlier message"_s));
        QCOMPARE(store.errorMessage(), connected ? std::nullopt : Text(u"earlier error"_s));
        QVERIFY(!store.isLoadingTrash() && !store.isLoadingApplications());
    }

    void emptyTrash_data()
    {
        // Deleted count, reclaimed bytes, message.
        const Emptying rows;
        rows("nothing was there", 0, 0, u"回收站已经是空的"_s);
        rows("three items", 3, 1'500'000, u"已永久删除 3 项，释放 1.5 MB"_s);
    }

    void emptyTrash()
    {
        const auto [deleted, bytes, message] = Emptying::fetch();
        ManagementStoreFixture fixture;
        fixture.store->setTrashEntries({{u"t1"_s, u"a.txt"_s, u"dir"_s, u"/dir"_s, u"root"_s, false, 1, 5}});
        fixture.channel->answer = [deleted = deleted, bytes = bytes](const Request &) {
            return Reply::json(encodeManaged(ManagedTrashEmptyResult{1, deleted, bytes}));
        };

        QVERIFY(awaitTask(fixture.store->emptyTrash()));

        QCOMPARE(fixture.channel->actions(), QStringList{u"files.trash.empty"_s});
        QCOMPARE(fixture.channel->requests.first().payload, u"{}"_s);
        QVERIFY(fixture.store->trashEntries().isEmpty());
        QCOMPARE(fixture.store->message(), Text(message));
    }

    void restore_data()
    {
        // Accepted, the actions sent, message, error text.
        const Restores rows;
        rows("accepted", true, {u"files.trash.restore"_s, trashList, u"files.list"_s}, u"a.txt 已恢复"_s, {});
        rows("refused", false, {u"files.trash.restore"_s}, u"earlier"_s, u"已存在同名项目"_s);
    }

    // A restore lists the trash again and then the open folder; a refused one reloads nothing.
    void restore()
    {
        const auto [accepted, actions, message, error] = Restores::fetch();
        ManagementStoreFixture fixture;
        fixture.channel->answer = [accepted = accepted](const Request &request) {
            if (request.action == u"files.trash.restore"_s) {
                return accepted ? Reply{} : Reply::failure(DeviceManagementRequestError::rejected(u"已存在同名项目"_s));
            }
            return request.action == u"files.list"_s ? Reply::json(filePageJson(u"dest"_s, {}))
                                                     : listPage(request, 0, false);
        };
        awaitTask(fixture.store->openRoot({u"dest"_s, u"Dest"_s, false, 0, 0}));
        fixture.channel->requests.clear();
        fixture.store->setMessage(u"earlier"_s);

        const ManagedTrashEntry entry{u"t1"_s, u"a.txt"_s, u"dest"_s, u"/dest"_s, u"root"_s, false, 1, 5};
        QCOMPARE(awaitTask(fixture.store->restore(entry, ManagedConflictPolicy::replace)), accepted);

        QCOMPARE(fixture.channel->actions(), actions);
        QCOMPARE(fixture.channel->requests.first().payload, uR"({"conflictPolicy":"replace","id":"t1"})"_s);
        QCOMPARE(fixture.store->message(), Text(message));
        QCOMPARE(fixture.store->errorMessage(), error);
    }

    void applicationActions_data()
    {
        // Operation, accepted, the action sent, message, error text.
        const ApplicationActions rows;
        rows("uninstall", u"uninstall"_s, true, u"apps.uninstall"_s, u"请点按手机通知，确认卸载 便签"_s, {});
        rows("launch", u"launch"_s, true, u"apps.launch"_s, u"请点按手机通知，打开 便签"_s, {});
        rows("details", u"details"_s, true, u"apps.details"_s, u"请点按手机通知，查看应用详情"_s, {});
        rows("uninstall refused", u"uninstall"_s, false, u"apps.uninstall"_s, u"earlier"_s, u"用户取消了卸载"_s);
    }

    // Accepted requests show the hint for the phone's notification; the list stays as it was.
    void applicationActions()
    {
        const auto [operation, accepted, action, message, error] = ApplicationActions::fetch();
        ManagementStoreFixture fixture;
        fixture.channel->answer = [accepted = accepted](const Request &) {
            return accepted ? Reply{} : Reply::failure(DeviceManagementRequestError::rejected(u"用户取消了卸载"_s));
        };
        fixture.store->setMessage(u"earlier"_s);

        awaitTask(operation == u"uninstall"_s ? fixture.store->uninstallApplication(notes)
                  : operation == u"launch"_s  ? fixture.store->launchApplication(notes)
                                              : fixture.store->showApplicationDetails(notes));

        QCOMPARE(fixture.channel->actions(), QStringList{action});
        QCOMPARE(fixture.channel->requests.first().payload, uR"({"packageName":"com.example.notes"})"_s);
        QCOMPARE(fixture.store->message(), Text(message));
        QCOMPARE(fixture.store->errorMessage(), error);
    }
};

QTEST_GUILESS_MAIN(StoreTrashAndApplicationsTest)
#include "test_store_trash_and_applications.moc"

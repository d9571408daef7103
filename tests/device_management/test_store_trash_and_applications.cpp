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
const QString refusal = u"已存在同名项目"_s;
const ManagedTrashEntry trashed{u"t1"_s, u"a.txt"_s, u"dest"_s, u"/dest"_s, u"root"_s, false, 1, 5};

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

} // namespace

using Paging = TestTable<QString, bool, int, bool, int, int, Text>;
using Actions = TestTable<Text, QStringList, QString, Text, Text>;

class StoreTrashAndApplicationsTest : public QObject
{
    Q_OBJECT

private slots:
    void paging_data()
    {
        // List, connected, entries per page, whether every page has a token, requests, entries published, error.
        const Paging rows;
        const Text tooManyPages = u"手机返回的分页过多，已停止加载"_s;
        rows("trash up to its cap", trashList, true, 100, true, 50, 5000, {});
        rows("trash empty", trashList, true, 0, false, 1, 0, {});
        rows("trash of empty pages without end", trashList, true, 0, true, 1000, 0, tooManyPages);
        rows("trash while not connected", trashList, false, 100, true, 0, 0, u"earlier error"_s);
        rows("applications up to their cap", appsList, true, 100, true, 20, 2000, {});
        rows("applications none", appsList, true, 0, false, 1, 0, {});
        rows("applications of empty pages without end", appsList, true, 0, true, 1000, 0, tooManyPages);
        rows("applications while not connected", appsList, false, 100, true, 0, 0, u"earlier error"_s);
    }

    // Loads follow the page tokens with the search they began with until a page has none or the list is long
    // enough, and publish the whole list once; a phone that keeps answering empty pages is stopped with a message.
    void paging()
    {
        const auto [list, connected, perPage, continued, requests, entries, error] = Paging::fetch();
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
        store.setErrorMessage(u"earlier error"_s);
        store.setMessage(u"earlier message"_s);

        const bool trash = list == trashList;
        awaitTask(trash ? store.loadTrash() : store.loadApplications());

        QCOMPARE(fixture.channel->requests.size(), requests);
        for (qsizetype index = 0; index < requests; ++index) {
            const QString token = QString::number(index * 7);
            QCOMPARE(fixture.channel->requests.at(index).payload,
                     trash ? uR"({"pageSize":100,"pageToken":%1,"query":""})"_s.arg(token)
                           : uR"({"filter":"user","pageSize":100,"pageToken":%1,"query":""})"_s.arg(token));
        }
        QCOMPARE(trash ? store.trashEntries().size() : store.applications().size(), entries);
        // A load leaves the message alone, unless it fails and its error takes the message's place.
        QCOMPARE(store.message(), error && error != u"earlier error"_s ? Text() : Text(u"earlier message"_s));
        QCOMPARE(store.errorMessage(), error);
        QVERIFY(!store.isLoadingTrash() && !store.isLoadingApplications());
    }

    void actions_data()
    {
        // The phone's answer (nothing: a refusal), the actions sent, the first payload, message, error.
        const Actions rows;
        const QString restore = uR"({"conflictPolicy":"replace","id":"t1"})"_s;
        const QString package = uR"({"packageName":"com.example.notes"})"_s;
        rows("empty the trash", uR"({"deletedCount":3,"reclaimedBytes":1500000,"version":1})"_s,
             {u"files.trash.empty"_s}, u"{}"_s, u"已永久删除 3 项，释放 1.5 MB"_s, {});
        rows("empty an empty trash", uR"({"deletedCount":0,"reclaimedBytes":0,"version":1})"_s,
             {u"files.trash.empty"_s}, u"{}"_s, u"回收站已经是空的"_s, {});
        // A restore lists the trash again and then the open folder; a refused one reloads nothing.
        rows("restore", u"{}"_s, {u"files.trash.restore"_s, trashList, u"files.list"_s}, restore, u"a.txt 已恢复"_s,
             {});
        rows("restore refused", {}, {u"files.trash.restore"_s}, restore, std::nullopt, refusal);
        // The phone only posts a notification: the hint says where to look, and the list stays as it was.
        rows("uninstall", u"{}"_s, {u"apps.uninstall"_s}, package, u"请点按手机通知，确认卸载 便签"_s, {});
        rows("launch", u"{}"_s, {u"apps.launch"_s}, package, u"请点按手机通知，打开 便签"_s, {});
        rows("details", u"{}"_s, {u"apps.details"_s}, package, u"请点按手机通知，查看应用详情"_s, {});
        rows("uninstall refused", {}, {u"apps.uninstall"_s}, package, std::nullopt, refusal);
    }

    void actions()
    {
        const auto [answer, actions, payload, message, error] = Actions::fetch();
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = [answer = answer](const Request &request) {
            if (request.action == u"files.list"_s) {
                return Reply::json(filePageJson(u"dest"_s, {}));
            }
            if (request.action == trashList) {
                return listPage(request, 0, false);
            }
            return answer ? Reply{*answer, nullptr} : Reply::failure(DeviceManagementRequestError::rejected(refusal));
        };
        awaitTask(store.openRoot({u"dest"_s, u"Dest"_s, false, 0, 0}));
        fixture.channel->requests.clear();
        store.setTrashEntries({trashed});
        store.setMessage(u"earlier"_s);

        const ManagedApplication notes{u"com.example.notes"_s, u"便签"_s, u"2.1"_s, 21, 1, 2, false, true, true};
        const QString action = actions.first();
        bool done = !error; // what an application action gives back
        if (action == u"files.trash.empty"_s) {
            done = awaitTask(store.emptyTrash());
        } else if (action == u"files.trash.restore"_s) {
            done = awaitTask(store.restore(trashed, ManagedConflictPolicy::replace));
        } else {
            awaitTask(action == u"apps.uninstall"_s ? store.uninstallApplication(notes)
                      : action == u"apps.launch"_s  ? store.launchApplication(notes)
                                                    : store.showApplicationDetails(notes));
        }

        QCOMPARE(done, !error);
        QCOMPARE(fixture.channel->actions(), actions);
        QCOMPARE(fixture.channel->requests.first().payload, payload);
        QCOMPARE(store.trashEntries().isEmpty(), done && action.startsWith(u"files"_s));
        QCOMPARE(store.message(), message);
        QCOMPARE(store.errorMessage(), error);
    }
};

QTEST_GUILESS_MAIN(StoreTrashAndApplicationsTest)
#include "test_store_trash_and_applications.moc"

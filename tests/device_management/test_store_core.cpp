#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Request = FakeManagementChannel::Request;

namespace {

// A phone whose folders each hold `count` files, answered `perPage` at a time; `endless` always gives a token.
std::function<Reply(const Request &)> folders(int count, int perPage, bool endless = false)
{
    return [=](const Request &request) {
        const QJsonObject payload = request.object();
        if (request.action == u"files.roots") {
            return Reply::json(
                {{u"version"_s, 1},
                 {u"roots"_s, QJsonArray{encodeManaged(ManagedStorageRoots::Root{u"r1"_s, u"内部存储"_s, false, 1, 2}),
                                         encodeManaged(ManagedStorageRoots::Root{u"r2"_s, u"SD"_s, true, 1, 2})}}});
        }
        const int start = payload.value(u"pageToken"_s).toInt();
        QList<ManagedFileEntry> entries;
        for (int index = start; index < std::min(count, start + perPage); ++index) {
            entries.append(fileEntry(u"f%1"_s.arg(index), u"file %1"_s.arg(index)));
        }
        const bool more = endless || start + perPage < count;
        return Reply::json(filePageJson(payload.value(u"parentId"_s).toString(), entries,
                                        more ? std::optional<qint64>(start + perPage) : std::nullopt));
    };
}

} // namespace

using Paging = TestTable<int, int, bool, int, int, bool>;
using Errors = TestTable<Reply, std::optional<QString>>;
using ContentSearches = TestTable<QString, QStringList>;

class StoreCoreTest : public QObject
{
    Q_OBJECT

private slots:
    void switchingPhonesResetsEverythingOnce()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        store.setMediaQuery(u"cat"_s);
        store.setMessage(u"hello"_s);
        store.putOnClipboard({fileEntry(u"a"_s, u"a"_s)}, true);
        const quint64 generation = store.sessionGeneration();
        const quint64 revision = store.thumbnailRevision();

        store.setActivePeer(u"peer-1"_s);
        QVERIFY(store.clipboard() && store.mediaQuery() == u"cat"_s);
        QCOMPARE(store.sessionGeneration(), generation);

        QSignalSpy cleared(&store, &DeviceManagementStore::clipboardChanged);
        store.setActivePeer(std::nullopt);
        QCOMPARE(store.sessionGeneration(), generation + 1);
        QCOMPARE(store.thumbnailRevision(), revision + 1);
        QCOMPARE(store.mediaQuery(), QString());
        QCOMPARE(store.message(), std::nullopt);
        QCOMPARE(cleared.count(), 1);
    }

    // What the previous phone answers after the switch publishes nothing and leaves the new phone's flags alone.
    void lateAnswersOfThePreviousPhoneAreDropped()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = [](const Request &request) {
            return request.action == u"device.snapshot" ? Reply::json(encodeManaged(ManagedDeviceSnapshot{}))
                                                        : folders(1, 100)(request);
        };
        fixture.channel->hold = true;
        auto overview = store.refreshOverview();
        auto second = store.refreshOverview();
        auto listing = store.listFolder(u"r1"_s);
        QCOMPARE(fixture.channel->count(u"device.snapshot"_s), 1);
        QVERIFY(store.isLoadingOverview());
        store.setActivePeer(u"peer-2"_s);
        store.setIsLoadingFiles(true);
        fixture.channel->release();
        awaitTask(overview);
        awaitTask(listing);
        QVERIFY(!store.snapshot() && !store.currentPage());
        QVERIFY(!store.isLoadingOverview() && store.isLoadingFiles());

        fixture.channel->connected = false;
        awaitTask(store.refreshOverview());
        QCOMPARE(fixture.channel->requests.size(), 2);
    }

    void rootsOpenTheFirstRootOnlyWhenNothingIsOpen()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = folders(3, 100);
        awaitTask(store.loadRoots());
        QCOMPARE(store.roots().size(), 2);
        QCOMPARE(store.currentPage()->parentId, u"r1"_s);
        QCOMPARE(fixture.channel->requests.last().payload,
                 uR"({"pageSize":100,"pageToken":0,"parentId":"r1","query":""})"_s);
        QVERIFY(!store.isLoadingFiles());

        awaitTask(store.openFolder(folderEntry(u"sub"_s, u"Sub"_s)));
        awaitTask(store.loadRoots());
        QCOMPARE(store.currentPage()->parentId, u"sub"_s);
        QCOMPARE(fixture.channel->actions().last(), u"files.roots"_s);
    }

    // History follows the folders the user went through, also when a step fails or ends after a newer one.
    void historyFollowsSuccessfulStepsOnly()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        bool failing = false;
        fixture.channel->answer = [&failing](const Request &request) {
            return failing ? Reply::failure(DeviceManagementRequestError::rejected(u"没有权限"_s))
                           : folders(1, 100)(request);
        };
        awaitTask(store.openRoot({u"r1"_s, u"内部存储"_s, false, 1, 2}));
        awaitTask(store.openFolder(fileEntry(u"x"_s, u"x.txt"_s)));
        QCOMPARE(fixture.channel->requests.size(), 1);
        awaitTask(store.openFolder(folderEntry(u"d"_s, u"D"_s)));
        QCOMPARE(store.directoryHistory(), (QList<DeviceManagementStore::HistoryItem>{{u"r1"_s, u"r1 name"_s}}));

        failing = true;
        awaitTask(store.openFolder(folderEntry(u"e"_s, u"E"_s)));
        QCOMPARE(store.directoryHistory().size(), 1);
        awaitTask(store.goBack());
        QCOMPARE(store.directoryHistory().size(), 1);
        QCOMPARE(store.currentPage()->parentId, u"d"_s);

        failing = false;
        awaitTask(store.goBack());
        QVERIFY(store.directoryHistory().isEmpty());
        const qsizetype sent = fixture.channel->requests.size();
        awaitTask(store.goBack());
        QCOMPARE(fixture.channel->requests.size(), sent);

        // A slow reload of the folder the user left does not replace the folder opened after it.
        fixture.channel->hold = true;
        auto reload = store.reloadCurrentFolder();
        fixture.channel->hold = false;
        awaitTask(store.openFolder(folderEntry(u"photos"_s, u"Photos"_s)));
        fixture.channel->release();
        awaitTask(reload);
        QCOMPARE(store.currentPage()->parentId, u"photos"_s);
        QCOMPARE(store.directoryHistory().size(), 1);
        QVERIFY(!store.isLoadingFiles());
    }

    void contentFolderIsFoundByNameInAnyCase()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        QList<ManagedFileEntry> top{fileEntry(u"file"_s, u"Download"_s), folderEntry(u"dls"_s, u"downloads"_s),
                                    folderEntry(u"dl"_s, u"DOWNLOAD"_s)};
        fixture.channel->answer = [&top](const Request &request) {
            if (request.action == u"files.roots") {
                return folders(0, 1)(request);
            }
            const QString parent = request.object().value(u"parentId"_s).toString();
            return Reply::json(filePageJson(parent, parent == u"r1" ? top : QList<ManagedFileEntry>{}));
        };
        QVERIFY(awaitTask(store.openContentFolder({u"Download"_s, u"Downloads"_s})));
        QCOMPARE(store.currentPage()->parentId, u"dl"_s);

        top = {top.first()};
        QVERIFY(!awaitTask(store.openContentFolder({u"Download"_s, u"Downloads"_s})));
        QCOMPARE(store.message(), u"这台手机没有找到对应的内容文件夹，可在\u201C所有文件\u201D中浏览。"_s);
    }

    void contentFolderIsFoundWhateverTheSearch_data()
    {
        // The search text, and the names the opened content folder shows.
        const ContentSearches rows;
        rows("no search", QString(), {u"IMG_1.jpg"_s, u"notes.txt"_s});
        rows("a search of the folder", u"IMG"_s, {u"IMG_1.jpg"_s});
        rows("a search that matches no name", u"zzz"_s, {});
    }

    // The root is searched for the content folder without the search text; the folder found is listed with it.
    void contentFolderIsFoundWhateverTheSearch()
    {
        const auto [query, shown] = ContentSearches::fetch();
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = [](const Request &request) {
            if (request.action == u"files.roots") {
                return folders(0, 1)(request);
            }
            const QString parent = request.object().value(u"parentId"_s).toString();
            const QList<ManagedFileEntry> entries =
                parent == u"r1" ? QList{folderEntry(u"dl"_s, u"Download"_s), fileEntry(u"n"_s, u"notes.txt"_s)}
                                : QList{fileEntry(u"i"_s, u"IMG_1.jpg"_s), fileEntry(u"n"_s, u"notes.txt"_s)};
            QList<ManagedFileEntry> matching;
            for (const ManagedFileEntry &entry : entries) {
                if (entry.name.contains(request.object().value(u"query"_s).toString())) {
                    matching.append(entry);
                }
            }
            return Reply::json(filePageJson(parent, matching));
        };
        store.setFileQuery(query);
        QVERIFY(awaitTask(store.openContentFolder({u"Download"_s, u"Downloads"_s})));
        QStringList names;
        for (const ManagedFileEntry &entry : store.currentPage()->entries) {
            names.append(entry.name);
        }
        QCOMPARE(names, shown);
        QCOMPARE(store.listedFileQuery(), query);
        QCOMPARE(store.message(), std::nullopt);
        QStringList sentQueries;
        for (const Request &request : std::as_const(fixture.channel->requests)) {
            if (request.action == u"files.list") {
                sentQueries.append(request.object().value(u"query"_s).toString());
            }
        }
        // The roots' own listing of the first root comes first; the search for the folder lists the root again.
        QCOMPARE(sentQueries.mid(1), (QStringList{QString(), query}));
    }

    void listsKeepTheSearchTheyWereListedWith_data()
    {
        QTest::addColumn<QString>("list");
        QTest::newRow("folder") << u"files.list"_s;
        QTest::newRow("media") << u"media.list"_s;
        QTest::newRow("trash") << u"files.trash.list"_s;
    }

    // An empty list tells "nothing here" from "nothing matches" by the search it was listed with: listing the same
    // empty list without the search is a change the views hear of.
    void listsKeepTheSearchTheyWereListedWith()
    {
        QFETCH(QString, list);
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = [](const Request &request) {
            return Reply::json(
                request.action == u"media.list"   ? QJsonObject{{u"version"_s, 1}, {u"items"_s, QJsonArray()}}
                : request.action == u"files.list" ? filePageJson(u"r1"_s, {})
                                                  : QJsonObject{{u"version"_s, 1}, {u"entries"_s, QJsonArray()}});
        };
        const auto setQuery = [&](const QString &query) {
            list == u"files.list"   ? store.setFileQuery(query)
            : list == u"media.list" ? store.setMediaQuery(query)
                                    : store.setTrashQuery(query);
        };
        const auto load = [&] {
            awaitTask(list == u"files.list"   ? store.openRoot({u"r1"_s, u"内部存储"_s, false, 1, 2})
                      : list == u"media.list" ? store.loadMedia(ManagedMediaKind::video)
                                              : store.loadTrash());
        };
        const auto listedQuery = [&] {
            return list == u"files.list"   ? store.listedFileQuery()
                   : list == u"media.list" ? store.listedMediaQuery()
                                           : store.listedTrashQuery();
        };
        QSignalSpy changes(&store, list == u"files.list"   ? &DeviceManagementStore::currentPageChanged
                                   : list == u"media.list" ? &DeviceManagementStore::mediaItemsChanged
                                                           : &DeviceManagementStore::trashEntriesChanged);
        setQuery(u"zzz"_s);
        load();
        QCOMPARE(listedQuery(), u"zzz"_s);
        const qsizetype searched = changes.count();

        setQuery(QString());
        QCOMPARE(listedQuery(), u"zzz"_s); // typing alone lists nothing
        load();
        QCOMPARE(listedQuery(), QString());
        QCOMPARE(changes.count(), searched + 1);

        setQuery(u"zzz"_s);
        load();
        store.setActivePeer(u"peer-2"_s);
        QCOMPARE(listedQuery(), QString());
    }

    void contentFolderOfThePreviousPhoneEndsSilently_data()
    {
        QTest::addColumn<int>("answered");
        QTest::newRow("while the roots load") << 0;
        QTest::newRow("while the roots open the first root") << 1;
        QTest::newRow("while the first root lists") << 2;
        QTest::newRow("while the content folder lists") << 3;
    }

    // A switch of phone while the search waits leaves the new phone's message bar and folders alone.
    void contentFolderOfThePreviousPhoneEndsSilently()
    {
        QFETCH(int, answered);
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        fixture.channel->answer = [](const Request &request) {
            const QString parent = request.object().value(u"parentId"_s).toString();
            return request.action == u"files.roots"
                       ? folders(0, 1)(request)
                       : Reply::json(filePageJson(parent, parent == u"r1" ? QList{folderEntry(u"dl"_s, u"Download"_s)}
                                                                          : QList<ManagedFileEntry>{}));
        };
        fixture.channel->hold = true;
        auto search = store.openContentFolder({u"Download"_s, u"Downloads"_s});
        for (int step = 0; step < answered; ++step) {
            const qsizetype sent = fixture.channel->requests.size();
            fixture.channel->release();
            QTRY_COMPARE_WITH_TIMEOUT(fixture.channel->requests.size(), sent + 1, 20'000);
        }
        const qsizetype sent = fixture.channel->requests.size();
        store.setActivePeer(u"peer-2"_s);
        fixture.channel->hold = false;
        fixture.channel->release();
        QVERIFY(!awaitTask(search));
        QCOMPARE(store.message(), std::nullopt);
        QCOMPARE(store.errorMessage(), std::nullopt);
        QVERIFY(!store.currentPage() && store.roots().isEmpty());
        QCOMPARE(fixture.channel->requests.size(), sent);
    }

    void pagingStopsAtTheCapWithTheLastPageWhole_data()
    {
        // Entries in the folder, entries per answer, tokens forever; requests, published entries, token kept.
        const Paging rows;
        rows("250 entries", 250, 100, false, 3, 250, false);
        rows("5050 entries", 5050, 100, false, 50, 5000, true);
        rows("pages of 120", 6000, 120, false, 42, 5040, true);
        rows("a phone that always gives a token", 100, 100, true, 50, 100 * 50, true);
    }

    void pagingStopsAtTheCapWithTheLastPageWhole()
    {
        const auto [count, perPage, endless, requests, published, tokenKept] = Paging::fetch();
        ManagementStoreFixture fixture;
        // The endless phone repeats its entries: ids are not unique there, which the listing does not check.
        fixture.channel->answer = endless ? folders(1'000'000, perPage, true) : folders(count, perPage);
        awaitTask(fixture.store->listFolder(u"big"_s));
        QCOMPARE(fixture.channel->requests.size(), requests);
        QCOMPARE(fixture.store->currentPage()->entries.size(), published);
        QCOMPARE(fixture.store->currentPage()->nextPageToken.has_value(), tokenKept);
    }

    void errorSinkShowsAllButADroppedLink_data()
    {
        const Errors rows;
        rows("rejected", Reply::failure(DeviceManagementRequestError::rejected(u"手机拒绝了请求"_s)),
             u"手机拒绝了请求"_s);
        rows("disconnected", Reply::failure(DeviceManagementRequestError::disconnected()), std::nullopt);
        rows("bad answer", Reply{u"{}"_s, nullptr}, u"The phone's answer has no value at \u201Cversion\u201D."_s);
    }

    // A listing that fails on its third page publishes none of it.
    void errorSinkShowsAllButADroppedLink()
    {
        const auto [reply, shown] = Errors::fetch();
        ManagementStoreFixture fixture;
        fixture.store->setErrorMessage(u"earlier"_s);
        fixture.channel->answer = [answer = reply](const Request &request) {
            return request.object().value(u"pageToken"_s).toInt() == 200 ? answer : folders(1000, 100)(request);
        };
        awaitTask(fixture.store->openRoot({u"r1"_s, u"内部存储"_s, false, 1, 2}));
        QCOMPARE(fixture.store->errorMessage(), shown);
        QVERIFY(!fixture.store->currentPage() && !fixture.store->isLoadingFiles());
    }
};

QTEST_GUILESS_MAIN(StoreCoreTest)
#include "test_store_core.moc"

#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Request = FakeManagementChannel::Request;
using Clipboard = DeviceManagementStore::FileClipboard;
using Text = std::optional<QString>;

namespace {

const QString refusal = u"存储空间不足"_s;

// The `failingAt`-th recorded request of `failingAction` (counted from 1) is refused; listings answer with an empty
// page of the folder asked for, the snapshot with a Pixel's; everything else is accepted.
void answerPhone(ManagementStoreFixture &fixture, const QString &failingAction = {}, int failingAt = 0)
{
    fixture.channel->answer = [=, channel = fixture.channel.get()](const Request &request) {
        if (request.action == failingAction && channel->count(failingAction) == failingAt) {
            return Reply::failure(DeviceManagementRequestError::rejected(refusal));
        }
        if (request.action == u"files.list"_s) {
            return Reply::json(filePageJson(request.object().value(u"parentId"_s).toString(), {}));
        }
        if (request.action == u"device.snapshot"_s) {
            return Reply::json(encodeManaged(pixelSnapshot()));
        }
        return Reply{};
    };
}

// Opens the phone folder "dest" and forgets the requests that took.
void openDestination(ManagementStoreFixture &fixture)
{
    answerPhone(fixture);
    awaitTask(fixture.store->openRoot({u"dest"_s, u"Dest"_s, false, 0, 0}));
    fixture.channel->requests.clear();
}

QList<ManagedFileEntry> entries(const QStringList &ids)
{
    QList<ManagedFileEntry> list;
    for (const QString &id : ids) {
        list.append(fileEntry(id, id + u".txt"_s));
    }
    return list;
}

std::optional<Clipboard> clipboardOf(const QStringList &ids, bool move)
{
    return ids.isEmpty() ? std::nullopt : std::optional(Clipboard{entries(ids), move});
}

} // namespace

using Runs = TestTable<QString, QStringList, int, Text, Text, QStringList>;
using Stale = TestTable<QString, bool>;
using Changes = TestTable<QString, QString>;

class StoreFileOperationsTest : public QObject
{
    Q_OBJECT

private slots:
    void runs_data()
    {
        // Operation, chosen ids, the refused request (0: none), message, error text, ids left on the clipboard.
        const Runs rows;
        const QStringList five{u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s};
        const QStringList four = five.mid(0, 4);
        rows("trash one listed twice", u"trash"_s, {u"a"_s, u"a"_s}, 0, u"已移到 Tavrine 回收站"_s, {}, {});
        rows("trash three", u"trash"_s, five.mid(0, 3), 0, u"已将 3 项移到 Tavrine 回收站"_s, {}, {});
        // The count of what was done travels in the error, which takes the progress text's place.
        rows("trash refused on the third of five", u"trash"_s, five, 3, {},
             u"已处理 2/5 项，其余项目未改动："_s + refusal, {});
        rows("copy two", u"copy"_s, five.mid(0, 2), 0, u"已粘贴 2 项"_s, {}, {});
        rows("move two", u"move"_s, five.mid(0, 2), 0, u"已移动 2 项"_s, {}, {});
        rows("move refused on the first of four", u"move"_s, four, 1, {}, refusal, four);
        rows("copy refused on the third of four", u"copy"_s, four, 3, {},
             u"已处理 2/4 项，未完成项目仍保留在剪贴板："_s + refusal, four.mid(2));
    }

    // Trash and paste runs send one request per entry and stop at the first refusal, then reload the folder.
    void runs()
    {
        const auto [operation, chosen, failingAt, message, error, left] = Runs::fetch();
        ManagementStoreFixture fixture;
        openDestination(fixture);
        const bool trash = operation == u"trash"_s;
        const bool move = operation == u"move"_s;
        const QString action = trash ? u"files.delete"_s : move ? u"files.move"_s : u"files.copy"_s;
        answerPhone(fixture, action, failingAt);

        bool done = false;
        if (trash) {
            done = awaitTask(fixture.store->moveToTrash(entries(chosen)));
        } else {
            fixture.store->putOnClipboard(entries(chosen), move);
            done = awaitTask(fixture.store->paste(ManagedConflictPolicy::keepBoth));
        }

        const qsizetype sent = failingAt > 0 ? failingAt : QSet<QString>(chosen.cbegin(), chosen.cend()).size();
        QCOMPARE(fixture.channel->actions(), QStringList(sent, action) << u"files.list"_s);
        QCOMPARE(fixture.channel->requests.first().payload,
                 trash ? uR"({"id":"a"})"_s
                       : uR"({"conflictPolicy":"keep_both","destinationParentId":"dest","sourceId":"a"})"_s);
        QCOMPARE(done, failingAt == 0);
        QCOMPARE(fixture.store->message(), message);
        QCOMPARE(fixture.store->errorMessage(), error);
        QCOMPARE(fixture.store->clipboard(), clipboardOf(left, move));
        QVERIFY(!fixture.store->isPerformingFileOperation());
    }

    void failureLeavesNoResultBehind_data()
    {
        // Operation, the action whose second request is refused.
        const Changes rows;
        rows("create refused", u"create"_s, u"files.mkdir"_s);
        rows("rename refused", u"rename"_s, u"files.rename"_s);
        rows("create whose reload is refused", u"create"_s, u"files.list"_s);
    }

    // A failure takes the previous result's text with it, so a load that clears the error brings nothing stale
    // back; the next success shows again.
    void failureLeavesNoResultBehind()
    {
        const auto [operation, failingAction] = Changes::fetch();
        ManagementStoreFixture fixture;
        openDestination(fixture);
        answerPhone(fixture, failingAction, 2);
        const bool create = operation == u"create"_s;
        const QString done = create ? u"文件夹已创建"_s : u"已重命名"_s;
        const auto change = [&] {
            if (create) {
                return awaitTask(fixture.store->createFolder(u"新建"_s, ManagedConflictPolicy::error));
            }
            return awaitTask(
                fixture.store->rename(entries({u"a"_s}).first(), u"b.txt"_s, ManagedConflictPolicy::error));
        };

        QVERIFY(change());
        QCOMPARE(fixture.store->message(), done);
        QCOMPARE(change(), failingAction == u"files.list"_s);
        QCOMPARE(fixture.store->errorMessage(), refusal);
        QCOMPARE(fixture.store->message(), std::nullopt);
        awaitTask(fixture.store->refreshOverview());
        QCOMPARE(fixture.store->errorMessage(), std::nullopt);
        QCOMPARE(fixture.store->message(), std::nullopt);
        QVERIFY(change());
        QCOMPARE(fixture.store->message(), done);
    }

    void blankNamesAreRefusedUnsent_data()
    {
        // Operation, the name typed, whether it is refused.
        const TestTable<QString, QString, bool> rows;
        rows("create, spaces", u"create"_s, u"   "_s, true);
        rows("create, nothing", u"create"_s, QString(), true);
        rows("rename, tab and ideographic space", u"rename"_s, u"\t\u3000"_s, true);
        rows("rename, blanks around a name", u"rename"_s, u" b "_s, false);
    }

    // A name that shows nothing would make an item the user cannot see: the phone is not asked, the user is told.
    // Any other name goes as typed.
    void blankNamesAreRefusedUnsent()
    {
        const auto [operation, name, refused] = TestTable<QString, QString, bool>::fetch();
        ManagementStoreFixture fixture;
        openDestination(fixture);
        fixture.store->setMessage(u"文件夹已创建"_s); // an earlier result
        const bool create = operation == u"create"_s;
        const bool done =
            awaitTask(create ? fixture.store->createFolder(name, ManagedConflictPolicy::error)
                             : fixture.store->rename(entries({u"a"_s}).first(), name, ManagedConflictPolicy::error));

        QCOMPARE(done, !refused);
        QCOMPARE(fixture.store->errorMessage(), refused ? Text(u"名称无效。"_s) : Text());
        QCOMPARE(fixture.store->message(), refused ? Text() : Text(create ? u"文件夹已创建"_s : u"已重命名"_s));
        const QStringList sent = refused ? QStringList() : QStringList{create ? u"files.mkdir"_s : u"files.rename"_s};
        QCOMPARE(fixture.channel->actions(), refused ? sent : sent + QStringList{u"files.list"_s});
        if (!refused) {
            QCOMPARE(fixture.channel->requests.first().object().value(u"name"_s).toString(), name);
        }
    }

    void clipboardTakesEachEntryOnceAndIgnoresAnEmptyChoice()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        store.putOnClipboard(entries({u"a"_s, u"b"_s, u"a"_s, u"c"_s}), false);
        QCOMPARE(store.clipboard(), clipboardOf({u"a"_s, u"b"_s, u"c"_s}, false));
        QCOMPARE(store.message(), u"已复制 3 项，进入目标文件夹后粘贴"_s);

        store.setErrorMessage(u"earlier"_s);
        store.putOnClipboard({}, true); // nothing chosen: all stays
        QCOMPARE(store.clipboard(), clipboardOf({u"a"_s, u"b"_s, u"c"_s}, false));
        QCOMPARE(store.errorMessage(), u"earlier"_s);

        store.putOnClipboard(entries({u"a"_s, u"b"_s}), true);
        QCOMPARE(store.clipboard(), clipboardOf({u"a"_s, u"b"_s}, true));
        QCOMPARE(store.message(), u"已选择 2 项，进入目标文件夹后移动"_s);
        QCOMPARE(store.errorMessage(), std::nullopt);
        QVERIFY(fixture.channel->requests.isEmpty());
    }

    // One file operation at a time: a trash, paste or transfer run asked for while another runs is dropped
    // without a request, a hand-over or a text.
    void busyStoreDropsFurtherRuns()
    {
        ManagementStoreFixture fixture;
        openDestination(fixture);
        fixture.store->putOnClipboard(entries({u"b"_s}), false);
        fixture.channel->hold = true;
        QCoro::Task<bool> running = fixture.store->moveToTrash(entries({u"a"_s}));

        QVERIFY(!awaitTask(fixture.store->paste(ManagedConflictPolicy::keepBoth)));
        QVERIFY(!awaitTask(fixture.store->moveToTrash(entries({u"b"_s}))));
        awaitTask(fixture.store->upload({fixture.folder.path()}));
        awaitTask(fixture.store->downloadToMac(entries({u"c"_s}), {QUrl::fromLocalFile(fixture.folder.path()), {}}));
        QCOMPARE(fixture.channel->actions(), QStringList{u"files.delete"_s});
        QCOMPARE(fixture.channel->uploads.size() + fixture.channel->downloads.size(), 0);
        QCOMPARE(fixture.store->message(), u"正在移到 Tavrine 回收站…"_s);

        fixture.channel->hold = false;
        fixture.channel->release();
        QVERIFY(awaitTask(running));
        QCOMPARE(fixture.store->clipboard(), clipboardOf({u"b"_s}, false));
    }

    void switchDropsTheResult_data()
    {
        // Operation, whether the switch comes while the folder reloads after the change (else before its answer).
        const Stale rows;
        for (const QString &operation : {u"create"_s, u"trash"_s, u"copy"_s}) {
            rows(qPrintable(operation + u" before the answer"_s), operation, false);
            rows(qPrintable(operation + u" during the reload"_s), operation, true);
        }
    }

    // A change that ends after a switch to another phone writes no text and no flag into the new phone's state.
    void switchDropsTheResult()
    {
        const auto [operation, duringReload] = Stale::fetch();
        ManagementStoreFixture fixture;
        openDestination(fixture);
        fixture.store->putOnClipboard(entries({u"a"_s}), false);
        fixture.channel->hold = true;
        QCoro::Task<bool> task = operation == u"create"_s
                                     ? fixture.store->createFolder(u"新建"_s, ManagedConflictPolicy::error)
                                 : operation == u"trash"_s ? fixture.store->moveToTrash(entries({u"a"_s}))
                                                           : fixture.store->paste(ManagedConflictPolicy::keepBoth);
        if (duringReload) {
            fixture.channel->release();
            QTRY_COMPARE(fixture.channel->count(u"files.list"_s), 1);
        }
        fixture.store->setActivePeer(u"peer-2"_s);
        fixture.store->setIsPerformingFileOperation(true); // a run for the new phone
        fixture.channel->hold = false;
        fixture.channel->release();

        QCOMPARE(awaitTask(task), duringReload);
        QCOMPARE(fixture.channel->requests.size(), duringReload ? 2 : 1);
        QCOMPARE(fixture.store->message(), std::nullopt);
        QCOMPARE(fixture.store->errorMessage(), std::nullopt);
        QVERIFY(fixture.store->isPerformingFileOperation());
        QCOMPARE(fixture.store->clipboard(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(StoreFileOperationsTest)
#include "test_store_file_operations.moc"

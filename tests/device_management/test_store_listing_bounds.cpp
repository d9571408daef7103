#include "ManagedPaging.h"
#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Request = FakeManagementChannel::Request;
using Text = std::optional<QString>;

enum class Listing
{
    folder,
    tree,
    trash,
    media,
    applications,
};

// How the phone pages: what each answer brings and which token it gives for the next page.
enum class Phone
{
    repeatsToken,      // 0, then 5 again and again
    tokenGoesBack,     // 0, 5, then 3
    emptyPagesForever, // nothing, each with a greater token
    heavyAnswers,      // a quarter of a load's bytes in each answer, with a greater token
    longName,          // one page whose one entry has a name of 256 bytes
};

namespace {

const QString invalidFolderPaging = u"手机返回了无效的文件夹分页"_s;
const QString tooManyPages = u"手机返回的分页过多，已停止加载"_s;
const QString tooManyBytes = u"手机返回的列表过大，已停止加载"_s;

// One page of the listing that `request` asks for, holding one item named `name` unless it is empty.
QJsonObject page(const Request &request, const QString &name, std::optional<qint64> next)
{
    if (request.action == u"files.list"_s) {
        return filePageJson(u"r1"_s, name.isEmpty() ? QList<ManagedFileEntry>{} : QList{fileEntry(u"f"_s, name)}, next);
    }
    if (request.action == u"files.tree"_s) {
        ManagedFileTreePage tree{1, u"d1"_s, u"Album"_s, {}, next};
        if (!name.isEmpty()) {
            tree.entries.append({u"t"_s, name, false, 1, 0});
        }
        return encodeManaged(tree);
    }
    if (request.action == u"files.trash.list"_s) {
        ManagedTrashPage trash{1, {}, next};
        if (!name.isEmpty()) {
            trash.entries.append({u"t"_s, name, u"dir"_s, u"/dir"_s, u"r1"_s, false, 1, 5});
        }
        return encodeManaged(trash);
    }
    if (request.action == u"media.list"_s) {
        ManagedMediaPage media{1, {}, next};
        if (!name.isEmpty()) {
            media.items.append({u"m"_s, name, ManagedMediaKind::photo, 1, 2, u"image/jpeg"_s, 3, 4, std::nullopt,
                                u"DCIM/"_s + name, std::nullopt});
        }
        return encodeManaged(media);
    }
    ManagedApplicationPage applications{1, {}, next};
    if (!name.isEmpty()) {
        applications.applications.append({u"a.b"_s, name, u"1"_s, 1, 2, 3, false, true, true});
    }
    return encodeManaged(applications);
}

// The phone's answer to one page of a listing.
Reply hostileAnswer(Phone phone, const Request &request)
{
    const qint64 token = request.object().value(u"pageToken"_s).toInteger();
    switch (phone) {
    case Phone::repeatsToken:
        return Reply::json(page(request, {}, 5));
    case Phone::tokenGoesBack:
        return Reply::json(page(request, {}, token == 0 ? 5 : 3));
    case Phone::emptyPagesForever:
        return Reply::json(page(request, {}, token + 1));
    case Phone::heavyAnswers: {
        // An undeclared key, which decoding skips: only the answer's size counts.
        const QString text = Reply::json(page(request, {}, token + 1)).text;
        const QString padding(ManagedPaging::maximumAnswerBytes / 4, u'x');
        return {u"{\"padding\":\""_s + padding + u"\","_s + text.mid(1), nullptr};
    }
    case Phone::longName:
        return Reply::json(page(request, u"x"_s.repeated(256), std::nullopt));
    }
    Q_UNREACHABLE();
}

QCoro::Task<void> load(DeviceManagementStore &store, Listing listing, const QString &downloads)
{
    switch (listing) {
    case Listing::folder:
        return store.openRoot({u"r1"_s, u"内部存储"_s, false, 1, 2});
    case Listing::tree:
        return store.downloadToMac({folderEntry(u"d1"_s, u"Album"_s)}, {QUrl::fromLocalFile(downloads), {}});
    case Listing::trash:
        return store.loadTrash();
    case Listing::media:
        return store.loadMedia(ManagedMediaKind::photo);
    case Listing::applications:
        return store.loadApplications();
    }
    Q_UNREACHABLE();
}

template <typename Item> QStringList namesOf(const QList<Item> &items, QString Item::*name)
{
    QStringList names;
    for (const Item &item : items) {
        names.append(item.*name);
    }
    return names;
}

// The names of the list the load publishes; the walk below a folder publishes nothing but what it queues.
QStringList shown(const DeviceManagementStore &store, Listing listing, const FakeManagementChannel &channel)
{
    switch (listing) {
    case Listing::folder:
        return store.currentPage() ? namesOf(store.currentPage()->entries, &ManagedFileEntry::name) : QStringList();
    case Listing::tree: {
        QStringList names;
        for (const auto &[files, destination] : channel.downloads) {
            names += namesOf(files, &PreparedManagedDownloadFile::fileName);
        }
        return names;
    }
    case Listing::trash:
        return namesOf(store.trashEntries(), &ManagedTrashEntry::originalName);
    case Listing::media:
        return namesOf(store.mediaItems(), &ManagedMediaItem::name);
    case Listing::applications:
        return namesOf(store.applications(), &ManagedApplication::name);
    }
    Q_UNREACHABLE();
}

bool busy(const DeviceManagementStore &store)
{
    return store.isLoadingFiles() || store.isLoadingTrash() || store.isLoadingMedia() ||
           store.isLoadingApplications() || store.isPerformingFileOperation();
}

} // namespace

// Listing, what the phone does, requests of the hostile load, error shown.
using Bounds = TestTable<Listing, Phone, qsizetype, QString>;

class StoreListingBoundsTest : public QObject
{
    Q_OBJECT

private slots:
    void hostileListingsEndWithAMessage_data()
    {
        const Bounds rows;
        const QString longName =
            u"The phone's answer has a value that is not valid at \u201C%1\u201D: a name longer than "
            u"255 bytes, which no file system allows."_s;
        rows("folder repeats its token", Listing::folder, Phone::repeatsToken, 2, invalidFolderPaging);
        rows("folder token goes back", Listing::folder, Phone::tokenGoesBack, 2, invalidFolderPaging);
        rows("folder of empty pages without end", Listing::folder, Phone::emptyPagesForever, 1000, tooManyPages);
        rows("folder of heavy answers", Listing::folder, Phone::heavyAnswers, 4, tooManyBytes);
        rows("folder entry of a long name", Listing::folder, Phone::longName, 1, longName.arg(u"entries[0].name"_s));
        rows("walk repeats its token", Listing::tree, Phone::repeatsToken, 2, invalidFolderPaging);
        rows("walk of empty pages without end", Listing::tree, Phone::emptyPagesForever, 1000, tooManyPages);
        rows("walk of heavy answers", Listing::tree, Phone::heavyAnswers, 4, tooManyBytes);
        rows("trash repeats its token", Listing::trash, Phone::repeatsToken, 2, u"手机返回了无效的回收站分页"_s);
        rows("trash of heavy answers", Listing::trash, Phone::heavyAnswers, 4, tooManyBytes);
        rows("trash entry of a long name", Listing::trash, Phone::longName, 1,
             longName.arg(u"entries[0].originalName"_s));
        rows("media repeat their token", Listing::media, Phone::repeatsToken, 2, u"手机返回了无效的媒体分页"_s);
        rows("media token goes back", Listing::media, Phone::tokenGoesBack, 2, u"手机返回了无效的媒体分页"_s);
        rows("media of empty pages without end", Listing::media, Phone::emptyPagesForever, 1000, tooManyPages);
        rows("media of heavy answers", Listing::media, Phone::heavyAnswers, 4, tooManyBytes);
        rows("media item of a long name", Listing::media, Phone::longName, 1, longName.arg(u"items[0].name"_s));
        rows("applications repeat their token", Listing::applications, Phone::repeatsToken, 2,
             u"手机返回了无效的应用分页"_s);
        rows("applications of heavy answers", Listing::applications, Phone::heavyAnswers, 4, tooManyBytes);
    }

    // However a phone pages, a load ends: with the phone's error in the message bar, its flag down and the list shown
    // before it kept.
    void hostileListingsEndWithAMessage()
    {
        const auto [listing, phone, requests, error] = Bounds::fetch();
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        bool hostile = false;
        fixture.channel->answer = [&hostile, phone = phone](const Request &request) {
            if (request.action == u"device.snapshot"_s) {
                ManagedDeviceSnapshot snapshot;
                snapshot.capabilities.actions = {u"files.tree"_s};
                return Reply::json(encodeManaged(snapshot));
            }
            return hostile ? hostileAnswer(phone, request) : Reply::json(page(request, u"kept"_s, std::nullopt));
        };
        const QString downloads = fixture.folder.filePath(u"Downloads"_s);
        awaitTask(store.refreshOverview());
        if (listing != Listing::tree) {
            awaitTask(load(store, listing, downloads));
        }
        const QStringList before = shown(store, listing, *fixture.channel);
        QCOMPARE(before, listing == Listing::tree ? QStringList() : QStringList{u"kept"_s});

        hostile = true;
        fixture.channel->requests.clear();
        awaitTask(load(store, listing, downloads));
        QCOMPARE(fixture.channel->requests.size(), requests);
        QCOMPARE(store.errorMessage(), Text(error));
        QVERIFY(!busy(store));
        QCOMPARE(shown(store, listing, *fixture.channel), before);
    }
};

QTEST_GUILESS_MAIN(StoreListingBoundsTest)
#include "test_store_listing_bounds.moc"

#include "ManagedPaging.h"
#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QTest>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Request = FakeManagementChannel::Request;
using Text = std::optional<QString>;

// How the phone pages: what each answer brings and which token it gives for the next page.
enum class Phone
{
    repeatsToken,      // 0, then 5 again and again
    tokenGoesBack,     // 0, 5, then 3
    emptyPagesForever, // nothing, each with a greater token
    heavyAnswers,      // a quarter of a load's bytes in each answer, with a greater token
    longName,          // one page whose one item has a name of 256 bytes
};

namespace {

const QString folders = u"files.list"_s, trash = u"files.trash.list"_s, media = u"media.list"_s,
              applications = u"apps.list"_s;

// One page of the listing that `request` asks for, holding one item named `name` unless it is empty. Each record
// skips the keys of the others.
QJsonObject page(const Request &request, const QString &name, std::optional<qint64> next)
{
    const QString &list = request.action;
    const QJsonObject item =
        list == folders ? encodeManaged(fileEntry(u"f"_s, name))
        : list == trash ? encodeManaged(ManagedTrashEntry{u"t"_s, name, u"d"_s, u"/d"_s, u"r1"_s, false, 1, 5})
        : list == media ? encodeManaged(ManagedMediaItem{u"m"_s, name, ManagedMediaKind::photo, 1, 2, u"image/jpeg"_s,
                                                         3, 4, std::nullopt, u"DCIM/x"_s, std::nullopt})
                        : encodeManaged(ManagedApplication{u"a.b"_s, name, u"1"_s, 1, 2, 3, false, true, true});
    QJsonObject page{{u"version"_s, 1}, {u"parentId"_s, u"r1"_s}, {u"parentName"_s, u"r1"_s}};
    page.insert(list == media          ? u"items"_s
                : list == applications ? u"applications"_s
                                       : u"entries"_s,
                name.isEmpty() ? QJsonArray() : QJsonArray{item});
    if (next) {
        page.insert(u"nextPageToken"_s, *next);
    }
    return page;
}

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
        // Under a key no record declares: only the answer's size counts.
        const QString padding(ManagedPaging::maximumAnswerBytes / 4, u'x');
        return {u"{\"padding\":\""_s + padding + u"\","_s + Reply::json(page(request, {}, token + 1)).text.mid(1),
                nullptr};
    }
    case Phone::longName:
        return Reply::json(page(request, u"x"_s.repeated(256), std::nullopt));
    }
    Q_UNREACHABLE();
}

QCoro::Task<void> load(DeviceManagementStore &store, const QString &list)
{
    return list == folders ? store.openRoot({u"r1"_s, u"内部存储"_s, false, 1, 2})
           : list == trash ? store.loadTrash()
           : list == media ? store.loadMedia(ManagedMediaKind::photo)
                           : store.loadApplications();
}

template <typename Item> QStringList namesOf(const QList<Item> &items, QString Item::*name)
{
    QStringList names;
    for (const Item &item : items) {
        names.append(item.*name);
    }
    return names;
}

// The names of the items the store shows, busy or not, with its error.
QStringList shown(const DeviceManagementStore &store)
{
    const bool busy =
        store.isLoadingFiles() || store.isLoadingTrash() || store.isLoadingMedia() || store.isLoadingApplications();
    return (store.currentPage() ? namesOf(store.currentPage()->entries, &ManagedFileEntry::name) : QStringList()) +
               namesOf(store.trashEntries(), &ManagedTrashEntry::originalName) +
               namesOf(store.mediaItems(), &ManagedMediaItem::name) +
               namesOf(store.applications(), &ManagedApplication::name)
           << (busy ? u"busy"_s : u"idle"_s) << store.errorMessage().value_or(u"no error"_s);
}

} // namespace

// The list, what the phone does, requests of the hostile load, error shown.
using Bounds = TestTable<QString, Phone, qsizetype, QString>;

class StoreListingBoundsTest : public QObject
{
    Q_OBJECT

private slots:
    void hostileListingsEndWithAMessage_data()
    {
        const Bounds rows;
        const QString folderPaging = u"手机返回了无效的文件夹分页"_s, mediaPaging = u"手机返回了无效的媒体分页"_s;
        const QString pages = u"手机返回的分页过多，已停止加载"_s, bytes = u"手机返回的列表过大，已停止加载"_s;
        const QString longName = u"The phone's answer has a value that is not valid at \u201C%1\u201D: a name longer "
                                 u"than 255 bytes, which no file system allows."_s;
        rows("folder repeats its token", folders, Phone::repeatsToken, 2, folderPaging);
        rows("folder token goes back", folders, Phone::tokenGoesBack, 2, folderPaging);
        rows("folder of empty pages without end", folders, Phone::emptyPagesForever, 1000, pages);
        rows("folder of heavy answers", folders, Phone::heavyAnswers, 4, bytes);
        rows("folder entry of a long name", folders, Phone::longName, 1, longName.arg(u"entries[0].name"_s));
        rows("trash repeats its token", trash, Phone::repeatsToken, 2, u"手机返回了无效的回收站分页"_s);
        rows("trash of heavy answers", trash, Phone::heavyAnswers, 4, bytes);
        rows("trash entry of a long name", trash, Phone::longName, 1, longName.arg(u"entries[0].originalName"_s));
        rows("media repeat their token", media, Phone::repeatsToken, 2, mediaPaging);
        rows("media token goes back", media, Phone::tokenGoesBack, 2, mediaPaging);
        rows("media of empty pages without end", media, Phone::emptyPagesForever, 1000, pages);
        rows("media of heavy answers", media, Phone::heavyAnswers, 4, bytes);
        rows("media item of a long name", media, Phone::longName, 1, longName.arg(u"items[0].name"_s));
        rows("applications repeat their token", applications, Phone::repeatsToken, 2, u"手机返回了无效的应用分页"_s);
        rows("applications of heavy answers", applications, Phone::heavyAnswers, 4, bytes);
    }

    // However a phone pages, a load ends: with its error in the message bar, its flag down and the list shown before
    // it kept.
    void hostileListingsEndWithAMessage()
    {
        const auto [list, phone, requests, error] = Bounds::fetch();
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        bool hostile = false;
        fixture.channel->answer = [&hostile, phone = phone](const Request &request) {
            return hostile ? hostileAnswer(phone, request) : Reply::json(page(request, u"kept"_s, std::nullopt));
        };
        awaitTask(load(store, list));
        QCOMPARE(shown(store), (QStringList{u"kept"_s, u"idle"_s, u"no error"_s}));

        hostile = true;
        fixture.channel->requests.clear();
        awaitTask(load(store, list));
        QCOMPARE(fixture.channel->requests.size(), requests);
        QCOMPARE(shown(store), (QStringList{u"kept"_s, u"idle"_s, error}));
    }
};

QTEST_GUILESS_MAIN(StoreListingBoundsTest)
#include "test_store_listing_bounds.moc"

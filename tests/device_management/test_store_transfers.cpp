#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>
#include <QUuid>

#include <limits>
#include <optional>

using namespace Qt::StringLiterals;
using Reply = FakeManagementChannel::Reply;
using Request = FakeManagementChannel::Request;
using Text = std::optional<QString>;

namespace {

// The store over a phone that makes every folder asked for ("folder-1", "folder-2", … in order) unless it is named
// `refusedFolder`, lists empty folders, answers "files.tree" with `treePages` in order, and walks folders.
struct TransferPhone : ManagementStoreFixture
{
    QString refusedFolder;
    QList<ManagedFileTreePage> treePages;

    TransferPhone()
    {
        channel->answer = [this, made = 0, walked = 0](const Request &request) mutable {
            const QJsonObject payload = request.object();
            const QString name = payload.value(u"name"_s).toString();
            if (request.action == u"files.list"_s) {
                return Reply::json(filePageJson(payload.value(u"parentId"_s).toString(), {}));
            }
            if (request.action == u"files.tree"_s) {
                return Reply::json(encodeManaged(treePages.value(walked++)));
            }
            if (request.action == u"files.mkdir"_s) {
                return name == refusedFolder
                           ? Reply::failure(DeviceManagementRequestError::rejected(u"同名文件夹已存在"_s))
                           : Reply::json(encodeManaged(folderEntry(u"folder-%1"_s.arg(++made), name)));
            }
            ManagedDeviceSnapshot snapshot;
            snapshot.capabilities.actions = {u"files.tree"_s};
            return Reply::json(encodeManaged(snapshot));
        };
    }

    QString local() const { return folder.filePath(u"local"_s); }
    QString downloads() const { return folder.filePath(u"Downloads"_s); }
    NativeDownloadDestination destination(Text name = {}) const { return {QUrl::fromLocalFile(downloads()), name}; }
    QStringList localPaths(const QStringList &names) const
    {
        return QStringList(names).replaceInStrings(QRegularExpression(u"^"_s), local() + u'/');
    }

    // Opens the phone folder "dest", learns what the phone offers and forgets the requests that took.
    void prepare()
    {
        awaitTask(store->openRoot({u"dest"_s, u"Dest"_s, false, 0, 0}));
        awaitTask(store->refreshOverview());
        channel->requests.clear();
    }

    QString outcome() const
    {
        return store->errorMessage() ? u"error: "_s + *store->errorMessage() : store->message().value_or(QString());
    }

    // Each request as "files.list" or the action and its exact payload.
    QStringList requestLines() const
    {
        QStringList lines;
        for (const Request &request : channel->requests) {
            lines.append(request.action == u"files.list"_s ? request.action : request.action + u' ' + request.payload);
        }
        return lines;
    }

    // Each hand-over as "queued", then its files as remote folder|relative path|batch name|batch number|source.
    QStringList uploadLines() const
    {
        QStringList lines;
        QStringList batches;
        for (const QList<PreparedManagedUploadFile> &files : channel->uploads) {
            lines.append(u"queued"_s);
            for (const PreparedManagedUploadFile &file : files) {
                lines.append(u"%1|%2|%3|%4|%5"_s.arg(file.remoteDirectoryID, file.relativePath, file.batchName)
                                 .arg(number(batches, file.batchID))
                                 .arg(QDir(local()).relativeFilePath(file.sourceURL)));
            }
        }
        return lines;
    }

    // Each hand-over as "queued", then its files as file name|relative path|phone id|bytes|batch number|batch name.
    QStringList downloadLines() const
    {
        QStringList lines;
        QStringList batches;
        for (const auto &[files, destination] : channel->downloads) {
            lines.append(destination == downloads() ? u"queued"_s : destination);
            for (const PreparedManagedDownloadFile &file : files) {
                lines.append(u"%1|%2|%3|%4|%5|%6"_s.arg(file.fileName, file.relativePath, file.remoteFileID)
                                 .arg(file.totalBytes)
                                 .arg(number(batches, file.batchID.value_or(QString())))
                                 .arg(file.batchName.value_or(QString())));
            }
        }
        return lines;
    }

    // The folders below the download folder, relative to it.
    QStringList downloadedFolders() const
    {
        QStringList folders;
        QDirIterator iterator(downloads(), QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (iterator.hasNext()) {
            folders.append(QDir(downloads()).relativeFilePath(iterator.next()));
        }
        folders.sort();
        return folders;
    }

    // Where `id` first appeared in `seen`.
    static qsizetype number(QStringList &seen, const QString &id)
    {
        if (!seen.contains(id)) {
            seen.append(id);
        }
        return seen.indexOf(id);
    }
};

// "files.tree" pages of 100 entries: "x/" a folder, "x=N" a file of N bytes, "x" an empty file; ids t1, t2, ….
QList<ManagedFileTreePage> treePages(const QStringList &items)
{
    QList<ManagedFileTreePage> pages;
    for (qsizetype index = 0; index < items.size(); ++index) {
        if (index % 100 == 0) {
            if (!pages.isEmpty()) {
                pages.last().nextPageToken = index;
            }
            pages.append({1, u"d1"_s, u"Album"_s, {}, std::nullopt});
        }
        const QString path = items[index].section(u'=', 0, 0);
        const bool folder = path.endsWith(u'/');
        pages.last().entries.append({u"t%1"_s.arg(index + 1), folder ? path.chopped(1) : path, folder,
                                     items[index].section(u'=', 1).toLongLong(), 0});
    }
    return pages;
}

} // namespace

using Uploads = TestTable<QStringList, QStringList, QString, QStringList, QStringList, QString>;
using Switches = TestTable<QString, QString, QStringList, int>;
using Downloads = TestTable<QList<ManagedFileEntry>, Text, QStringList, QList<ManagedFileTreePage>,
                            std::optional<qint64>, QStringList, QStringList, QString>;
using Paths = TestTable<QString, QStringList>;
using Names = TestTable<QStringList, QString, QStringList>;
using LastComponents = TestTable<QString, QString>;

class StoreTransfersTest : public QObject
{
    Q_OBJECT

private slots:
    void upload_data()
    {
        // Local items, the chosen ones, the folder name the phone refuses, requests, hand-overs, outcome.
        const Uploads rows;
        const QString keepBoth =
            u"files.mkdir {\"conflictPolicy\":\"keep_both\",\"name\":\"%1\",\"parentId\":\"%2\"}"_s;
        const QString strict = u"files.mkdir {\"conflictPolicy\":\"error\",\"name\":\"%1\",\"parentId\":\"%2\"}"_s;
        const QStringList fileAndFolder{u"F"_s, u"T/A"_s, u"T/D/E"_s};
        rows("a file, then a folder with a file and a subfolder", fileAndFolder, {u"F"_s, u"T"_s}, {},
             {keepBoth.arg(u"T"_s, u"dest"_s), strict.arg(u"D"_s, u"folder-1"_s), u"files.list"_s},
             {u"queued"_s, u"dest|F|F|0|F"_s, u"folder-1|A|T|1|T/A"_s, u"folder-2|D/E|T|1|T/D/E"_s},
             u"已加入 3 个发送任务"_s);
        rows("only empty subfolders", {u"T/X/Y/"_s}, {u"T"_s}, {},
             {keepBoth.arg(u"T"_s, u"dest"_s), strict.arg(u"X"_s, u"folder-1"_s), strict.arg(u"Y"_s, u"folder-2"_s),
              u"files.list"_s},
             {u"queued"_s}, u"文件夹已创建"_s);
        rows("nested folder refused", fileAndFolder, {u"F"_s, u"T"_s}, u"D"_s,
             {keepBoth.arg(u"T"_s, u"dest"_s), strict.arg(u"D"_s, u"folder-1"_s)}, {}, u"error: 同名文件夹已存在"_s);
        rows("two folders of the same name", {u"P/T/a"_s, u"Q/T/b"_s}, {u"P/T"_s, u"Q/T"_s}, {},
             {keepBoth.arg(u"T"_s, u"dest"_s), keepBoth.arg(u"T"_s, u"dest"_s), u"files.list"_s},
             {u"queued"_s, u"folder-1|a|T|0|P/T/a"_s, u"folder-2|b|T|1|Q/T/b"_s}, u"已加入 2 个发送任务"_s);
        rows("plan refused", {u"T/l -> x"_s}, {u"T"_s}, {}, {}, {},
             u"error: \u201Cl\u201D包含替身或符号链接，未加入传输"_s);
    }

    void upload()
    {
        const auto [items, chosen, refusedFolder, requests, handOvers, outcome] = Uploads::fetch();
        TransferPhone phone;
        phone.refusedFolder = refusedFolder;
        QVERIFY(makeLocalItems(phone.local(), items));
        phone.prepare();
        awaitTask(phone.store->upload(phone.localPaths(chosen)));
        QCOMPARE(phone.requestLines(), requests);
        QCOMPARE(phone.uploadLines(), handOvers);
        QCOMPARE(phone.outcome(), outcome);
        QVERIFY(!phone.store->isPerformingFileOperation());
    }

    // One file operation at a time: a transfer asked for while another runs is dropped without a trace.
    void busyStoreDropsTransfers()
    {
        TransferPhone phone;
        QVERIFY(makeLocalItems(phone.local(), {u"F"_s}));
        phone.prepare();
        phone.store->setIsPerformingFileOperation(true);
        phone.store->setMessage(u"正在粘贴…"_s);
        awaitTask(phone.store->upload(phone.localPaths({u"F"_s})));
        awaitTask(phone.store->downloadToMac({fileEntry(u"f1"_s, u"a.txt"_s)}, phone.destination()));
        QCOMPARE(phone.channel->requests.size() + phone.channel->uploads.size() + phone.channel->downloads.size(), 0);
        QCOMPARE(phone.store->message(), Text(u"正在粘贴…"_s));
        QVERIFY(phone.store->isPerformingFileOperation());
    }

    void switchingPhones_data()
    {
        // Operation, the request in flight at the switch (none: the local walk), requests sent, hand-overs.
        const Switches rows;
        rows("upload while planning", u"upload"_s, {}, {}, 0);
        rows("upload during the last reload", u"upload"_s, u"files.list"_s, {u"files.list"_s}, 1);
        rows("download during the last tree page", u"download"_s, u"files.tree"_s, {u"files.tree"_s}, 0);
    }

    // The old phone's run ends silently: nothing more is sent, queued, created or published, and the flag of the
    // new phone's own operation stays.
    void switchingPhones()
    {
        const auto [operation, inFlight, requests, handOvers] = Switches::fetch();
        TransferPhone phone;
        QVERIFY(makeLocalItems(phone.local(), {u"F"_s}));
        phone.treePages = treePages({u"x/"_s, u"x/a.txt"_s});
        phone.prepare();
        phone.channel->hold = !inFlight.isEmpty();
        QCoro::Task<void> task =
            operation == u"upload"_s
                ? phone.store->upload(phone.localPaths({u"F"_s}))
                : phone.store->downloadToMac({folderEntry(u"d1"_s, u"Album"_s)}, phone.destination());
        if (!inFlight.isEmpty()) {
            QTRY_COMPARE(phone.channel->count(inFlight), 1);
        }
        phone.store->setActivePeer(u"peer-2"_s);
        phone.store->setIsPerformingFileOperation(true);
        phone.channel->release();
        awaitTask(task);
        QCOMPARE(phone.channel->actions(), requests);
        QCOMPARE(phone.channel->uploads.size() + phone.channel->downloads.size(), handOvers);
        QCOMPARE(phone.downloadedFolders(), QStringList());
        QCOMPARE(phone.store->message(), Text());
        QCOMPARE(phone.store->errorMessage(), Text());
        QVERIFY(phone.store->isPerformingFileOperation());
    }

    void download_data()
    {
        // Selection, save-panel name, local items, tree pages, free bytes, hand-overs, folders made, outcome.
        const Downloads rows;
        const QList<ManagedFileEntry> album{folderEntry(u"d1"_s, u"Album"_s)};
        const QString invalidPath = u"error: 手机返回了无效的文件位置"_s;
        rows("same file twice", {fileEntry(u"f1"_s, u"a.txt"_s), fileEntry(u"f1"_s, u"a.txt"_s)}, {}, {}, {}, {},
             {u"queued"_s, u"a.txt|a.txt|f1|10|0|a.txt"_s}, {}, u"已加入 1 个下载任务"_s);
        rows("taken names, also within the run", {fileEntry(u"f1"_s, u"a.txt"_s), fileEntry(u"f2"_s, u"a.txt"_s, -5)},
             {}, {u"a.txt"_s}, {}, {},
             {u"queued"_s, u"a.txt|a 2.txt|f1|10|0|a 2.txt"_s, u"a.txt|a 3.txt|f2|0|1|a 3.txt"_s}, {},
             u"已加入 2 个下载任务"_s);
        rows("save-panel name", {fileEntry(u"f1"_s, u"a.txt"_s)}, u"b.txt"_s, {}, {}, {},
             {u"queued"_s, u"a.txt|b.txt|f1|10|0|b.txt"_s}, {}, u"已加入 1 个下载任务"_s);
        rows("save-panel name for two items", {fileEntry(u"f1"_s, u"a.txt"_s), fileEntry(u"f2"_s, u"b.txt"_s)},
             u"c.txt"_s, {}, {}, {}, {}, {}, u"error: 多个项目不能共用同一个名称"_s);
        rows("save-panel name with a folder", {fileEntry(u"f1"_s, u"a.txt"_s)}, u"x/b.txt"_s, {}, {}, {}, {}, {},
             u"error: 保存名称无效"_s);
        rows("phone name with a folder", {fileEntry(u"f1"_s, u"x/a.txt"_s)}, {}, {}, {}, {}, {}, {},
             u"error: 手机返回了无效的文件名称"_s);
        rows("folder of empty folders", album, {}, {}, treePages({u"x/"_s, u"x/y/"_s}), {}, {u"queued"_s},
             {u"Album"_s, u"Album/x"_s, u"Album/x/y"_s}, u"文件夹已保存"_s);
        rows("folder with files, its name taken", album, {}, {u"Album/"_s},
             treePages({u"sub/deep/"_s, u"top.txt=3"_s, u"sub/"_s, u"sub/deep/f.txt=4"_s}), {},
             {u"queued"_s, u"top.txt|Album 2/top.txt|t2|3|0|Album 2"_s,
              u"f.txt|Album 2/sub/deep/f.txt|t4|4|0|Album 2"_s},
             {u"Album"_s, u"Album 2"_s, u"Album 2/sub"_s, u"Album 2/sub/deep"_s}, u"已加入 2 个下载任务"_s);
        for (const QString &path : {u"x/../y"_s, u"/x"_s, u"x//y"_s, u"x\\y"_s}) {
            rows(qPrintable(u"tree path "_s + path), album, {}, {}, treePages({u"ok/"_s, path}), {}, {}, {},
                 invalidPath);
        }
        rows("10000 tree entries", album, {}, {}, treePages(QStringList(10000, u"f"_s)), {}, {}, {},
             u"error: 单次最多下载 10000 个项目"_s);
        rows("10001 tree entries", album, {}, {}, treePages(QStringList(10001, u"f"_s)), {}, {}, {},
             u"error: 单个文件夹最多下载 10000 个项目"_s);
        rows("first page token 0", album, {}, {},
             {{1, u"d1"_s, u"Album"_s, {{u"t1"_s, u"a"_s, false, 1, 0}}, 0}, {1, u"d1"_s, u"Album"_s, {}, {}}}, {}, {},
             {}, u"error: 手机返回了无效的文件夹分页"_s);
        rows("too little free space", {fileEntry(u"f1"_s, u"a.txt"_s)}, {}, {}, {}, 9, {}, {},
             u"error: 所选位置空间不足，需要 10 字节，当前可用 9 字节"_s);
        rows("just enough free space", {fileEntry(u"f1"_s, u"a.txt"_s)}, {}, {}, {}, 10,
             {u"queued"_s, u"a.txt|a.txt|f1|10|0|a.txt"_s}, {}, u"已加入 1 个下载任务"_s);
        rows("free space unknown", {fileEntry(u"f1"_s, u"a.txt"_s, 1'000'000'000'000'000)}, {}, {}, {}, {},
             {u"queued"_s, u"a.txt|a.txt|f1|1000000000000000|0|a.txt"_s}, {}, u"已加入 1 个下载任务"_s);
        constexpr qint64 largest = std::numeric_limits<qint64>::max();
        rows("byte total overflows", {fileEntry(u"f1"_s, u"a"_s, largest), fileEntry(u"f2"_s, u"b"_s, largest)}, {}, {},
             {}, {}, {}, {}, u"error: 所选内容过大，无法创建下载任务"_s);
    }

    void download()
    {
        const auto [selection, saveName, items, pages, available, handOvers, folders, outcome] = Downloads::fetch();
        TransferPhone phone;
        QVERIFY(makeLocalItems(phone.downloads(), items));
        phone.treePages = pages;
        phone.availableBytes = available;
        phone.prepare();
        awaitTask(phone.store->downloadToMac(selection, phone.destination(saveName)));
        QCOMPARE(phone.downloadLines(), handOvers);
        // Every file gets a transfer id of its own: a new UUID in lower case.
        QSet<QString> transferIDs;
        for (const PreparedManagedDownloadFile &file : phone.channel->downloads.value(0).first) {
            QVERIFY(!QUuid::fromString(file.transferID).isNull() && file.transferID == file.transferID.toLower());
            transferIDs.insert(file.transferID);
        }
        QCOMPARE(transferIDs.size(), phone.channel->downloads.value(0).first.size());
        QCOMPARE(phone.downloadedFolders(), folders);
        QCOMPARE(phone.outcome(), outcome);
        QVERIFY(!phone.store->isPerformingFileOperation());
    }

    void relativePaths_data()
    {
        // Path, its components (none: refused).
        const Paths rows;
        const QString name255 = u"x"_s.repeated(255);
        rows("three components", u"DCIM/Camera/a.jpg"_s, {u"DCIM"_s, u"Camera"_s, u"a.jpg"_s});
        for (const QString &path :
             {u""_s, u"/a"_s, u"a/"_s, u"a//b"_s, u"./a"_s, u"a/../b"_s, u"a/b\\c"_s, u"a/b"_s + QChar(0) + u"c"_s}) {
            rows(qPrintable(u"refused: "_s + path), path, {});
        }
        rows("64 components", u"a/"_s.repeated(63) + u"a"_s, QStringList(64, u"a"_s));
        rows("65 components", u"a/"_s.repeated(64) + u"a"_s, {});
        rows("component of 255 bytes", name255, {name255});
        rows("component of 256 bytes", name255 + u"x"_s, {});
        // A path that keeps every other rule is at most 64 * 255 + 63 bytes long.
        rows("16383 bytes", (name255 + u'/').repeated(63) + name255, QStringList(64, name255));
        rows("16385 bytes", u"a"_s.repeated(16385), {});
        rows("85 three-byte characters", QString(85, QChar(0x4E2D)), {QString(85, QChar(0x4E2D))});
        rows("86 three-byte characters", QString(86, QChar(0x4E2D)), {});
    }

    void relativePaths()
    {
        const auto [path, components] = Paths::fetch();
        QStringList result;
        try {
            result = DeviceManagementStore::validateRelativePath(path);
        } catch (const DeviceManagementRequestError &error) {
            QCOMPARE(error, DeviceManagementRequestError::rejected(u"手机返回了无效的文件位置"_s));
        }
        QCOMPARE(result, components);
    }

    void uniqueLocalNames_data()
    {
        // Items in the folder, the wanted name, the names given for it in one run.
        const Names rows;
        rows("taken", {u"photo.jpg"_s}, u"photo.jpg"_s, {u"photo 2.jpg"_s});
        rows("taken twice", {u"photo.jpg"_s, u"photo 2.jpg"_s}, u"photo.jpg"_s, {u"photo 3.jpg"_s});
        rows("no extension", {u"README"_s}, u"README"_s, {u"README 2"_s});
        rows("last extension only", {u"archive.tar.gz"_s}, u"archive.tar.gz"_s, {u"archive.tar 2.gz"_s});
        rows("leading dot is no extension", {u".profile"_s}, u".profile"_s, {u".profile 2"_s});
        rows("dangling link counts", {u"a.txt -> missing"_s}, u"a.txt"_s, {u"a 2.txt"_s});
        rows("given names are reserved", {}, u"a.txt"_s, {u"a.txt"_s, u"a 2.txt"_s, u"a 3.txt"_s});
    }

    void uniqueLocalNames()
    {
        const auto [items, wanted, expected] = Names::fetch();
        QTemporaryDir folder;
        QVERIFY(makeLocalItems(folder.path(), items));
        QSet<QString> reserved;
        QStringList given;
        for (qsizetype call = 0; call < expected.size(); ++call) {
            given.append(DeviceManagementStore::uniqueLocalName(wanted, folder.path(), reserved));
        }
        QCOMPARE(given, expected);
        QCOMPARE(reserved, QSet<QString>(expected.cbegin(), expected.cend()));
    }

    void sortByDepth()
    {
        QList<ManagedFileTreeEntry> entries;
        for (const QString &path : {u"a/b/c"_s, u"a"_s, u"a/b"_s, u"b"_s, u"/c//"_s}) {
            entries.append({path, path, true, std::nullopt, 0});
        }
        DeviceManagementStore::sortByDepth(entries);
        QStringList order;
        for (const ManagedFileTreeEntry &entry : entries) {
            order.append(entry.relativePath);
        }
        QCOMPARE(order, (QStringList{u"a"_s, u"b"_s, u"/c//"_s, u"a/b"_s, u"a/b/c"_s}));
    }

    void lastPathComponent_data()
    {
        const LastComponents rows;
        rows("trailing slash", u"a/b/"_s, u"b"_s);
        rows("lone slash", u"/"_s, u"/"_s);
        rows("plain name", u"c.txt"_s, u"c.txt"_s);
        rows("doubled slash", u"a//b"_s, u"b"_s);
    }

    void lastPathComponent()
    {
        const auto [path, expected] = LastComponents::fetch();
        QCOMPARE(DeviceManagementStore::lastPathComponent(path), expected);
    }
};

QTEST_GUILESS_MAIN(StoreTransfersTest)
#include "test_store_transfers.moc"

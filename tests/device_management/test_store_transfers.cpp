#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>
#include <QUuid>

#include <limits>
#include <map>
#include <optional>
#include <set>

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
            if (request.action == u"files.list"_s) {
                return Reply::json(filePageJson(payload.value(u"parentId"_s).toString(), {}));
            }
            if (request.action == u"files.tree"_s) {
                return Reply::json(encodeManaged(treePages.value(walked++)));
            }
            if (request.action == u"files.mkdir"_s) {
                const QString name = payload.value(u"name"_s).toString();
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

    // What a run left: each "files.mkdir" payload, each hand-over as "queued" and its files, each folder below the
    // download folder as "made" and its path, then the store's error or message. Upload files read remote folder|
    // relative path|batch name|batch number|source; download files read file name|relative path|phone id|bytes|
    // batch number|batch name, then |the name given in the save dialog when there is one, marked when the transfer id
    // is no new lower-case UUID.
    QStringList lines() const
    {
        QStringList lines;
        for (const Request &request : channel->requests) {
            if (request.action == u"files.mkdir"_s) {
                lines.append(request.payload);
            }
        }
        std::map<QString, qsizetype> batches;
        const auto batch = [&batches](const QString &id) {
            return batches.try_emplace(id, batches.size()).first->second;
        };
        std::set<QString> transfers;
        for (const QList<PreparedManagedUploadFile> &files : channel->uploads) {
            lines.append(u"queued"_s);
            for (const PreparedManagedUploadFile &file : files) {
                lines.append(u"%1|%2|%3|%4|%5"_s.arg(file.remoteDirectoryID, file.relativePath, file.batchName)
                                 .arg(batch(file.batchID))
                                 .arg(QDir(local()).relativeFilePath(file.sourceURL)));
            }
        }
        for (const auto &[files, destination] : channel->downloads) {
            lines.append(destination == downloads() ? u"queued"_s : destination);
            for (const PreparedManagedDownloadFile &file : files) {
                const QString id = file.transferID;
                const bool fresh =
                    QUuid::fromString(id).toString(QUuid::WithoutBraces) == id && transfers.insert(id).second;
                lines.append(u"%1|%2|%3|%4|%5|%6%7%8"_s.arg(file.fileName, file.relativePath, file.remoteFileID)
                                 .arg(file.totalBytes)
                                 .arg(batch(file.batchID.value_or(QString())))
                                 .arg(file.batchName.value_or(QString()),
                                      file.chosenName ? u'|' + *file.chosenName : QString(),
                                      fresh ? QString() : u" (transfer id)"_s));
            }
        }
        QStringList made;
        QDirIterator folders(downloads(), QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (folders.hasNext()) {
            made.append(u"made "_s + QDir(downloads()).relativeFilePath(folders.next()));
        }
        made.sort();
        const Text error = store->errorMessage();
        return lines + made << (error ? u"error: "_s + *error : store->message().value_or(u"no message"_s));
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

using Status = TransferTaskRecord::Status;

// A managed upload into the phone folder `folder` (none: a plain send), for the phone `device`.
TransferTaskRecord managedUpload(const QString &id, Status status, const Text &folder = u"dest"_s,
                                 const QString &device = u"peer-1"_s)
{
    TransferTaskRecord task;
    task.id = id;
    task.trustedDeviceID = device;
    task.fileName = id + u".txt"_s;
    task.remoteDirectoryID = folder;
    task.status = status;
    return task;
}

} // namespace

using Completions = TestTable<QList<QList<TransferTaskRecord>>, int>;
using Uploads = TestTable<QStringList, QStringList, QString, QStringList>;
using Switches = TestTable<QString, QString, QStringList, QStringList>;
using Downloads = TestTable<QList<ManagedFileEntry>, Text, QStringList, QList<ManagedFileTreePage>,
                            std::optional<qint64>, QStringList>;
using Room = TestTable<std::optional<qint64>, QString, std::optional<qint64>, QString>;

class StoreTransfersTest : public QObject
{
    Q_OBJECT

private slots:
    void upload_data()
    {
        // Local items, the chosen ones, the folder name the phone refuses, what the run left.
        const Uploads rows;
        const QString keepBoth = uR"({"conflictPolicy":"keep_both","name":"%1","parentId":"%2"})"_s;
        const QString strict = uR"({"conflictPolicy":"error","name":"%1","parentId":"%2"})"_s;
        const QStringList fileAndFolder{u"F"_s, u"T/A"_s, u"T/D/E"_s};
        rows("a file, then a folder with a file and a subfolder", fileAndFolder, {u"F"_s, u"T"_s}, {},
             {keepBoth.arg(u"T"_s, u"dest"_s), strict.arg(u"D"_s, u"folder-1"_s), u"queued"_s, u"dest|F|F|0|F"_s,
              u"folder-1|A|T|1|T/A"_s, u"folder-2|D/E|T|1|T/D/E"_s, u"已加入 3 个发送任务"_s});
        rows("only empty subfolders", {u"T/X/Y/"_s}, {u"T"_s}, {},
             {keepBoth.arg(u"T"_s, u"dest"_s), strict.arg(u"X"_s, u"folder-1"_s), strict.arg(u"Y"_s, u"folder-2"_s),
              u"queued"_s, u"文件夹已创建"_s});
        rows("nested folder refused", fileAndFolder, {u"F"_s, u"T"_s}, u"D"_s,
             {keepBoth.arg(u"T"_s, u"dest"_s), strict.arg(u"D"_s, u"folder-1"_s), u"error: 同名文件夹已存在"_s});
        rows("plan refused", {u"T/l -> x"_s}, {u"T"_s}, {}, {u"error: \u201Cl\u201D包含替身或符号链接，未加入传输"_s});
    }

    void upload()
    {
        const auto [items, chosen, refusedFolder, left] = Uploads::fetch();
        TransferPhone phone;
        phone.refusedFolder = refusedFolder;
        QVERIFY(makeLocalItems(phone.local(), items));
        phone.prepare();
        awaitTask(phone.store->upload(phone.localPaths(chosen)));
        QCOMPARE(phone.lines(), left);
        QVERIFY(!phone.store->isPerformingFileOperation());
    }

    void uploadsLandingOnScreenReloadTheFolder_data()
    {
        // The task lists the transfer store publishes in one turn of the event loop, the reloads that follow.
        const Completions rows;
        const TransferTaskRecord a = managedUpload(u"a"_s, Status::sending), b = managedUpload(u"b"_s, Status::queued);
        const TransferTaskRecord aDone = managedUpload(u"a"_s, Status::completed),
                                 bDone = managedUpload(u"b"_s, Status::completed);
        rows("two completing together", {{a, b}, {aDone, bDone}}, 1);
        rows("two completing one after the other", {{a, b}, {aDone, b}, {aDone, bDone}}, 1);
        rows("one here, one into another folder",
             {{a, managedUpload(u"b"_s, Status::sending, u"elsewhere"_s)},
              {aDone, managedUpload(u"b"_s, Status::completed, u"elsewhere"_s)}},
             1);
        rows("into another folder",
             {{managedUpload(u"a"_s, Status::sending, u"elsewhere"_s)},
              {managedUpload(u"a"_s, Status::completed, u"elsewhere"_s)}},
             0);
        rows("into the same folder id of another phone",
             {{managedUpload(u"a"_s, Status::sending, u"dest"_s, u"peer-2"_s)},
              {managedUpload(u"a"_s, Status::completed, u"dest"_s, u"peer-2"_s)}},
             0);
        // A quick send names no folder: it may have landed in the one on screen.
        rows("a plain send",
             {{managedUpload(u"a"_s, Status::sending, {})}, {managedUpload(u"a"_s, Status::completed, {})}}, 1);
        rows("a plain send to another phone",
             {{managedUpload(u"a"_s, Status::sending, {}, u"peer-2"_s)},
              {managedUpload(u"a"_s, Status::completed, {}, u"peer-2"_s)}},
             0);
        rows("already complete when first seen", {{aDone, bDone}}, 0);
        rows("failed", {{a}, {managedUpload(u"a"_s, Status::failed)}}, 0);
        rows("the same completion published twice", {{a}, {aDone}, {aDone}}, 1);
        rows("gone from the list before it completed", {{a, b}, {b}, {aDone, bDone}}, 1);
        rows("failed, then sent again", {{a}, {managedUpload(u"a"_s, Status::failed)}, {a}, {aDone}}, 1);
        // Tasks move to other places of the list as others come and go before them.
        rows("completing after another came before it", {{a}, {b, a}, {b, aDone}}, 1);
        rows("completing after the one before it left", {{b, a}, {a}, {aDone}}, 1);
        rows("completing where another completed before", {{aDone, b}, {b}, {bDone}}, 1);
        rows("in the place of another that left, in the same state",
             {{a}, {managedUpload(u"b"_s, Status::sending)}, {bDone}}, 1);
    }

    void uploadsLandingOnScreenReloadTheFolder()
    {
        const auto [publications, reloads] = Completions::fetch();
        TransferPhone phone;
        phone.prepare();
        for (const QList<TransferTaskRecord> &tasks : publications) {
            phone.channel->setTasks(tasks);
        }
        QTRY_COMPARE(phone.channel->count(u"files.list"_s), reloads);
        QVERIFY(settleBackgroundWork());
        QCOMPARE(phone.channel->actions(), QStringList(reloads, u"files.list"_s));
        QVERIFY(!phone.store->isLoadingFiles());
    }

    // Completions while the folder lists again make one more listing after it; after a switch of phone, none.
    void uploadsLandingDuringAReloadMakeOneMore()
    {
        TransferPhone phone;
        phone.prepare();
        phone.channel->hold = true;
        QList<TransferTaskRecord> tasks{managedUpload(u"a"_s, Status::sending), managedUpload(u"b"_s, Status::sending),
                                        managedUpload(u"c"_s, Status::sending), managedUpload(u"d"_s, Status::sending)};
        phone.channel->setTasks(tasks);
        for (const QString &id : {u"a"_s, u"b"_s, u"c"_s}) {
            tasks[tasks.indexOf(managedUpload(id, Status::sending))].status = Status::completed;
            phone.channel->setTasks(tasks);
            QTRY_COMPARE(phone.channel->count(u"files.list"_s), 1);
        }
        QVERIFY(settleBackgroundWork());
        QCOMPARE(phone.channel->count(u"files.list"_s), 1);
        phone.channel->hold = false;
        phone.channel->release();
        QTRY_COMPARE(phone.channel->count(u"files.list"_s), 2);
        QVERIFY(settleBackgroundWork());
        QCOMPARE(phone.channel->count(u"files.list"_s), 2);

        tasks.last().status = Status::completed;
        phone.channel->setTasks(tasks);
        phone.store->setActivePeer(u"peer-2"_s);
        QVERIFY(settleBackgroundWork());
        QCOMPARE(phone.channel->actions(), QStringList(2, u"files.list"_s));
    }

    void switchingPhones_data()
    {
        // Operation, the request in flight at the switch (none: the local walk), actions sent, what the run left.
        const Switches rows;
        rows("upload while planning", u"upload"_s, {}, {}, {u"no message"_s});
        rows("upload during the last reload", u"upload"_s, u"files.list"_s, {u"files.list"_s},
             {u"queued"_s, u"dest|F|F|0|F"_s, u"no message"_s});
        rows("download during the last tree page", u"download"_s, u"files.tree"_s, {u"files.tree"_s},
             {u"no message"_s});
    }

    // The old phone's run ends silently: nothing more is sent, queued, created or published, and the flag of the
    // new phone's own operation stays.
    void switchingPhones()
    {
        const auto [operation, inFlight, actions, left] = Switches::fetch();
        TransferPhone phone;
        QVERIFY(makeLocalItems(phone.local(), {u"F"_s}));
        phone.treePages = treePages({u"x/"_s, u"x/a.txt"_s});
        phone.prepare();
        phone.channel->hold = !inFlight.isEmpty();
        QCoro::Task<void> task = operation == u"upload"_s
                                     ? phone.store->upload(phone.localPaths({u"F"_s}))
                                     : phone.store->downloadToMac({folderEntry(u"d1"_s, u"Album"_s)},
                                                                  {QUrl::fromLocalFile(phone.downloads()), {}});
        if (!inFlight.isEmpty()) {
            QTRY_COMPARE(phone.channel->count(inFlight), 1);
        }
        phone.store->setActivePeer(u"peer-2"_s);
        phone.store->setIsPerformingFileOperation(true);
        phone.channel->release();
        awaitTask(task);
        QCOMPARE(phone.channel->actions(), actions);
        QCOMPARE(phone.lines(), left);
        QVERIFY(phone.store->isPerformingFileOperation());
    }

    void download_data()
    {
        // Selection, save-panel name, local items, tree pages, free bytes, what the run left.
        const Downloads rows;
        const QList<ManagedFileEntry> album{folderEntry(u"d1"_s, u"Album"_s)};
        const QStringList invalidPath{u"error: 手机返回了无效的文件位置"_s};
        rows("same file twice, just enough free space",
             {fileEntry(u"f1"_s, u"a.txt"_s), fileEntry(u"f1"_s, u"a.txt"_s)}, {}, {}, {}, 10,
             {u"queued"_s, u"a.txt|a.txt|f1|10|0|a.txt"_s, u"已加入 1 个下载任务"_s});
        // A taken name gets a number before its last extension; a dangling link takes its name too.
        rows("local names taken, also within the run",
             {fileEntry(u"f1"_s, u"p.jpg"_s), fileEntry(u"f2"_s, u"README"_s), fileEntry(u"f3"_s, u"x.tar.gz"_s),
              fileEntry(u"f4"_s, u".profile"_s), fileEntry(u"f5"_s, u"a.txt"_s), fileEntry(u"f6"_s, u"a.txt"_s, -5)},
             {}, {u"p.jpg"_s, u"p 2.jpg"_s, u"README"_s, u"x.tar.gz"_s, u".profile"_s, u"a.txt -> missing"_s}, {}, {},
             {u"queued"_s, u"p.jpg|p 3.jpg|f1|10|0|p 3.jpg"_s, u"README|README 2|f2|10|1|README 2"_s,
              u"x.tar.gz|x.tar 2.gz|f3|10|2|x.tar 2.gz"_s, u".profile|.profile 2|f4|10|3|.profile 2"_s,
              u"a.txt|a 2.txt|f5|10|4|a 2.txt"_s, u"a.txt|a 3.txt|f6|0|5|a 3.txt"_s, u"已加入 6 个下载任务"_s});
        rows("save-panel name, free space unknown", {fileEntry(u"f1"_s, u"a.txt"_s, 1'000'000'000'000'000)}, u"b.txt"_s,
             {}, {}, {}, {u"queued"_s, u"a.txt|b.txt|f1|1000000000000000|0|b.txt|b.txt"_s, u"已加入 1 个下载任务"_s});
        // The name given goes with the task, which tells the name it was saved under when that is another.
        rows("save-panel name taken", {fileEntry(u"f1"_s, u"a.txt"_s)}, u"b.txt"_s, {u"b.txt"_s}, {}, {},
             {u"queued"_s, u"a.txt|b 2.txt|f1|10|0|b 2.txt|b.txt"_s, u"已加入 1 个下载任务"_s});
        rows("save-panel name for two items", {fileEntry(u"f1"_s, u"a.txt"_s), fileEntry(u"f2"_s, u"b.txt"_s)},
             u"c.txt"_s, {}, {}, {}, {u"error: 多个项目不能共用同一个名称"_s});
        rows("save-panel name with a folder", {fileEntry(u"f1"_s, u"a.txt"_s)}, u"x/b.txt"_s, {}, {}, {},
             {u"error: 保存名称无效"_s});
        rows("phone name with a folder", {fileEntry(u"f1"_s, u"x/a.txt"_s)}, {}, {}, {}, {},
             {u"error: 手机返回了无效的文件名称"_s});
        rows("folder of empty folders", album, {}, {}, treePages({u"x/"_s, u"x/y/"_s}), {},
             {u"queued"_s, u"made Album"_s, u"made Album/x"_s, u"made Album/x/y"_s, u"文件夹已保存"_s});
        rows("folder with files, its name taken", album, {}, {u"Album/"_s},
             treePages({u"sub/deep/"_s, u"top.txt=3"_s, u"sub/"_s, u"sub/deep/f.txt=4"_s}), {},
             {u"queued"_s, u"top.txt|Album 2/top.txt|t2|3|0|Album 2"_s,
              u"f.txt|Album 2/sub/deep/f.txt|t4|4|0|Album 2"_s, u"made Album"_s, u"made Album 2"_s,
              u"made Album 2/sub"_s, u"made Album 2/sub/deep"_s, u"已加入 2 个下载任务"_s});
        // The path rules, on the paths of a walked folder: a path that keeps every rule is at most 64 components of
        // 255 bytes.
        const QString name255 = u"x"_s.repeated(255), longest = (name255 + u'/').repeated(63) + name255;
        rows("tree path of 16383 bytes", album, {}, {}, treePages({longest}), {},
             {u"queued"_s, u"%1|Album/%2|t1|0|0|Album"_s.arg(name255, longest), u"made Album"_s,
              u"已加入 1 个下载任务"_s});
        for (const QString &path :
             {u""_s, u"/a"_s, u"a//b"_s, u"./a"_s, u"x/../y"_s, u"../y/"_s, u"a/b\\c"_s, u"a/b"_s + QChar(0) + u"c"_s,
              u"a/"_s.repeated(64) + u"a"_s, QString(86, QChar(0x4E2D))}) {
            rows(qPrintable(u"tree path "_s + path.left(20)), album, {}, {}, treePages({u"ok/"_s, path}), {},
                 invalidPath);
        }
        rows("10000 tree entries", album, {}, {}, treePages(QStringList(10000, u"f"_s)), {},
             {u"error: 单次最多下载 10000 个项目"_s});
        rows("10001 tree entries", album, {}, {}, treePages(QStringList(10001, u"f"_s)), {},
             {u"error: 单个文件夹最多下载 10000 个项目"_s});
        rows("first page token 0", album, {}, {},
             {{1, u"d1"_s, u"Album"_s, {{u"t1"_s, u"a"_s, false, 1, 0}}, 0}, {1, u"d1"_s, u"Album"_s, {}, {}}}, {},
             {u"error: 手机返回了无效的文件夹分页"_s});
        rows("too little free space", {fileEntry(u"f1"_s, u"a.txt"_s)}, {}, {}, {}, 9,
             {u"error: 所选位置空间不足，需要 10 字节，当前可用 9 字节"_s});
        constexpr qint64 largest = std::numeric_limits<qint64>::max();
        rows("byte total overflows", {fileEntry(u"f1"_s, u"a"_s, largest), fileEntry(u"f2"_s, u"b"_s, largest)}, {}, {},
             {}, {}, {u"error: 所选内容过大，无法创建下载任务"_s});
    }

    void download()
    {
        const auto [selection, saveName, items, pages, available, left] = Downloads::fetch();
        TransferPhone phone;
        QVERIFY(makeLocalItems(phone.downloads(), items));
        phone.treePages = pages;
        phone.availableBytes = available;
        phone.prepare();
        awaitTask(phone.store->downloadToMac(selection, {QUrl::fromLocalFile(phone.downloads()), saveName}));
        QCOMPARE(phone.lines(), left);
        QVERIFY(!phone.store->isPerformingFileOperation());
        if (phone.store->errorMessage()) {
            QCOMPARE(phone.store->message(), Text{}); // no "preparing" beside the reason it stopped
        }
    }

    // A run of a 10-byte file and a folder of 20 and 5 bytes lands 35 bytes in the chosen folder and passes each file
    // through the receive folder, which is let go of the file once it is delivered.
    void downloadRoom_data()
    {
        // Free bytes in the chosen folder, where the receive folder is, its free bytes, what the run left.
        const Room rows;
        const QString queued = u"已加入 3 个下载任务"_s,
                      chosenShort = u"error: 所选位置空间不足，需要 35 字节，当前可用 34 字节"_s;
        rows("one disk with room for the run", 35, {}, {}, queued);
        rows("one disk one byte short", 34, {}, {}, chosenShort);
        rows("another disk with room for the largest file", 35, u"own disk"_s, 20, queued);
        rows("another disk short of the largest file", 35, u"own disk"_s, 19,
             u"error: 接收文件夹空间不足，需要 20 字节，当前可用 19 字节"_s);
        rows("another disk, the chosen folder short", 34, u"own disk"_s, 1000, chosenShort);
        rows("another disk, both short", 34, u"own disk"_s, 0, chosenShort);
        rows("another disk of unknown room", 35, u"own disk"_s, {}, queued);
        rows("receive folder gone, the disk it is made on short", 35, u"gone"_s, 19,
             u"error: 接收文件夹空间不足，需要 20 字节，当前可用 19 字节"_s);
    }

    void downloadRoom()
    {
        const auto [chosenFree, receiveDisk, receiveFree, left] = Room::fetch();
        TransferPhone phone;
        const QString receiveFolder = phone.folder.filePath(u"Downloads/Tavrine"_s);
        phone.channel->receiveFolderPath = receiveFolder;
        phone.availableBytes = chosenFree;
        if (receiveDisk == u"own disk"_s) {
            QVERIFY(QDir().mkpath(receiveFolder));
            phone.availableBytesByFolder[receiveFolder] = receiveFree;
        } else if (receiveDisk == u"gone"_s) {
            // Neither it nor the folder above it is there: it is made again on the disk of the nearest one that is.
            phone.availableBytesByFolder[phone.folder.path()] = receiveFree;
        } else {
            QVERIFY(QDir().mkpath(receiveFolder));
        }
        phone.treePages = treePages({u"a=20"_s, u"b=5"_s});
        phone.prepare();
        const QList<ManagedFileEntry> selection{fileEntry(u"f1"_s, u"c.txt"_s), folderEntry(u"d1"_s, u"Album"_s)};
        awaitTask(phone.store->downloadToMac(selection, {QUrl::fromLocalFile(phone.local()), std::nullopt}));
        QCOMPARE(phone.lines().last(), left);
        QCOMPARE(phone.channel->downloads.size(), left.startsWith(u"error: "_s) ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(StoreTransfersTest)
#include "test_store_transfers.moc"

#include "FullDisk.h"
#include "ManagedDownloadDelivery.h"
#include "TestSupport.h"

#include <QDirIterator>
#include <QTemporaryDir>

#include <csignal>
#include <cstdarg>
#include <functional>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using Purpose = TransferTaskRecord::DeliveryPurpose;

namespace {

const QByteArray receivedContents = "received contents";
// As long as the received file, so that only the contents tell them apart.
const QByteArray otherContents = "other contents!!!";
const QString invalidPath = u"保存位置包含无效路径"_s;
const QString receivedFileMissing = u"已接收的文件不可用，请重试"_s;
const QString sizeMismatch = u"文件校验未通过，请重试"_s;

ino_t inodeOf(const QString &path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

// The description of the delivery or file error that body threw; empty when it threw none.
QString failureOf(const std::function<void()> &body)
{
    try {
        body();
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    }
    return {};
}

const QString transferID = u"0b4c6f5e-1a2b-4c3d-8e9f-0123456789ab"_s;
const QString partialName = u".tavrine-"_s + transferID + u".partial"_s;

// As a destination on another file system than the inbox: a hard link from one to the other fails with EXDEV.
bool linksCrossFileSystems = false;

// A receive folder holding "a.jpg" and an empty destination folder, side by side.
struct Tree
{
    QTemporaryDir folder;
    QString inbox = folder.filePath(u"inbox"_s);
    QString destination = folder.filePath(u"chosen"_s);

    Tree()
    {
        QDir().mkpath(destination);
        destination = QFileInfo(destination).canonicalFilePath();
        QVERIFY(writeFile(inbox + u"/a.jpg"_s, receivedContents));
    }

    ManagedDownloadDelivery::Result deliver(const QString &relativePath, Purpose purpose = Purpose::export_,
                                            const QString &fileName = u"a.jpg"_s, qint64 sizeError = 0) const
    {
        return ManagedDownloadDelivery::deliver(transferID, inbox, fileName, destination.toUtf8(), relativePath,
                                                QFileInfo(inbox + u'/' + fileName).size() + sizeError, purpose);
    }

    // Every item below `root` (the destination unless given), hidden ones included, as relative paths; with
    // `identities`, each with its inode and contents.
    QStringList items(QString root = {}, bool identities = false) const
    {
        root = root.isEmpty() ? destination : root;
        QStringList result;
        QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            result.append(QDir(root).relativeFilePath(path));
            if (identities)
                result.last() += u" %1 %2"_s.arg(inodeOf(path)).arg(QString::fromUtf8(contentsOf(path)));
        }
        result.sort();
        return result;
    }
};

// Another program at work in the destination: run once, just before the delivery makes an item whose path or
// name holds `trigger`.
struct Intruder
{
    QByteArray trigger;
    std::function<void()> act;

    void beforeMaking(const char *path)
    {
        if (!trigger.isEmpty() && QByteArrayView(path).contains(trigger)) {
            trigger.clear();
            act();
        }
    }
} intruder;

template <typename Function> Function *nextDefinition(const char *name)
{
    return reinterpret_cast<Function *>(::dlsym(RTLD_NEXT, name));
}

// What the delivery asks the disk to keep, in order: "bytes" of a file, with whether `watched` (the delivered file's
// path) existed by then, or "folder" and the folder's path below `root`.
struct DiskSyncs
{
    QString root;
    QString watched;
    QStringList calls;

    void record(int descriptor, bool folder)
    {
        if (root.isEmpty())
            return;
        if (!folder) {
            calls.append(QFile::exists(watched) ? u"bytes, placed"_s : u"bytes, not placed"_s);
            return;
        }
        const QString path = QFile::symLinkTarget(u"/proc/self/fd/%1"_s.arg(descriptor));
        calls.append(u"folder "_s + QDir(root).relativeFilePath(path));
    }
} diskSyncs;

// The mode given to a call that opens `path` with `flags`; one that makes a file is seen by the intruder first.
mode_t creationMode(const char *path, int flags, va_list arguments)
{
    if ((flags & O_CREAT) == 0)
        return 0;
    intruder.beforeMaking(path);
    return va_arg(arguments, mode_t);
}

// The received file's name, the relative path asked for, how many bytes the size given is over the file's, and
// the text of the refusal (empty when delivered).
using PathChecks = TestTable<QString, QString, qint64, QString>;
// The purpose, what lies in the destination, the relative path asked for, and the outcome.
using Targets = TestTable<Purpose, QStringList, QString, QString>;

} // namespace

// The calls that make files and folders, seen by the intruder first.
extern "C" {

int open(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = creationMode(path, flags, arguments);
    va_end(arguments);
    static const auto next = nextDefinition<int(const char *, int, ...)>("open");
    return next(path, flags, mode);
}

int openat(int folder, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = creationMode(path, flags, arguments);
    va_end(arguments);
    static const auto next = nextDefinition<int(int, const char *, int, ...)>("openat");
    return next(folder, path, flags, mode);
}

int linkat(int folder, const char *path, int newFolder, const char *newPath, int flags)
{
    intruder.beforeMaking(newPath);
    if (linksCrossFileSystems) {
        errno = EXDEV;
        return -1;
    }
    static const auto next = nextDefinition<int(int, const char *, int, const char *, int)>("linkat");
    return next(folder, path, newFolder, newPath, flags);
}

int fdatasync(int descriptor)
{
    diskSyncs.record(descriptor, false);
    static const auto next = nextDefinition<int(int)>("fdatasync");
    return next(descriptor);
}

int fsync(int descriptor)
{
    struct stat status = {};
    diskSyncs.record(descriptor, ::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode));
    static const auto next = nextDefinition<int(int)>("fsync");
    return next(descriptor);
}

int mkdir(const char *path, mode_t mode)
{
    intruder.beforeMaking(path);
    static const auto next = nextDefinition<int(const char *, mode_t)>("mkdir");
    return next(path, mode);
}

int mkdirat(int folder, const char *path, mode_t mode)
{
    intruder.beforeMaking(path);
    static const auto next = nextDefinition<int(int, const char *, mode_t)>("mkdirat");
    return next(folder, path, mode);
}
}

class ManagedDownloadDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    // failure: the text of the refusal, which leaves the destination untouched; empty when delivered, which
    // makes the missing folders and leaves the received file in place.
    void relativePathsAndReceivedFilesAreChecked_data()
    {
        const PathChecks rows;
        const QString a = u"a.jpg"_s;
        rows("nested folders", a, u"photos/2024/a.jpg"_s, 0, {});
        rows("65 components", a, u"d/"_s.repeated(64) + a, 0, {});
        rows("255-byte component", a, u"x"_s.repeated(251) + u".jpg"_s, 0, {});
        rows("parent", a, u"../a.jpg"_s, 0, invalidPath);
        rows("absolute", a, u"/a.jpg"_s, 0, invalidPath);
        rows("empty component", a, u"a//b.jpg"_s, 0, invalidPath);
        rows("backslash", a, u"a\\b.jpg"_s, 0, invalidPath);
        rows("256-byte component", a, u"x"_s.repeated(256), 0, invalidPath);
        rows("256 bytes in 128 characters", a, u"é"_s.repeated(128), 0, invalidPath);
        rows("66 components", a, u"d/"_s.repeated(65) + a, 0, invalidPath);
        rows("over 16384 bytes", a, (u"x"_s.repeated(254) + u'/').repeated(64) + u"y"_s.repeated(100), 0, invalidPath);
        rows("received name with folder", u"../a.jpg"_s, a, 0, invalidPath);
        // The received file is checked before any folder is made.
        rows("received file absent", u"b.jpg"_s, u"sub/b.jpg"_s, 0, receivedFileMissing);
        rows("received file 1 byte short", a, u"sub/a.jpg"_s, 1, receivedFileMissing);
    }

    void relativePathsAndReceivedFilesAreChecked()
    {
        const auto [fileName, relativePath, sizeError, failure] = PathChecks::fetch();
        Tree tree;
        ManagedDownloadDelivery::Result result;
        const auto deliver = [&, path = relativePath, name = fileName, error = sizeError] {
            result = tree.deliver(path, Purpose::export_, name, error);
        };
        QCOMPARE(failureOf(deliver), failure);
        if (!failure.isEmpty()) {
            QCOMPARE(tree.items(), QStringList());
            return;
        }
        QCOMPARE(result, ManagedDownloadDelivery::Result({tree.destination + u'/' + relativePath, relativePath}));
        QCOMPARE(contentsOf(result.url), receivedContents);
        QCOMPARE(contentsOf(tree.inbox + u'/' + fileName), receivedContents);
        for (const QString &item : tree.items())
            QVERIFY2(relativePath.startsWith(item), qPrintable(item));
    }

    // existing: what lies in the destination beforehand: "name" a file of other contents, "name=" a copy of the
    // received file, "name/" a folder holding a file, "name->target" a link. Beside the destination lie a folder
    // "outside" and "outside.jpg", a copy of the received file, so that a link followed makes the file look delivered.
    void whatLiesAtTheTargetIsKeptOrReplaced_data()
    {
        const Targets rows;
        const QString a = u"a.jpg"_s;
        rows("folder is a link outside", Purpose::export_, {u"photos->../outside"_s}, u"photos/a.jpg"_s, invalidPath);
        rows("folder is a link inside", Purpose::export_, {u"photos->."_s}, u"photos/a.jpg"_s, invalidPath);
        rows("folder is a file", Purpose::export_, {u"photos"_s}, u"photos/a.jpg"_s, invalidPath);
        rows("export: names taken", Purpose::export_, {a, u"a 2.jpg"_s}, a, u"a 3.jpg"_s);
        rows("export: no extension", Purpose::export_, {u"docs/notes"_s}, u"docs/notes"_s, u"docs/notes 2"_s);
        rows("export: link", Purpose::export_, {u"a.jpg->../outside.jpg"_s}, a, u"a 2.jpg"_s);
        rows("export: delivered before", Purpose::export_, {u"docs/a.jpg="_s}, u"docs/a.jpg"_s, u"docs/a.jpg"_s);
        rows("preview: file replaced", Purpose::preview, {a}, a, a);
        rows("preview: dangling link", Purpose::preview, {u"a.jpg->../nowhere.jpg"_s}, a, a);
        rows("preview: never a folder", Purpose::preview, {u"a.jpg/"_s}, a, sizeMismatch);
    }

    // outcome: the relative path delivered, or the text of the refusal. Nothing but a preview's target changes;
    // nothing is written through a link.
    void whatLiesAtTheTargetIsKeptOrReplaced()
    {
        const auto [purpose, existing, relativePath, outcome] = Targets::fetch();
        Tree tree;
        QVERIFY(QDir().mkpath(tree.folder.filePath(u"outside"_s)));
        QVERIFY(writeFile(tree.folder.filePath(u"outside.jpg"_s), receivedContents));
        for (const QString &entry : existing) {
            QString path = tree.destination + u'/' + entry.section(u"->"_s, 0, 0);
            if (entry.contains(u"->"))
                QVERIFY(QFile::link(entry.section(u"->"_s, 1), path));
            else if (path.endsWith(u'/'))
                QVERIFY(writeFile(path + u"kept"_s, "kept"));
            else if (path.endsWith(u'='))
                QVERIFY(writeFile(path.chopped(1), receivedContents));
            else
                QVERIFY(writeFile(path, otherContents));
        }
        QStringList before = tree.items(tree.folder.path(), true);
        ManagedDownloadDelivery::Result result;
        const auto deliver = [&, path = relativePath, p = purpose] {
            result = tree.deliver(path, p);
        };
        const QString failure = failureOf(deliver);
        QCOMPARE(failure.isEmpty() ? result.relativePath : failure, outcome);
        QStringList after = tree.items(tree.folder.path(), true);
        if (failure.isEmpty() && !existing.contains(outcome + u'=')) {
            QVERIFY(!QFileInfo(result.url).isSymLink());
            QCOMPARE(contentsOf(result.url), receivedContents);
            const auto isTarget = [&, target = u"chosen/"_s + outcome + u' '](const QString &item) {
                return item.startsWith(target);
            };
            before.removeIf(isTarget);
            after.removeIf(isTarget);
        }
        QCOMPARE(after, before);
    }

    void aFolderSwappedForALinkDuringTheDelivery_data()
    {
        // When the folder is swapped, what the folder outside holds, and whether the destination lies on another file
        // system than the inbox.
        const TestTable<QByteArray, QStringList, bool> rows;
        rows("as a folder inside it is made", "2024", {}, false);
        rows("as the file is linked", ".partial", {u"2024"_s}, false);
        rows("as the file is written", ".partial", {u"2024"_s}, true);
    }

    // Another program swaps a folder of the path for a link to a folder outside after the delivery has checked it:
    // nothing lands outside; the file goes on into the folder that was checked, wherever it has been moved.
    void aFolderSwappedForALinkDuringTheDelivery()
    {
        const auto [trigger, outsideItems, otherFileSystem] = TestTable<QByteArray, QStringList, bool>::fetch();
        linksCrossFileSystems = otherFileSystem;
        Tree tree;
        const QString outside = tree.folder.filePath(u"outside"_s);
        for (const QString &item : outsideItems)
            QVERIFY(QDir().mkpath(outside + u'/' + item));
        QVERIFY(QDir().mkpath(outside));
        intruder = {trigger, [&] {
                        QDir(tree.destination).rename(u"photos"_s, u"photos moved"_s);
                        QFile::link(outside, tree.destination + u"/photos"_s);
                    }};
        ManagedDownloadDelivery::Result result;
        QCOMPARE(failureOf([&] { result = tree.deliver(u"photos/2024/a.jpg"_s); }), QString());
        linksCrossFileSystems = false;
        QVERIFY(intruder.trigger.isEmpty());
        QCOMPARE(tree.items(outside), outsideItems);
        QCOMPARE(result.relativePath, u"photos/2024/a.jpg"_s);
        QCOMPARE(tree.items(),
                 (QStringList{u"photos"_s, u"photos moved"_s, u"photos moved/2024"_s, u"photos moved/2024/a.jpg"_s}));
        QCOMPARE(contentsOf(tree.destination + u"/photos moved/2024/a.jpg"_s), receivedContents);
    }

    void aFailedCopyLeavesNoPartialFile()
    {
        // File permissions do not bind root, so a file-size limit makes the copy's writes fail instead.
        Tree tree;
        QVERIFY(writeFile(tree.inbox + u"/big.bin"_s, QByteArray(256 * 1024, 'b')));
        rlimit original{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &original), 0);
        rlimit limited = original;
        limited.rlim_cur = 64 * 1024;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        linksCrossFileSystems = true;
        const QString failure = failureOf([&] { tree.deliver(u"sub/big.bin"_s, Purpose::export_, u"big.bin"_s); });
        linksCrossFileSystems = false;
        ::setrlimit(RLIMIT_FSIZE, &original);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(!failure.isEmpty());
        QCOMPARE(tree.items(), QStringList(u"sub"_s));
        QCOMPARE(QFileInfo(tree.inbox + u"/big.bin"_s).size(), 256 * 1024);
    }

    // On the inbox's file system the delivered file is the received one under a second name, with no copy; the inbox
    // keeps its name until the host is told of the delivery. Elsewhere it is a copy.
    void aDeliveryOnTheInboxFileSystemIsNoCopy_data()
    {
        const TestTable<Purpose, bool> rows; // the purpose, and whether the destination lies on another file system
        rows("export", Purpose::export_, false);
        rows("preview", Purpose::preview, false);
        rows("export elsewhere", Purpose::export_, true);
    }
    void aDeliveryOnTheInboxFileSystemIsNoCopy()
    {
        const auto [purpose, otherFileSystem] = TestTable<Purpose, bool>::fetch();
        Tree tree;
        linksCrossFileSystems = otherFileSystem;
        ManagedDownloadDelivery::Result result;
        QCOMPARE(failureOf([&, p = purpose] { result = tree.deliver(u"photos/a.jpg"_s, p); }), QString());
        linksCrossFileSystems = false;
        QCOMPARE(contentsOf(result.url), receivedContents);
        QCOMPARE(contentsOf(tree.inbox + u"/a.jpg"_s), receivedContents);
        QCOMPARE(inodeOf(result.url) == inodeOf(tree.inbox + u"/a.jpg"_s), !otherFileSystem);
        QCOMPARE(tree.items(), (QStringList{u"photos"_s, u"photos/a.jpg"_s}));
    }

    void deliveredFileIsOnTheDiskBeforeItsName_data()
    {
        // Whether the destination lies on another file system than the inbox, what it holds beforehand ("name=" a
        // copy of the received file), the relative path, and the syncs asked of the disk.
        const TestTable<bool, QString, QString, QStringList> rows;
        const QString bytes = u"bytes, not placed"_s;
        rows("linked into a folder made for it", false, {}, u"photos/2024/a.jpg"_s,
             {bytes, u"folder photos/2024"_s, u"folder photos"_s, u"folder ."_s});
        rows("copied into a folder made for it", true, {}, u"photos/2024/a.jpg"_s,
             {bytes, u"folder photos/2024"_s, u"folder photos"_s, u"folder ."_s});
        rows("copied into a folder that was there", true, u"photos/"_s, u"photos/a.jpg"_s, {bytes, u"folder photos"_s});
        rows("delivered before", false, u"a.jpg="_s, u"a.jpg"_s, {u"bytes, placed"_s, u"folder ."_s});
    }

    // The delivered file's bytes are synced before it takes its name, then its folder, and every folder in which the
    // delivery made a folder, before the delivery returns.
    void deliveredFileIsOnTheDiskBeforeItsName()
    {
        const auto [otherFileSystem, existing, relativePath, expected] =
            TestTable<bool, QString, QString, QStringList>::fetch();
        Tree tree;
        if (existing.endsWith(u'/'))
            QVERIFY(QDir().mkpath(tree.destination + u'/' + existing));
        else if (!existing.isEmpty())
            QVERIFY(writeFile(tree.destination + u'/' + existing.chopped(1), receivedContents));
        linksCrossFileSystems = otherFileSystem;
        diskSyncs = {tree.destination, tree.destination + u'/' + relativePath, {}};
        const QString failure = failureOf([&, path = relativePath] { tree.deliver(path); });
        const QStringList calls = diskSyncs.calls;
        diskSyncs = {};
        linksCrossFileSystems = false;
        QCOMPARE(failure, QString());
        QCOMPARE(calls, expected);
    }

    // A download of 160 KiB into a file system with 256 KiB: received into the inbox, it fits once but not twice.
    void aDownloadNeedsItsSizeOnceOnOneFileSystem()
    {
        QTemporaryDir folder;
        SmallFileSystem small(folder.path(), 256);
        if (!small.isMounted())
            QSKIP("this process may not mount a file system");
        const QString inbox = folder.filePath(u"inbox"_s);
        const QString destination = folder.filePath(u"chosen"_s);
        QVERIFY(QDir().mkpath(destination));
        const QByteArray contents(160 * 1024, 'd');
        QVERIFY(writeFile(inbox + u"/big.bin"_s, contents));
        ManagedDownloadDelivery::Result result;
        QCOMPARE(failureOf([&] {
                     result = ManagedDownloadDelivery::deliver(transferID, inbox, u"big.bin"_s, destination.toUtf8(),
                                                               u"big.bin"_s, contents.size(), Purpose::export_);
                 }),
                 QString());
        QCOMPARE(contentsOf(result.url), contents);
    }

    // A delivery cut short (the application killed while it wrote) left the task's hidden file behind: the next
    // attempt of the same task replaces it, and one that fails takes it away as well.
    void aPartialFileLeftBeforeGoesWithTheNextAttempt_data()
    {
        // Whether the destination lies on another file system, the purpose, what lies at the target ("folder" or
        // nothing), and the outcome.
        const TestTable<bool, Purpose, QString, QString> rows;
        rows("linked", false, Purpose::export_, {}, u"sub/a.jpg"_s);
        rows("copied", true, Purpose::export_, {}, u"sub/a.jpg"_s);
        rows("delivered before", false, Purpose::export_, u"copy"_s, u"sub/a.jpg"_s);
        rows("failed", true, Purpose::preview, u"folder"_s, sizeMismatch);
    }
    void aPartialFileLeftBeforeGoesWithTheNextAttempt()
    {
        const auto [otherFileSystem, purpose, atTarget, outcome] = TestTable<bool, Purpose, QString, QString>::fetch();
        Tree tree;
        QVERIFY(writeFile(tree.destination + u"/sub/"_s + partialName, "half a file"));
        if (atTarget == u"folder")
            QVERIFY(QDir().mkpath(tree.destination + u"/sub/a.jpg"_s));
        if (atTarget == u"copy")
            QVERIFY(writeFile(tree.destination + u"/sub/a.jpg"_s, receivedContents));
        linksCrossFileSystems = otherFileSystem;
        ManagedDownloadDelivery::Result result;
        const QString failure = failureOf([&, p = purpose] { result = tree.deliver(u"sub/a.jpg"_s, p); });
        linksCrossFileSystems = false;
        QCOMPARE(failure.isEmpty() ? result.relativePath : failure, outcome);
        QVERIFY(!QFileInfo::exists(tree.destination + u"/sub/"_s + partialName));
    }

    void destinationOfARecord()
    {
        TransferTaskRecord record;
        record.destinationBookmark = "/data/chosen";
        record.destinationRelativePath = u"photos/a.jpg"_s;
        QCOMPARE(ManagedDownloadDelivery::destinationURL(record), u"/data/chosen/photos/a.jpg"_s);
        record.destinationRelativePath = u"../a.jpg"_s;
        QCOMPARE(failureOf([&] { ManagedDownloadDelivery::destinationURL(record); }), invalidPath);
        record.destinationRelativePath.reset();
        QCOMPARE(failureOf([&] { ManagedDownloadDelivery::destinationURL(record); }),
                 u"无法访问所选保存位置，请重新选择"_s);
        record.destinationRelativePath = u"a.jpg"_s;
        record.destinationBookmark = "chosen";
        QCOMPARE(failureOf([&] { ManagedDownloadDelivery::destinationURL(record); }), u"无法解析文件位置。"_s);
    }
};

QTEST_GUILESS_MAIN(ManagedDownloadDeliveryTest)
#include "test_managed_download_delivery.moc"

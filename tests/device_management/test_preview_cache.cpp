#include "ManagedDownloadDelivery.h"
#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <cerrno>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 mebibyte = 1024 * 1024;
const QString peer = u"peer-1"_s;

// A sparse file of `size` bytes whose contents date from `secondsAgo` seconds ago.
bool makeCopy(const QString &path, qint64 size, int secondsAgo)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size) &&
           file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo), QFileDevice::FileModificationTime);
}

QDateTime modifiedAt(const QString &path)
{
    return QFileInfo(path).lastModified();
}

QStringList regularFiles(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::NoSymLinks, QDir::Name);
}

} // namespace

// phone, entry size and name, expected suffix of the copy name
using Names = TestTable<QString, std::optional<qint64>, QString, QString>;
// what lies under the copy's name (size, or -1 for a folder, -2 for a link to a right-sized file), entry size, hit
using Lookups = TestTable<qint64, std::optional<qint64>, bool>;
// sizes in MiB, newest first; index of the spared copy or -1; indexes of the copies left
using Trims = TestTable<QList<qint64>, int, QList<int>>;
// how the preview fails; the error it shows
using Failures = TestTable<QString, std::optional<QString>>;

class PreviewCacheTest : public QObject
{
    Q_OBJECT

private slots:
    void copyNamesKeepAShortPlainSuffix_data()
    {
        const Names rows;
        rows("capital suffix", peer, 2048, u"IMG_1234.JPG"_s, u".jpg"_s);
        rows("last of several dots", peer, 2048, u"report.final.docx"_s, u".docx"_s);
        rows("double suffix", peer, 2048, u"archive.tar.gz"_s, u".gz"_s);
        rows("13 characters", peer, 2048, u"notes.abcdefghijklm"_s, QString());
        rows("12 characters", peer, 2048, u"notes.abcdefghijkl"_s, u".abcdefghijkl"_s);
        rows("hyphen", peer, 2048, u"photo.tar-gz"_s, QString());
        rows("underscore", peer, 2048, u"photo.my_ext"_s, QString());
        rows("no dot", peer, 2048, u"Makefile"_s, u".makefile"_s);
        rows("dots only", peer, 2048, u"..."_s, QString());
        rows("not ASCII", peer, 2048, u"照片.图片"_s, QString());
        rows("another phone", u"peer-2"_s, 2048, u"a.txt"_s, u".txt"_s);
        rows("no size", peer, std::nullopt, u"a.txt"_s, u".txt"_s);
    }

    // The name is the SHA-256 of "phone|id|millis|size" (-1 without a size) and the suffix.
    void copyNamesKeepAShortPlainSuffix()
    {
        const auto [phone, size, name, suffix] = Names::fetch();
        const QString key = u"%1|id-1|1700000000000|%2"_s.arg(phone).arg(size.value_or(-1));
        const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex();
        QCOMPARE(ManagedPreviewCache::fileName(fileEntry(u"id-1"_s, name, size), phone),
                 QString::fromLatin1(digest) + suffix);
    }

    void lookupFindsOnlyACurrentRegularFile_data()
    {
        const Lookups rows;
        rows("right size", 10, 10, true);
        rows("interrupted download", 4, 10, false);
        rows("entry without size", 10, std::nullopt, false);
        rows("folder", -1, 10, false);
        rows("link to a right-sized file", -2, 10, false);
        rows("nothing", -3, 10, false);
    }

    void lookupFindsOnlyACurrentRegularFile()
    {
        const auto [onDisk, entrySize, hit] = Lookups::fetch();
        QTemporaryDir folder;
        const ManagedPreviewCache cache(folder.path(), 32, 512 * mebibyte);
        const ManagedFileEntry entry = fileEntry(u"id-1"_s, u"a.txt"_s, entrySize);
        const QString path = folder.filePath(ManagedPreviewCache::fileName(entry, peer));
        if (onDisk >= 0) {
            QVERIFY(makeCopy(path, onDisk, 3600));
        } else if (onDisk == -1) {
            QVERIFY(QDir().mkdir(path));
        } else if (onDisk == -2) {
            QVERIFY(makeCopy(folder.filePath(u"elsewhere"_s), 10, 3600));
            QVERIFY(QFile::link(folder.filePath(u"elsewhere"_s), path));
        }

        QCOMPARE(cache.cachedFilePath(entry, peer), hit ? std::optional(path) : std::nullopt);
        // A hit counts as a use for the trim; a miss leaves the copy as it was.
        if (onDisk >= 0) {
            QVERIFY(QFileInfo::exists(path));
            QCOMPARE(modifiedAt(path) > QDateTime::currentDateTime().addSecs(-60), hit);
        }
    }

    void trimKeepsTheNewestWithinBothLimits_data()
    {
        const Trims rows;
        QList<int> newest32;
        for (int index = 0; index < 32; ++index) {
            newest32.append(index);
        }
        rows("40 copies of 1 MiB", QList<qint64>(40, 1), -1, newest32);
        rows("300, 250 and 100 MiB", {300, 250, 100}, -1, {0, 2});
        rows("spared oldest counts first", {300, 100, 250}, 2, {1, 2});
        rows("spared larger than the limit", {1, 2, 600}, 2, {2});
        QList<int> sparedAnd31 = newest32.mid(0, 31);
        sparedAnd31.append(39);
        rows("spared oldest among 40", QList<qint64>(40, 1), 39, sparedAnd31);
    }

    void trimKeepsTheNewestWithinBothLimits()
    {
        const auto [sizes, spared, left] = Trims::fetch();
        QTemporaryDir folder;
        const ManagedPreviewCache cache(folder.path(), 32, 512 * mebibyte);
        QStringList names;
        for (qsizetype index = 0; index < sizes.size(); ++index) {
            names.append(u"copy-%1"_s.arg(index, 2, 10, QChar(u'0')));
            QVERIFY(makeCopy(folder.filePath(names.last()), sizes[index] * mebibyte, 60 * int(index + 1)));
        }
        // Spelled with a detour, as the delivered path may be.
        cache.prune(spared >= 0 ? std::optional(folder.path() + u"/./"_s + names[spared]) : std::nullopt);
        QStringList expected;
        for (const int index : left) {
            expected.append(names[index]);
        }
        QCOMPARE(regularFiles(folder.path()), expected);
    }

    void trimLeavesWhatIsNotACopy()
    {
        QTemporaryDir folder;
        const ManagedPreviewCache cache(folder.path(), 2, 512 * mebibyte);
        QVERIFY(makeCopy(folder.filePath(u".hidden"_s), 1, 10));
        QVERIFY(QDir().mkpath(folder.filePath(u"sub/inner"_s)));
        QVERIFY(makeCopy(folder.filePath(u"sub/inner/copy"_s), 1, 10));
        QVERIFY(makeCopy(folder.filePath(u"target"_s), 1, 10));
        QVERIFY(makeCopy(folder.filePath(u"a"_s), 1, 100));
        QVERIFY(makeCopy(folder.filePath(u"b"_s), 1, 200));
        QVERIFY(makeCopy(folder.filePath(u"c"_s), 1, 300));
        QVERIFY(QFile::link(folder.filePath(u"target"_s), folder.filePath(u"link"_s)));
        cache.prune(std::nullopt);
        QVERIFY(QFileInfo::exists(folder.filePath(u".hidden"_s)));
        QVERIFY(QFileInfo::exists(folder.filePath(u"sub/inner/copy"_s)));
        QVERIFY(QFileInfo(folder.filePath(u"link"_s)).isSymLink());
        QCOMPARE(regularFiles(folder.path()), QStringList({u"a"_s, u"target"_s}));
    }

    void trimOfAMissingFolderMakesIt()
    {
        QTemporaryDir folder;
        const ManagedPreviewCache cache(folder.filePath(u"Tavrine/Previews"_s), 32, 512 * mebibyte);
        cache.prune(std::nullopt);
        QVERIFY(QFileInfo(cache.directory()).isDir());

        QVERIFY(writeFile(folder.filePath(u"file"_s), "x"));
        const ManagedPreviewCache blocked(folder.filePath(u"file/Previews"_s), 32, 512 * mebibyte);
        QVERIFY_THROWS_EXCEPTION(FileOperationError, blocked.prune(std::nullopt));
    }

    void previewWithoutPhoneFolderOrSecondCallShowsNothing()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        QSignalSpy messages(&store, &DeviceManagementStore::messageChanged);
        QCOMPARE(awaitTask(store.previewFile(folderEntry(u"d"_s, u"DCIM"_s))), std::nullopt);

        fixture.channel->hold = true;
        auto running = store.previewFile(fileEntry(u"a"_s, u"a.txt"_s));
        QCOMPARE(store.previewLoadingFileID(), u"a"_s);
        QCOMPARE(awaitTask(store.previewFile(fileEntry(u"b"_s, u"b.txt"_s))), std::nullopt);
        QCOMPARE(awaitTask(store.previewFile(fileEntry(u"a"_s, u"a.txt"_s))), std::nullopt);
        QCOMPARE(fixture.channel->downloads.size(), 1);
        QCOMPARE(messages.count(), 1);

        store.setActivePeer(std::nullopt);
        messages.clear();
        QCOMPARE(awaitTask(store.previewFile(fileEntry(u"b"_s, u"b.txt"_s))), std::nullopt);
        QCOMPARE(messages.count(), 0);
        QCOMPARE(fixture.channel->downloads.size(), 1);
        fixture.channel->release();
        QCOMPARE(awaitTask(running), std::nullopt);
    }

    void previewFromTheCacheAsksNothing()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        const ManagedFileEntry entry = fileEntry(u"a"_s, u"a.txt"_s, 10);
        const ManagedPreviewCache &cache = store.filePreviewCache();
        cache.ensureDirectory();
        const QString path = cache.directory() + u'/' + ManagedPreviewCache::fileName(entry, u"peer-1"_s);
        QVERIFY(makeCopy(path, 10, 3600));
        store.setMessage(u"earlier"_s);

        QCOMPARE(awaitTask(store.previewFile(entry)), path);
        QVERIFY(modifiedAt(path) > QDateTime::currentDateTime().addSecs(-60));
        QCOMPARE(store.message(), u"earlier"_s);
        QVERIFY(fixture.channel->downloads.isEmpty());

        // Without a size the copy of the same name is never trusted.
        const ManagedFileEntry unsized = fileEntry(u"b"_s, u"b.txt"_s, std::nullopt);
        QVERIFY(makeCopy(cache.directory() + u'/' + ManagedPreviewCache::fileName(unsized, u"peer-1"_s), 10, 10));
        fixture.channel->deliveredPath = [&](const QString &) {
            return path;
        };
        awaitTask(store.previewFile(unsized));
        QCOMPARE(fixture.channel->downloads.size(), 1);
        QCOMPARE(fixture.channel->downloads.first().first.first().totalBytes, qint64(0));
    }

    void deliveredPreviewIsTrimmedAroundAndShown()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        const ManagedFileEntry entry = fileEntry(u"a"_s, u"IMG_1.JPG"_s, 10);
        const QString folder = store.filePreviewCache().directory();
        const QString name = ManagedPreviewCache::fileName(entry, u"peer-1"_s);
        store.filePreviewCache().ensureDirectory();
        for (int index = 0; index < 32; ++index) {
            QVERIFY(makeCopy(folder + u"/old-%1"_s.arg(index, 2, 10, QChar(u'0')), 1, 100 + index));
        }
        fixture.channel->deliveredPath = [&](const QString &) {
            makeCopy(folder + u'/' + name, 10, 7200);
            return folder + u'/' + name;
        };
        store.setErrorMessage(u"earlier"_s);

        QCOMPARE(awaitTask(store.previewFile(entry)), folder + u'/' + name);
        const auto &[files, destination] = fixture.channel->downloads.first();
        QCOMPARE(destination, folder);
        QCOMPARE(files.size(), 1);
        const PreparedManagedDownloadFile &file = files.first();
        QVERIFY(!QUuid::fromString(file.transferID).isNull() && file.transferID == file.transferID.toLower());
        QCOMPARE(file,
                 (PreparedManagedDownloadFile{file.transferID, u"a"_s, u"IMG_1.JPG"_s, 10, name,
                                              TransferTaskRecord::DeliveryPurpose::preview, std::nullopt, u"预览"_s}));
        // The delivered copy is the oldest, yet the trim spares it.
        QVERIFY(QFileInfo::exists(folder + u'/' + name));
        QVERIFY(!QFileInfo::exists(folder + u"/old-31"_s));
        QCOMPARE(regularFiles(folder).size(), 32);
        QCOMPARE(store.message(), std::nullopt);
        QCOMPARE(store.errorMessage(), std::nullopt);
        QCOMPARE(store.previewLoadingFileID(), std::nullopt);
    }

    // The copy arrived: a trim that cannot run is no reason to hide it.
    void failedTrimStillShowsTheDeliveredCopy()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        const QString folder = store.filePreviewCache().directory();
        const QString delivered = fixture.folder.filePath(u"delivered.txt"_s);
        QVERIFY(makeCopy(delivered, 10, 0));
        fixture.channel->deliveredPath = [&](const QString &) {
            // The cache folder gives way to a file, so the trim cannot list it.
            QDir(folder).removeRecursively();
            writeFile(folder, "x");
            return delivered;
        };
        QCOMPARE(awaitTask(store.previewFile(fileEntry(u"a"_s, u"a.txt"_s))), delivered);
        QCOMPARE(store.errorMessage(), std::nullopt);
        QCOMPARE(store.message(), std::nullopt);
        QCOMPARE(store.previewLoadingFileID(), std::nullopt);
    }

    void failedPreviewKeepsTheProgressText_data()
    {
        const Failures rows;
        rows("download rejected", u"rejected"_s, u"文件不存在"_s);
        rows("link dropped", u"disconnected"_s, std::nullopt);
        rows("queue refused", u"enqueue"_s, u"任务已存在"_s);
        rows("cache folder cannot be made", u"folder"_s, qt_error_string(ENOTDIR));
    }

    void failedPreviewKeepsTheProgressText()
    {
        const auto [failure, shown] = Failures::fetch();
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        FakeManagementChannel &channel = *fixture.channel;
        if (failure == u"rejected") {
            channel.waitError = std::make_exception_ptr(DeviceManagementRequestError::rejected(u"文件不存在"_s));
        } else if (failure == u"enqueue") {
            channel.enqueueError = std::make_exception_ptr(FileOperationError(u"任务已存在"_s));
        } else if (failure == u"folder") {
            QVERIFY(writeFile(store.filePreviewCache().directory(), "x"));
        }
        QCOMPARE(awaitTask(store.previewFile(fileEntry(u"a"_s, u"a.txt"_s))), std::nullopt);
        QCOMPARE(store.message(), u"正在准备\u201Ca.txt\u201D预览\u2026"_s);
        QCOMPARE(store.errorMessage(), shown);
        QCOMPARE(store.previewLoadingFileID(), std::nullopt);
    }

    void switchingPhonesDuringTheDownloadPublishesNothing()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        const QString delivered = fixture.folder.filePath(u"delivered.txt"_s);
        QVERIFY(makeCopy(delivered, 10, 0));
        fixture.channel->deliveredPath = [&](const QString &) {
            return delivered;
        };
        fixture.channel->hold = true;
        auto running = store.previewFile(fileEntry(u"a"_s, u"a.txt"_s));
        store.setActivePeer(u"peer-2"_s);
        QSignalSpy messages(&store, &DeviceManagementStore::messageChanged);
        QSignalSpy loading(&store, &DeviceManagementStore::previewLoadingFileIDChanged);
        QSignalSpy errors(&store, &DeviceManagementStore::errorMessageChanged);
        fixture.channel->release();
        QCOMPARE(awaitTask(running), std::nullopt);
        QCOMPARE(messages.count() + loading.count() + errors.count(), 0);
        QCOMPARE(store.activePeerID(), u"peer-2"_s);
    }
};

QTEST_GUILESS_MAIN(PreviewCacheTest)
#include "test_preview_cache.moc"

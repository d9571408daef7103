#include "ManagedDownloadDelivery.h"
#include "ManagementStoreFixture.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <cerrno>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QString peer = u"peer-1"_s;

// A sparse file of `size` bytes whose contents date from `secondsAgo` seconds ago.
bool makeCopy(const QString &path, qint64 size, int secondsAgo)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size) &&
           file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo), QFileDevice::FileModificationTime);
}

// Everything in `folder`, hidden items, links and folders too.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

// entry size and name, expected suffix of the copy name
using Names = TestTable<std::optional<qint64>, QString, QString>;
// what lies under the copy's name (size, or -1 for a link to a right-sized file), entry size, hit
using Lookups = TestTable<qint64, std::optional<qint64>, bool>;
// sizes in bytes, newest first; index of the spared copy or -1; the copies left
using Trims = TestTable<QList<qint64>, int, QStringList>;
// a name from the phone, the name given to another program
using OpenableNames = TestTable<QString, QString>;
// what happens while the copy downloads; whether the preview shows it, the message and the error left
using Outcomes = TestTable<QString, bool, std::optional<QString>, std::optional<QString>>;

class PreviewCacheTest : public QObject
{
    Q_OBJECT

private slots:
    void copyNamesKeepAShortPlainSuffix_data()
    {
        const Names rows;
        rows("capital suffix", 2048, u"IMG_1234.JPG"_s, u".jpg"_s);
        rows("last of several dots", 2048, u"archive.tar.gz"_s, u".gz"_s);
        rows("13 characters", 2048, u"notes.abcdefghijklm"_s, QString());
        rows("12 characters", 2048, u"notes.abcdefghijkl"_s, u".abcdefghijkl"_s);
        rows("hyphen", 2048, u"photo.tar-gz"_s, QString());
        rows("no dot", 2048, u"Makefile"_s, u".makefile"_s);
        rows("dots only", 2048, u"..."_s, QString());
        rows("no size", std::nullopt, u"a.txt"_s, u".txt"_s);
    }

    // The name is the SHA-256 of "phone|id|millis|size" (-1 without a size) and the suffix.
    void copyNamesKeepAShortPlainSuffix()
    {
        const auto [size, name, suffix] = Names::fetch();
        const QString key = u"peer-1|id-1|1700000000000|%1"_s.arg(size.value_or(-1));
        const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex();
        QCOMPARE(ManagedPreviewCache::fileName(fileEntry(u"id-1"_s, name, size), peer),
                 QString::fromLatin1(digest) + suffix);
    }

    void lookupFindsOnlyACurrentRegularFile_data()
    {
        const Lookups rows;
        rows("right size", 10, 10, true);
        rows("interrupted download", 4, 10, false);
        rows("entry without size", 10, std::nullopt, false);
        rows("link to a right-sized file", -1, 10, false);
    }

    void lookupFindsOnlyACurrentRegularFile()
    {
        const auto [onDisk, entrySize, hit] = Lookups::fetch();
        QTemporaryDir folder;
        const ManagedPreviewCache cache(folder.path(), 32, 1000);
        const ManagedFileEntry entry = fileEntry(u"id-1"_s, u"a.txt"_s, entrySize);
        const QString name = ManagedPreviewCache::fileName(entry, peer);
        const QString path = folder.filePath(name);
        if (onDisk >= 0) {
            QVERIFY(makeCopy(path, onDisk, 3600));
        } else {
            QVERIFY(makeLocalItems(folder.path(), {u"elsewhere=10"_s, name + u" -> elsewhere"_s}));
        }
        QCOMPARE(cache.cachedFilePath(entry, peer), hit ? std::optional(path) : std::nullopt);
        // A hit counts as a use for the trim; a miss leaves the copy as it was.
        QCOMPARE(onDisk >= 0 && QFileInfo(path).lastModified() > QDateTime::currentDateTime().addSecs(-60), hit);
    }

    void phoneNamesAreMadeSafeForTheDesktop_data()
    {
        const OpenableNames rows;
        rows("kept as it is", u"季度报告 v2.pdf"_s, u"季度报告 v2.pdf"_s);
        rows("a hidden name stays", u".bashrc"_s, u".bashrc"_s);
        rows("joined emoji stay whole", u"👨‍👩‍👧.png"_s, u"👨‍👩‍👧.png"_s);
        rows("separators", u"../../.ssh/authorized_keys"_s, u".._.._.ssh_authorized_keys"_s);
        rows("backslash", u"a\\b.txt"_s, u"a_b.txt"_s);
        rows("controls and line breaks", u"a\0b\nc\x7f\u2028.txt"_s, u"a_b_c__.txt"_s);
        rows("a turned direction", u"invoice\u202efdp.exe"_s, u"invoice_fdp.exe"_s);
        rows("parent folder", u".."_s, u"fallback"_s);
        rows("dots only", u"..."_s, u"fallback"_s);
        rows("blank", u"  "_s, u"fallback"_s);
    }

    void phoneNamesAreMadeSafeForTheDesktop()
    {
        const auto [name, openable] = OpenableNames::fetch();
        QCOMPARE(ManagedPreviewCache::openableName(name, u"fallback"_s), openable);
    }

    // A long name is cut before its extension to 255 bytes, between whole characters.
    void longNamesAreCutBetweenCharacters()
    {
        for (const QString &piece : {u"长"_s, u"😀"_s, u"a"_s}) {
            const QString name = ManagedPreviewCache::openableName(piece.repeated(300) + u".pdf"_s, u"fallback"_s);
            QVERIFY(name.toUtf8().size() <= 255 && name.toUtf8().size() > 255 - piece.toUtf8().size());
            QVERIFY(name.endsWith(u".pdf"_s) && name.startsWith(piece));
            QCOMPARE(QString::fromUtf8(name.toUtf8()), name); // no half of a surrogate pair
        }
    }

    // A copy handed to another program bears the phone's name, in a folder of its own that nothing else can take
    // the place of; the trim takes that folder with the copy, and folders left without their copy.
    void namedCopiesGoWithTheirCopy()
    {
        QTemporaryDir folder;
        const ManagedPreviewCache cache(folder.filePath(u"Previews"_s), 1, 1000);
        cache.ensureDirectory();
        const QString older = QString(64, u'a') + u".pdf"_s, newer = QString(64, u'b');
        QVERIFY(makeCopy(cache.directory() + u'/' + older, 10, 120));
        QVERIFY(makeCopy(cache.directory() + u'/' + newer, 20, 60));
        const QString named = ManagedPreviewCache::namedCopy(cache.directory() + u'/' + older, u"季度报告.pdf"_s);
        QCOMPARE(named, cache.directory() + u'/' + older + u".named/季度报告.pdf"_s);
        QCOMPARE(ManagedPreviewCache::namedCopy(cache.directory() + u'/' + older, u"季度报告.pdf"_s), named);
        struct stat copyStatus = {}, namedStatus = {};
        QCOMPARE(::stat(QFile::encodeName(cache.directory() + u'/' + older).constData(), &copyStatus), 0);
        QCOMPARE(::stat(QFile::encodeName(named).constData(), &namedStatus), 0);
        QCOMPARE(namedStatus.st_ino, copyStatus.st_ino); // the same bytes, not a second copy of them

        // A link in the folder's place is not followed.
        QVERIFY(makeLocalItems(
            folder.path(), {u"outside/"_s, u"Previews/"_s + newer + u".named -> "_s + folder.filePath(u"outside"_s)}));
        QCOMPARE(ManagedPreviewCache::namedCopy(cache.directory() + u'/' + newer, u"x/../y"_s),
                 cache.directory() + u'/' + newer + u".named/x_.._y"_s);
        QVERIFY(entries(folder.filePath(u"outside"_s)).isEmpty());

        QVERIFY(makeLocalItems(cache.directory(), {u"gone.pdf.named/gone.pdf"_s, u"other/kept"_s}));
        cache.prune(cache.directory() + u'/' + newer);
        QCOMPARE(entries(cache.directory()), (QStringList{newer, newer + u".named"_s, u"other"_s}));
        QCOMPARE(entries(cache.directory() + u'/' + newer + u".named"_s), QStringList{u"x_.._y"_s});
    }

    void trimKeepsTheNewestWithinBothLimits_data()
    {
        const Trims rows;
        rows("5 copies", QList<qint64>(5, 1), -1, {u"0"_s, u"1"_s, u"2"_s});
        rows("300, 250 and 100 bytes", {300, 250, 100}, -1, {u"0"_s, u"2"_s});
        rows("spared oldest counts first", {300, 100, 250}, 2, {u"1"_s, u"2"_s});
        rows("spared larger than the limit", {1, 2, 600}, 2, {u"2"_s});
        rows("spared oldest among 5", QList<qint64>(5, 1), 4, {u"0"_s, u"1"_s, u"4"_s});
    }

    // Hidden items, links and folders are neither counted nor deleted, nor is what lies in the folders.
    void trimKeepsTheNewestWithinBothLimits()
    {
        const auto [sizes, spared, left] = Trims::fetch();
        QTemporaryDir folder;
        const ManagedPreviewCache cache(folder.filePath(u"Tavrine/Previews"_s), 3, 500);
        cache.ensureDirectory();
        for (qsizetype index = 0; index < sizes.size(); ++index) {
            QVERIFY(makeCopy(cache.directory() + u'/' + QString::number(index), sizes[index], 60 * int(index + 1)));
        }
        QVERIFY(makeLocalItems(cache.directory(), {u".hidden"_s, u"sub/copy"_s, u"link -> 0"_s}));
        // Spelled with a detour, as the delivered path may be.
        cache.prune(spared >= 0 ? std::optional(cache.directory() + u"/./"_s + QString::number(spared)) : std::nullopt);
        QCOMPARE(entries(cache.directory()), QStringList({u".hidden"_s}) + left + QStringList({u"link"_s, u"sub"_s}));
        QVERIFY(QFile::exists(cache.directory() + u"/sub/copy"_s));
    }

    void previewRunsOneAtATimeForAFileOfThePhone()
    {
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        QCOMPARE(awaitTask(store.previewFile(folderEntry(u"d"_s, u"DCIM"_s))), std::nullopt);
        fixture.channel->hold = true;
        auto running = store.previewFile(fileEntry(u"a"_s, u"a.txt"_s));
        QCOMPARE(awaitTask(store.previewFile(fileEntry(u"b"_s, u"b.txt"_s))), std::nullopt);
        store.setActivePeer(std::nullopt);
        QCOMPARE(awaitTask(store.previewFile(fileEntry(u"b"_s, u"b.txt"_s))), std::nullopt);
        QCOMPARE(fixture.channel->downloads.size(), 1);
        fixture.channel->release();
        QCOMPARE(awaitTask(running), std::nullopt);
    }

    void deliveredPreviewIsAskedForAndSparedByTheTrim()
    {
        ManagementStoreFixture fixture;
        const ManagedFileEntry entry = fileEntry(u"a"_s, u"IMG_1.JPG"_s);
        const QString folder = fixture.store->filePreviewCache().directory();
        const QString name = ManagedPreviewCache::fileName(entry, peer);
        const QString path = folder + u'/' + name;
        // The delivered copy is the oldest, and with a newer copy it passes the byte limit, yet the trim spares it.
        fixture.store->filePreviewCache().ensureDirectory();
        QVERIFY(makeCopy(folder + u"/newer"_s, 512 * 1024 * 1024, 100));
        fixture.channel->deliveredPath = [&](const QString &) {
            makeCopy(path, 10, 7200);
            return path;
        };
        QCOMPARE(awaitTask(fixture.store->previewFile(entry)), path);
        QCOMPARE(entries(folder), QStringList{name});
        const auto &[files, destination] = fixture.channel->downloads.first();
        QCOMPARE(destination, folder);
        const QString transferID = files.value(0).transferID;
        QVERIFY(!QUuid::fromString(transferID).isNull() && transferID == transferID.toLower());
        QCOMPARE(files, (QList{PreparedManagedDownloadFile{transferID, u"a"_s, u"IMG_1.JPG"_s, 10, name,
                                                           TransferTaskRecord::DeliveryPurpose::preview, std::nullopt,
                                                           u"预览"_s, std::nullopt}}));
    }

    void previewOutcomes_data()
    {
        const Outcomes rows;
        const QString progress = u"正在准备\u201Ca.txt\u201D预览\u2026"_s;
        rows("delivered", u"delivered"_s, true, std::nullopt, std::nullopt);
        // A copy in the cache is shown without asking the phone or touching the texts.
        rows("cached", u"cached"_s, true, std::nullopt, u"earlier"_s);
        // The copy arrived: a trim that cannot run is no reason to hide it.
        rows("trim fails", u"trim fails"_s, true, std::nullopt, std::nullopt);
        // The error takes the progress text's place; a dropped link shows no error and leaves the text.
        rows("download rejected", u"rejected"_s, false, std::nullopt, u"文件不存在"_s);
        rows("link dropped", u"disconnected"_s, false, progress, std::nullopt);
        rows("queue refused", u"enqueue"_s, false, std::nullopt, u"任务已存在"_s);
        rows("cache folder cannot be made", u"folder"_s, false, std::nullopt, u"路径中有一项不是文件夹"_s);
        rows("phone switched", u"switch"_s, false, std::nullopt, std::nullopt);
        rows("phone switched, then rejected", u"switch rejected"_s, false, std::nullopt, std::nullopt);
    }

    void previewOutcomes()
    {
        const auto [event, shown, message, error] = Outcomes::fetch();
        ManagementStoreFixture fixture;
        DeviceManagementStore &store = *fixture.store;
        const ManagedFileEntry entry = fileEntry(u"a"_s, u"a.txt"_s);
        const QString folder = store.filePreviewCache().directory();
        const QString delivered = folder + u'/' + ManagedPreviewCache::fileName(entry, peer);
        fixture.channel->deliveredPath = [&store, folder, delivered, happening = event](const QString &) {
            if (happening == u"trim fails") {
                // The cache folder gives way to a file, so the trim cannot list it.
                QDir(folder).removeRecursively();
                writeFile(folder, "x");
            } else if (happening.startsWith(u"switch")) {
                store.setActivePeer(u"peer-2"_s);
            }
            if (happening.endsWith(u"rejected")) {
                throw DeviceManagementRequestError::rejected(u"文件不存在"_s);
            } else if (happening == u"disconnected") {
                throw DeviceManagementRequestError::disconnected();
            }
            return delivered;
        };
        if (event == u"cached") {
            QVERIFY(writeFile(delivered, "0123456789"));
        } else if (event == u"enqueue") {
            fixture.channel->enqueueError = std::make_exception_ptr(FileOperationError(u"任务已存在"_s));
        } else if (event == u"folder") {
            QVERIFY(writeFile(folder, "x"));
        }
        store.setErrorMessage(u"earlier"_s);
        QCOMPARE(awaitTask(store.previewFile(entry)), shown ? std::optional(delivered) : std::nullopt);
        QCOMPARE(store.message(), message);
        QCOMPARE(store.errorMessage(), error);
        QCOMPARE(store.previewLoadingFileID(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(PreviewCacheTest)
#include "test_preview_cache.moc"

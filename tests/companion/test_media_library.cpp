#include "MediaLibrary.h"
#include "StorageTree.h"
#include "TestVideo.h"

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

// Whether folders are watched, a change made to the storage folder, what the next listing gives ("path width" of
// each photo, newest first), how many folders it reads again and how many files it probes.
using Changes = TestTable<MediaLibrary::Watching, std::function<bool(const QString &storage)>, QStringList, int, int>;

namespace {

const QDateTime dayAgo = QDateTime::currentDateTimeUtc().addDays(-1);

QByteArray jpegOf(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes;
}

bool writePhoto(const QString &path, QSize size, const QDateTime &modified)
{
    QFile file(path);
    return writeFile(path, jpegOf(size)) && file.open(QIODevice::ReadWrite) &&
           file.setFileTime(modified, QFileDevice::FileModificationTime);
}

bool rename(const QString &storage, const QString &from, const QString &to)
{
    return QDir(storage).rename(from, to);
}

} // namespace

// The index of photos and videos: what did not change is neither read nor probed again, and every change on disk
// shows in the next listing.
class MediaLibraryTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root.emplace();
        m_storage = m_root->filePath(u"storage"_s);
        QVERIFY(writePhoto(m_storage + u"/DCIM/Camera/a.jpg"_s, {40, 30}, dayAgo.addSecs(-3)) &&
                writePhoto(m_storage + u"/DCIM/Camera/b.jpg"_s, {40, 30}, dayAgo.addSecs(-2)) &&
                writePhoto(m_storage + u"/Pictures/c.jpg"_s, {40, 30}, dayAgo.addSecs(-1)) &&
                writePhoto(m_storage + u"/Documents/Old/d.jpg"_s, {40, 30}, dayAgo.addSecs(-4)) &&
                makeEntries(m_storage, {u"Documents/notes.txt=some notes"_s, u"Documents/x.txt"_s}));
        m_clockAhead = std::chrono::hours(1);
    }

    void changesShowInTheNextListing_data()
    {
        const Changes table;
        // Every change, with folders watched and without.
        const auto rows = [&table](const char *name, const std::function<bool(const QString &)> &change,
                                   const QStringList &listed, int foldersRead, int probed) {
            table(qPrintable(u"watched: "_s + QString::fromLatin1(name)), MediaLibrary::Watching::folders, change,
                  listed, foldersRead, probed);
            table(qPrintable(u"unwatched: "_s + QString::fromLatin1(name)), MediaLibrary::Watching::none, change,
                  listed, foldersRead, probed);
        };
        const QStringList before = {u"Pictures/c.jpg 40"_s, u"DCIM/Camera/b.jpg 40"_s, u"DCIM/Camera/a.jpg 40"_s,
                                    u"Documents/Old/d.jpg 40"_s};
        const auto withRow = [&before](qsizetype index, const QString &row) {
            QStringList rows = before;
            rows[index] = row;
            return rows;
        };
        rows(
            "nothing changed", [](const QString &) { return true; }, before, 0, 0);
        rows(
            "photo added",
            [](const QString &storage) {
                return writePhoto(storage + u"/DCIM/Camera/new.jpg"_s, {40, 30}, QDateTime::currentDateTimeUtc());
            },
            QStringList{u"DCIM/Camera/new.jpg 40"_s} + before, 1, 1);
        rows(
            "photo removed", [](const QString &storage) { return QFile::remove(storage + u"/DCIM/Camera/a.jpg"_s); },
            before.mid(0, 2) + before.mid(3), 1, 0);
        rows(
            "photo renamed",
            [](const QString &storage) { return rename(storage, u"DCIM/Camera/a.jpg"_s, u"DCIM/Camera/z.jpg"_s); },
            withRow(2, u"DCIM/Camera/z.jpg 40"_s), 1, 1);
        rows(
            "photo moved to another folder",
            [](const QString &storage) { return rename(storage, u"DCIM/Camera/a.jpg"_s, u"Pictures/a.jpg"_s); },
            withRow(2, u"Pictures/a.jpg 40"_s), 2, 1);
        rows(
            "photo replaced in place",
            [](const QString &storage) {
                return writePhoto(storage + u"/DCIM/Camera/b.jpg"_s, {200, 100}, dayAgo.addSecs(-2));
            },
            withRow(1, u"DCIM/Camera/b.jpg 200"_s), 0, 1);
        rows(
            "text rewritten as a photo",
            [](const QString &storage) {
                return writePhoto(storage + u"/Documents/notes.txt"_s, {20, 10}, dayAgo);
            },
            QStringList{u"Documents/notes.txt 20"_s} + before, 0, 1);
        rows(
            "photo rewritten as text",
            [](const QString &storage) { return writeFile(storage + u"/Pictures/c.jpg"_s, "no longer a picture"); },
            before.mid(1), 0, 0);
        rows(
            "folder renamed",
            [](const QString &storage) { return rename(storage, u"Documents/Old"_s, u"Documents/Older"_s); },
            withRow(3, u"Documents/Older/d.jpg 40"_s), 2, 1);
        rows(
            "folder added with a photo",
            [](const QString &storage) {
                return writePhoto(storage + u"/Pictures/New/e.jpg"_s, {40, 30}, dayAgo.addSecs(-5));
            },
            before + QStringList{u"Pictures/New/e.jpg 40"_s}, 2, 1);
        rows(
            "folder removed", [](const QString &storage) { return QDir(storage + u"/DCIM"_s).removeRecursively(); },
            QStringList{before[0], before[3]}, 1, 0);
        rows(
            "folder put in the place of another",
            [](const QString &storage) {
                return rename(storage, u"Pictures"_s, u"Elsewhere"_s) &&
                       writePhoto(storage + u"/Pictures/f.jpg"_s, {40, 30}, dayAgo.addSecs(-6));
            },
            withRow(0, u"Elsewhere/c.jpg 40"_s) + QStringList{u"Pictures/f.jpg 40"_s}, 3, 2);
    }

    void changesShowInTheNextListing()
    {
        const auto [watching, change, listed, foldersRead, probed] = Changes::fetch();
        MediaLibrary library(m_storage, clock(), watching);
        QCOMPARE(listing(library).size(), 4);
        const int readBefore = library.folderReadCount();
        const int probedBefore = library.probeCount();

        QVERIFY(change(m_storage));
        QCOMPARE(listing(library), listed);
        QCOMPARE(library.folderReadCount() - readBefore, foldersRead);
        QCOMPARE(library.probeCount() - probedBefore, probed);
        // And nothing again once the change is known.
        QCOMPARE(listing(library), listed);
        QCOMPARE(library.folderReadCount() - readBefore, foldersRead);
        QCOMPARE(library.probeCount() - probedBefore, probed);
    }

    // A watched folder is looked at again only when it changed, and then only its own files.
    void watchedFoldersAreLookedAtOnlyWhenChanged()
    {
        MediaLibrary library(m_storage, clock());
        listing(library);
        QCOMPARE(library.fileLookCount(), 6);
        listing(library);
        QCOMPARE(library.fileLookCount(), 6);
        QVERIFY(writePhoto(m_storage + u"/Documents/x.txt"_s, {20, 10}, dayAgo));
        QCOMPARE(listing(library).constFirst(), u"Documents/x.txt 20"_s);
        QCOMPARE(library.fileLookCount(), 8);
        QCOMPARE(library.folderReadCount(), 6);
    }

    // Times on disk are coarse: an unwatched folder is trusted to hold what it held only once its last change is
    // some time past.
    void recentlyChangedFoldersAreReadAgain()
    {
        m_clockAhead = {};
        MediaLibrary library(m_storage, clock(), MediaLibrary::Watching::none);
        listing(library);
        const int folders = library.folderReadCount();
        QCOMPARE(folders, 6); // the storage folder, DCIM, Camera, Pictures, Documents, Old
        listing(library);
        QCOMPARE(library.folderReadCount(), 2 * folders);

        m_clockAhead = MediaLibrary::settleTime + std::chrono::seconds(1);
        listing(library);
        QCOMPARE(library.folderReadCount(), 3 * folders);
        listing(library);
        QCOMPARE(library.folderReadCount(), 3 * folders);
        QCOMPARE(library.probeCount(), 4);
    }

    // A photo listing passes over files that cannot be photos without probing them; a video listing then does.
    void videosAreFoundAfterPhotosWereListed()
    {
        QVERIFY(writeTestVideo(m_storage + u"/Movies/clip.mkv"_s, {32, 24}, 2, 10));
        MediaLibrary library(m_storage, clock());
        QCOMPARE(listing(library).size(), 4);
        QCOMPARE(library.probeCount(), 4);
        const QList<ManagedMediaItem> videos = library.items(ManagedMediaKind::video, {});
        QCOMPARE(videos.size(), 1);
        QCOMPARE(videos.constFirst().relativePath, u"Movies/clip.mkv"_s);
        QCOMPARE(library.probeCount(), 7);
        QCOMPARE(listing(library).size(), 4);
        QCOMPARE(library.probeCount(), 7);
    }

private:
    MediaLibrary::WallClock clock()
    {
        return [this] {
            return std::chrono::system_clock::now() + m_clockAhead;
        };
    }

    static QStringList listing(MediaLibrary &library)
    {
        QStringList listed;
        for (const ManagedMediaItem &item : library.items(ManagedMediaKind::photo, {}))
            listed.append(u"%1 %2"_s.arg(item.relativePath).arg(item.width));
        return listed;
    }

    std::optional<QTemporaryDir> m_root;
    QString m_storage;
    std::chrono::system_clock::duration m_clockAhead{};
};

QTEST_GUILESS_MAIN(MediaLibraryTest)
#include "test_media_library.moc"

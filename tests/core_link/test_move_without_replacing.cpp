#include "MoveWithoutReplacing.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// What the file system at hand lacks, as the test asks: a rename that refuses to replace (old kernels and network
// file systems answer EINVAL), and second names (FAT-like file systems answer EPERM).
struct FileSystemLacks
{
    bool refusingRename = false;
    bool secondNames = false;
};

FileSystemLacks lacks;

} // namespace

// The C library's calls as this program makes them; what the file system is to lack fails as it would there.
extern "C" int renameat2(int fromFolder, const char *from, int toFolder, const char *to, unsigned int flags)
{
    if (lacks.refusingRename && flags != 0) {
        errno = EINVAL;
        return -1;
    }
    return int(::syscall(SYS_renameat2, fromFolder, from, toFolder, to, flags));
}

extern "C" int linkat(int fromFolder, const char *from, int toFolder, const char *to, int flags)
{
    if (lacks.secondNames) {
        errno = EPERM;
        return -1;
    }
    return int(::syscall(SYS_linkat, fromFolder, from, toFolder, to, flags));
}

class MoveWithoutReplacingTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { lacks = {}; }

    void neverReplacesOnAnyFileSystem_data()
    {
        const TestTable<bool, bool> rows; // lacks a refusing rename, lacks second names
        rows("every call known", false, false);
        rows("no refusing rename", true, false);
        rows("no refusing rename, no second names", true, true);
    }

    // A file, a link and a folder each move to a free name whole, and never over what stands at a taken one: not a
    // file, not an empty file, not an empty folder (a plain rename would replace those two).
    void neverReplacesOnAnyFileSystem()
    {
        const auto [noRefusingRename, noSecondNames] = TestTable<bool, bool>::fetch();
        lacks = {noRefusingRename, noSecondNames};
        QTemporaryDir folder;
        const auto path = [&folder](const char *name) {
            return QFile::encodeName(folder.filePath(QString::fromUtf8(name)));
        };
        QVERIFY(writeFile(folder.filePath(u"photo.jpg"_s), "photo"));
        QVERIFY(QDir(folder.path()).mkpath(u"album/inner"_s));
        QVERIFY(writeFile(folder.filePath(u"album/inner/a.txt"_s), "a"));
        QVERIFY(QFile::link(u"photo.jpg"_s, folder.filePath(u"shortcut"_s)));
        QVERIFY(writeFile(folder.filePath(u"taken.txt"_s), "kept"));
        QVERIFY(writeFile(folder.filePath(u"empty.txt"_s), ""));
        QVERIFY(QDir(folder.path()).mkdir(u"empty folder"_s));

        for (const char *taken : {"taken.txt", "empty.txt", "empty folder"}) {
            for (const char *source : {"photo.jpg", "shortcut", "album"}) {
                QCOMPARE(moveWithoutReplacing(AT_FDCWD, path(source), AT_FDCWD, path(taken)), MoveOutcome::nameTaken);
            }
        }
        QCOMPARE(contentsOf(folder.filePath(u"taken.txt"_s)), "kept");
        QCOMPARE(QFileInfo(folder.filePath(u"empty.txt"_s)).size(), 0);
        QVERIFY(QDir(folder.filePath(u"empty folder"_s)).isEmpty());

        QCOMPARE(moveWithoutReplacing(AT_FDCWD, path("photo.jpg"), AT_FDCWD, path("moved.jpg")), MoveOutcome::moved);
        QCOMPARE(moveWithoutReplacing(AT_FDCWD, path("shortcut"), AT_FDCWD, path("moved link")), MoveOutcome::moved);
        QCOMPARE(moveWithoutReplacing(AT_FDCWD, path("album"), AT_FDCWD, path("moved album")), MoveOutcome::moved);
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 (QStringList{u"empty folder"_s, u"empty.txt"_s, u"moved album"_s, u"moved link"_s, u"moved.jpg"_s,
                              u"taken.txt"_s}));
        QCOMPARE(contentsOf(folder.filePath(u"moved.jpg"_s)), "photo");
        QCOMPARE(QFileInfo(folder.filePath(u"moved link"_s)).symLinkTarget(), folder.filePath(u"photo.jpg"_s));
        QCOMPARE(contentsOf(folder.filePath(u"moved album/inner/a.txt"_s)), "a");
    }

    // A move that cannot be made leaves the item where it was and no placeholder behind, with the reason.
    void aFailedMoveLeavesBothNamesAsTheyWere()
    {
        lacks = {true, true};
        QTemporaryDir folder;
        QVERIFY(writeFile(folder.filePath(u"photo.jpg"_s), "photo"));
        QVERIFY(QDir(folder.path()).mkdir(u"album"_s));
        // Into the item itself: the rename over the placeholder is refused.
        const QByteArray into = QFile::encodeName(folder.filePath(u"album/album"_s));
        QCOMPARE(moveWithoutReplacing(AT_FDCWD, QFile::encodeName(folder.filePath(u"album"_s)), AT_FDCWD, into),
                 MoveOutcome::failed);
        QCOMPARE(errno, EINVAL);
        QVERIFY(QDir(folder.filePath(u"album"_s)).isEmpty());
        QCOMPARE(moveWithoutReplacing(AT_FDCWD, QFile::encodeName(folder.filePath(u"missing"_s)), AT_FDCWD,
                                      QFile::encodeName(folder.filePath(u"found"_s))),
                 MoveOutcome::failed);
        QCOMPARE(errno, ENOENT);
        QVERIFY(!QFileInfo::exists(folder.filePath(u"found"_s)));
    }
};

QTEST_GUILESS_MAIN(MoveWithoutReplacingTest)
#include "test_move_without_replacing.moc"

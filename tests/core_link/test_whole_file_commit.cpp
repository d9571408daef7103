#include "TestSupport.h"
#include "WholeFileCommit.h"
#include "transfers/FullDisk.h"

#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <climits>

#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// What the syncs of one folder saw: how many there were, what the watched file held at the first, and the error
// they are to fail with (0: none).
struct FolderSyncs
{
    QByteArray folder;
    QString file;
    int count = 0;
    QByteArray fileAtFirstSync;
    int failure = 0;
};

FolderSyncs watched;

} // namespace

// fsync as the C library makes it, for every caller in this program, the Qt library's included; a sync of the
// watched folder is noted, and fails as the test asks (as a disk that gives up does, with EIO).
extern "C" int fsync(int descriptor)
{
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(descriptor);
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.constData(), target, sizeof target);
    if (!watched.folder.isEmpty() && length > 0 && QByteArray(target, length) == watched.folder) {
        if (watched.count++ == 0) {
            watched.fileAtFirstSync = contentsOf(watched.file);
        }
        if (watched.failure != 0) {
            errno = watched.failure;
            return -1;
        }
    }
    return int(::syscall(SYS_fsync, descriptor));
}

class WholeFileCommitTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { watched = {}; }

    void aDiskThatRefusesSaysWhy_data()
    {
        const TestTable<QString, int> rows; // how the disk refuses (see RefusingDisk), and the reason
        rows("no room at all", u"full"_s, ENOSPC);
        rows("a write cut short by the room left", u"nearly full"_s, ENOSPC);
        rows("file size limit", u"limit"_s, EFBIG);
    }
    // The reason is the one of the call that failed, also after a write that took part of the bytes: Qt's own words
    // for that are none at all. The old file stays whole.
    void aDiskThatRefusesSaysWhy()
    {
        const auto [refusal, reason] = TestTable<QString, int>::fetch();
        QTemporaryDir folder;
        RefusingDisk disk(refusal, folder.path());
        if (!disk.isAvailable()) {
            QSKIP("this process may not mount a file system");
        }
        const QString path = folder.filePath(u"state.json"_s);
        QVERIFY(writeFile(path, "old"));
        QVERIFY(disk.refuse());
        QSaveFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QString message;
        int errorNumber = 0;
        const bool committed = commitWholeFile(file, QByteArray(30'000, 'x'), &message, &errorNumber);
        disk.allow();
        QVERIFY(!committed);
        QCOMPARE(errorNumber, reason);
        QCOMPARE(message, qt_error_string(reason));
        QCOMPARE(contentsOf(path), "old");
    }

    void theFolderIsSyncedOnceTheFileIsInPlace_data()
    {
        const TestTable<int> rows; // how the folder's sync ends
        rows("synced", 0);
        rows("the disk gives up", EIO);
    }
    // A rename lasts once its folder is on the disk: the folder is synced after the new file took the old one's
    // place, and a failure there is one of the commit.
    void theFolderIsSyncedOnceTheFileIsInPlace()
    {
        const auto [failure] = TestTable<int>::fetch();
        QTemporaryDir folder;
        const QString path = folder.filePath(u"state.json"_s);
        QVERIFY(writeFile(path, "old"));
        watched.folder = QFile::encodeName(QFileInfo(folder.path()).canonicalFilePath());
        watched.file = path;
        watched.failure = failure;
        QSaveFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QString message;
        int errorNumber = 0;
        QCOMPARE(commitWholeFile(file, "new", &message, &errorNumber), failure == 0);
        QCOMPARE(watched.count, 1);
        QCOMPARE(watched.fileAtFirstSync, "new");
        QCOMPARE(errorNumber, failure);
        QCOMPARE(message, failure == 0 ? QString() : qt_error_string(failure));
    }
};

QTEST_GUILESS_MAIN(WholeFileCommitTest)
#include "test_whole_file_commit.moc"

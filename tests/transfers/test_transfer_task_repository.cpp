#include "FullDisk.h"
#include "TestSupport.h"
#include "TransferTaskRepository.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString taskFileName = u"transfer-tasks-v1.json"_s;

QByteArray taskText(const QString &id, const QString &status = u"queued"_s)
{
    return uR"({"createdAt":"2024-03-04T05:06:07Z","direction":"sending","fileName":"%1.txt","id":"%1",)"
           uR"("message":"","peerName":"Pixel","status":"%2","totalBytes":0,"transferredBytes":0,)"
           uR"("updatedAt":"2024-03-04T05:06:07Z"})"_s.arg(id, status)
               .toUtf8();
}

TransferTaskRecord task(const QString &id)
{
    return TransferTaskRecord::fromJson(QJsonDocument::fromJson(taskText(id)).object());
}

// The contents of the kept copies of the damaged task file, in name order.
QList<QByteArray> keptCopies(const QTemporaryDir &folder)
{
    QList<QByteArray> copies;
    for (const QString &name : QDir(folder.path()).entryList({taskFileName + u".damaged-*"_s}, QDir::Files, QDir::Name))
        copies.append(contentsOf(folder.filePath(name)));
    return copies;
}

} // namespace

class TransferTaskRepositoryTest : public QObject
{
    Q_OBJECT

private slots:
    void savedTasksLoadBackInOrder()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"a/b/"_s + taskFileName);
        const TransferTaskRepository repository(path);
        QCOMPARE(repository.load(), QList<TransferTaskRecord>());
        QVERIFY(!QFileInfo::exists(folder.filePath(u"a"_s)));
        repository.save({});
        QCOMPARE(contentsOf(path), "[]");

        TransferTaskRecord withPath = task(u"b"_s);
        withPath.relativePath = u"相册/2024/照片.jpg"_s;
        const QList<TransferTaskRecord> records{task(u"c"_s), withPath, task(u"a"_s)};
        repository.save(records);
        QCOMPARE(repository.load(), records);

        const QByteArray written = contentsOf(path);
        QVERIFY(written.startsWith("[{\"createdAt\""));
        QVERIFY2(written.contains("\"relativePath\":\"相册\\/2024\\/照片.jpg\""), written.constData());
        QVERIFY(!written.contains(' ') && !written.contains('\n'));
        QCOMPARE(QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(keptCopies(folder), QList<QByteArray>());
    }

    void damagedFileKeepsGoodTasksAndTheOriginal_data()
    {
        const TestTable<QByteArray, QStringList> rows; // the file's contents, and the ids of the tasks loaded
        const QByteArray a = taskText(u"a"_s), c = taskText(u"c"_s);
        rows("unknown status among good tasks", "[" + a + "," + taskText(u"b"_s, u"done"_s) + "," + c + "]",
             {u"a"_s, u"c"_s});
        rows("task that is not an object", "[" + a + ",5," + c + "]", {u"a"_s, u"c"_s});
        rows("cut short", "[" + a + "," + taskText(u"b"_s).left(40), {});
        rows("object, not array", a, {});
        rows("empty file", {}, {});
    }

    // Loading again and saving the good tasks neither adds copies nor touches the kept one, which is never
    // overwritten.
    void damagedFileKeepsGoodTasksAndTheOriginal()
    {
        const auto [contents, loadedIDs] = TestTable<QByteArray, QStringList>::fetch();
        QTemporaryDir folder;
        const QString path = folder.filePath(taskFileName);
        QVERIFY(writeFile(path, contents));
        const TransferTaskRepository repository(path);

        const QList<TransferTaskRecord> loaded = repository.load();
        QStringList ids;
        for (const TransferTaskRecord &record : loaded)
            ids.append(record.id);
        QCOMPARE(ids, loadedIDs);
        QCOMPARE(contentsOf(path), contents);
        QCOMPARE(keptCopies(folder), QList{contents});

        QCOMPARE(repository.load(), loaded);
        repository.save(loaded);
        QCOMPARE(repository.load(), loaded);
        QCOMPARE(keptCopies(folder), QList{contents});

        // A file damaged again gets a copy of its own, most likely within the same second.
        QVERIFY(writeFile(path, "[1]"));
        repository.load();
        const QList<QByteArray> kept = keptCopies(folder);
        QVERIFY(kept.size() == 2 && kept.contains(contents) && kept.contains("[1]"));
    }

    void aDamagedFileIsKeptWithoutRoomForACopy_data()
    {
        const TestTable<QString> rows; // how the disk refuses (see RefusingDisk)
        rows("4 KiB left", u"nearly full"_s);
        rows("file size limit", u"limit"_s);
    }
    // A task file cut short, too large for the room left on the disk: it is kept all the same, and the next save goes
    // in its place only then.
    void aDamagedFileIsKeptWithoutRoomForACopy()
    {
        const auto [refusal] = TestTable<QString>::fetch();
        QTemporaryDir folder;
        RefusingDisk disk(refusal, folder.path());
        if (!disk.isAvailable())
            QSKIP("this process may not mount a file system");
        const QString path = folder.filePath(taskFileName);
        QByteArray whole = "[";
        for (int number = 0; number < 100; ++number)
            whole += (number == 0 ? "" : ",") + taskText(u"task-%1"_s.arg(number));
        const QByteArray cut = whole.left(whole.size() * 9 / 10);
        QVERIFY(writeFile(path, cut));
        const TransferTaskRepository repository(path);

        QVERIFY(disk.refuse());
        QCOMPARE(repository.load(), QList<TransferTaskRecord>());
        repository.save({});
        disk.allow();
        QCOMPARE(contentsOf(path), "[]");
        QCOMPARE(keptCopies(folder), QList{cut});
    }

    void unreadableFileIsMovedAside_data()
    {
        const TestTable<QString> rows; // what stands at the file's place
        rows("no permission to read", u"locked"_s);
        rows("symbolic link", u"link"_s);
        rows("pipe", u"pipe"_s);
    }
    void unreadableFileIsMovedAside()
    {
        const auto [kind] = TestTable<QString>::fetch();
        if (kind == u"locked" && geteuid() == 0)
            QSKIP("the superuser reads every file");
        QTemporaryDir folder;
        const QString path = folder.filePath(taskFileName);
        const QString elsewhere = folder.filePath(u"elsewhere.json"_s);
        const QByteArray tasks = "[" + taskText(u"a"_s) + "]";
        QVERIFY(writeFile(kind == u"locked" ? path : elsewhere, tasks));
        if (kind == u"locked")
            QVERIFY(QFile::setPermissions(path, {}));
        if (kind == u"link")
            QVERIFY(QFile::link(elsewhere, path));
        if (kind == u"pipe")
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QCOMPARE(TransferTaskRepository(path).load(), QList<TransferTaskRecord>());
        QVERIFY(!QFileInfo(path).exists() && !QFileInfo(path).isSymLink());
        // The kept pipe is no file to list; the file a link named stays as it was.
        QCOMPARE(keptCopies(folder).size(), kind == u"pipe" ? 0 : 1);
        if (kind != u"locked")
            QCOMPARE(contentsOf(elsewhere), tasks);
    }

    void failedSaveThrowsAndKeepsTheOldFile()
    {
        QTemporaryDir folder;
        // A folder where the task file belongs, and a file where its folder belongs.
        QVERIFY(QDir(folder.path()).mkdir(taskFileName));
        QVERIFY(writeFile(folder.filePath(u"Tavrine"_s), "[]"));
        for (const QString &path : {folder.filePath(taskFileName), folder.filePath(u"Tavrine/"_s + taskFileName)})
            QVERIFY_THROWS_EXCEPTION(TransferTaskRepositoryError, TransferTaskRepository(path).save({task(u"a"_s)}));

        if (geteuid() == 0)
            QSKIP("the superuser writes into read-only folders");
        const QString readOnly = folder.filePath(u"read-only"_s);
        QVERIFY(QDir(folder.path()).mkdir(u"read-only"_s));
        QVERIFY(writeFile(readOnly + u'/' + taskFileName, "[]"));
        QVERIFY(QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QVERIFY_THROWS_EXCEPTION(TransferTaskRepositoryError,
                                 TransferTaskRepository(readOnly + u'/' + taskFileName).save({task(u"a"_s)}));
        QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(contentsOf(readOnly + u'/' + taskFileName), "[]");
    }

    void saveThatCannotReachTheDiskKeepsTheOldFile_data() { RefusingDisk::addRows(); }
    // The new file is larger than the room left: the save fails, and the old file stays whole, with no stray
    // temporary file beside it.
    void saveThatCannotReachTheDiskKeepsTheOldFile()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(taskFileName);
        RefusingDisk disk(RefusingDisk::fetch(), folder.path());
        if (!disk.isAvailable())
            QSKIP("this process may not mount a file system");
        const TransferTaskRepository repository(path);
        const QList<TransferTaskRecord> old{task(u"a"_s), task(u"b"_s)};
        repository.save(old);
        QList<TransferTaskRecord> more;
        for (int number = 0; number < 40; ++number)
            more.append(task(u"task-%1"_s.arg(number)));

        QVERIFY(disk.refuse());
        QVERIFY_THROWS_EXCEPTION(TransferTaskRepositoryError, repository.save(more));
        disk.allow();
        QCOMPARE(repository.load(), old);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).filter(taskFileName),
                 QStringList{taskFileName});
    }
};

QTEST_GUILESS_MAIN(TransferTaskRepositoryTest)
#include "test_transfer_task_repository.moc"

#include "TransferTaskRepository.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

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

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(contents), contents.size());
}

QStringList keptCopies(const QTemporaryDir &folder)
{
    return QDir(folder.path()).entryList({taskFileName + u".damaged-*"_s}, QDir::Files, QDir::Name);
}

QStringList idsOf(const QList<TransferTaskRecord> &records)
{
    QStringList ids;
    for (const TransferTaskRecord &record : records)
        ids.append(record.id);
    return ids;
}

} // namespace

class TransferTaskRepositoryTest : public QObject
{
    Q_OBJECT

private slots:
    void emptyListIsWrittenAsEmptyArrayInNewFolders()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"a/b/"_s + taskFileName);
        QCOMPARE(TransferTaskRepository(path).load(), QList<TransferTaskRecord>());
        QVERIFY(!QFileInfo::exists(folder.filePath(u"a"_s)));
        TransferTaskRepository(path).save({});
        QCOMPARE(contentsOf(path), "[]");
        QCOMPARE(TransferTaskRepository(path).load(), QList<TransferTaskRecord>());
    }

    void savedTasksLoadBackInOrder()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(taskFileName);
        TransferTaskRecord withPath = task(u"b"_s);
        withPath.relativePath = u"相册/2024/照片.jpg"_s;
        const QList<TransferTaskRecord> records{task(u"c"_s), withPath, task(u"a"_s)};

        const TransferTaskRepository repository(path);
        repository.save(records);
        QCOMPARE(repository.load(), records);

        const QByteArray written = contentsOf(path);
        QVERIFY(written.startsWith("[{\"createdAt\""));
        QVERIFY2(written.contains("\"relativePath\":\"相册\\/2024\\/照片.jpg\""), written.constData());
        QVERIFY(!written.contains(' ') && !written.contains('\n'));
        const QFileDevice::Permissions othersAccess =
            QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
        QCOMPARE(QFile::permissions(path) & othersAccess, QFileDevice::Permissions());
        QCOMPARE(keptCopies(folder), QStringList());
    }

    void damagedFileKeepsGoodTasksAndTheOriginal_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QStringList>("loadedIDs");

        QTest::newRow("unknown status among good tasks")
            << "[" + taskText(u"a"_s) + "," + taskText(u"b"_s, u"done"_s) + "," + taskText(u"c"_s) + "]"
            << QStringList{u"a"_s, u"c"_s};
        QTest::newRow("task that is not an object")
            << "[" + taskText(u"a"_s) + ",5," + taskText(u"c"_s) + "]" << QStringList{u"a"_s, u"c"_s};
        QTest::newRow("cut short") << "[" + taskText(u"a"_s) + "," + taskText(u"b"_s).left(40) << QStringList();
        QTest::newRow("object, not array") << taskText(u"a"_s) << QStringList();
        QTest::newRow("empty file") << QByteArray() << QStringList();
    }

    void damagedFileKeepsGoodTasksAndTheOriginal()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QStringList, loadedIDs);
        QTemporaryDir folder;
        const QString path = folder.filePath(taskFileName);
        writeFile(path, contents);
        const TransferTaskRepository repository(path);

        const QList<TransferTaskRecord> loaded = repository.load();
        QCOMPARE(idsOf(loaded), loadedIDs);
        QCOMPARE(contentsOf(path), contents);
        const QStringList kept = keptCopies(folder);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(contentsOf(folder.filePath(kept.first())), contents);

        QCOMPARE(idsOf(repository.load()), loadedIDs);
        QCOMPARE(keptCopies(folder), kept);

        repository.save(loaded);
        QCOMPARE(repository.load(), loaded);
        QCOMPARE(keptCopies(folder), kept);
        QCOMPARE(contentsOf(folder.filePath(kept.first())), contents);
    }

    void keptCopiesAreNeverOverwritten()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(taskFileName);
        const TransferTaskRepository repository(path);
        const QList<QByteArray> damaged{"[1]", "[2]", "[3]"};
        for (const QByteArray &contents : damaged) {
            writeFile(path, contents);
            repository.load();
        }
        QList<QByteArray> keptContents;
        for (const QString &name : keptCopies(folder))
            keptContents.append(contentsOf(folder.filePath(name)));
        std::ranges::sort(keptContents);
        QCOMPARE(keptContents, damaged);
    }

    void unreadableFileIsMovedAside()
    {
        if (geteuid() == 0)
            QSKIP("the superuser reads every file");
        QTemporaryDir folder;
        const QString path = folder.filePath(taskFileName);
        writeFile(path, "[" + taskText(u"a"_s) + "]");
        QVERIFY(QFile::setPermissions(path, {}));
        QCOMPARE(TransferTaskRepository(path).load(), QList<TransferTaskRecord>());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(keptCopies(folder).size(), 1);
    }

    void failedSaveThrowsAndKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("read-only folder") << u"read-only"_s;
        QTest::newRow("folder is a file") << u"file"_s;
        QTest::newRow("task file is a folder") << u"folder"_s;
    }

    void failedSaveThrowsAndKeepsTheOldFile()
    {
        QFETCH(QString, obstacle);
        QTemporaryDir folder;
        QString path = folder.filePath(taskFileName);
        if (obstacle == u"read-only") {
            if (geteuid() == 0)
                QSKIP("the superuser writes into read-only folders");
            writeFile(path, "[]");
            QVERIFY(QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        } else if (obstacle == u"file") {
            writeFile(folder.filePath(u"Tavrine"_s), "[]");
            path = folder.filePath(u"Tavrine/"_s + taskFileName);
        } else {
            QVERIFY(QDir(folder.path()).mkdir(taskFileName));
        }

        try {
            TransferTaskRepository(path).save({task(u"a"_s)});
            QFAIL("saved in spite of the obstacle");
        } catch (const TransferTaskRepositoryError &error) {
            QVERIFY(!error.errorDescription().isEmpty());
            QCOMPARE(QString::fromUtf8(error.what()), error.errorDescription());
        }
        QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (obstacle == u"read-only")
            QCOMPARE(contentsOf(path), "[]");
    }
};

QTEST_GUILESS_MAIN(TransferTaskRepositoryTest)
#include "test_transfer_task_repository.moc"

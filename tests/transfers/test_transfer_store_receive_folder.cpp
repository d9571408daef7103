#include "StoreTestSupport.h"

#include <QtTest>

#include <unistd.h>

using namespace Qt::StringLiterals;
using Phase = TransferStore::Phase;
using Status = TransferTaskRecord::Status;
using Kind = TransferEventKind;
using Direction = TransferDirection;

class TransferStoreReceiveFolderTest : public QObject
{
    Q_OBJECT

private slots:
    void receiveFolderUnavailable_data()
    {
        const TestTable<QString, QString> rows; // how Downloads is broken; the reason shown
        rows("link to a disk not mounted", u"dangling"_s, u"文件夹不存在，它所在的磁盘可能没有连接"_s);
        rows("a file in its place", u"file"_s, u"路径上有一个同名的文件"_s);
        rows("read-only", u"readOnly"_s, u"没有权限"_s);
    }

    // With Downloads a link to a disk that is not mounted, or not writable, the link to the phone starts all the same
    // and sends; the reason shows, a file the phone sends fails with it, and once the folder is back the receive
    // folder is made and the reason goes.
    void receiveFolderUnavailable()
    {
        const auto [broken, reason] = TestTable<QString, QString>::fetch();
        if (broken == u"readOnly" && ::geteuid() == 0) {
            QSKIP("the superuser writes into read-only folders");
        }
        StoreFixture fixture;
        fixture.retryInterval = std::chrono::milliseconds(20);
        const QString downloads = fixture.folder.filePath(u"Downloads"_s);
        const QString disk = fixture.folder.filePath(u"disk"_s);
        if (broken == u"dangling") {
            QVERIFY(QFile::link(disk, downloads));
        } else if (broken == u"file") {
            QVERIFY(writeFile(downloads, "x"));
        } else {
            QVERIFY(QDir().mkpath(downloads));
            QVERIFY(QFile::setPermissions(downloads, QFile::ReadOwner | QFile::ExeOwner));
        }
        fixture.inboxPath = QDir(downloads).filePath(u"Tavrine"_s);
        fixture.saveRegistry({trustedPhone(u"Pixel"_s, 1)});
        TransferStore &store = fixture.make();
        QSignalSpy problems(&store, &TransferStore::receiveFolderProblemChanged);
        awaitTask(store.startUp());
        QCOMPARE(store.phase(), Phase::reconnecting(u"Pixel"_s));
        QCOMPARE(fixture.host->startArguments.value(0).value(1), fixture.inbox());
        QVERIFY(store.receiveFolderProblem());
        QVERIFY2(store.receiveFolderProblem()->contains(reason), qPrintable(*store.receiveFolderProblem()));
        QCOMPARE(problems.size(), 1);

        fixture.deliver({linkEvent(Kind::paired)});
        store.sendFiles({fixture.writeFile(u"a.txt"_s)});
        QCOMPARE(fixture.calls(u"send:"_s).size(), 1);
        TransferEvent refused = transferEvent(Kind::failed, Direction::receiving, u"r1"_s, 0, 10);
        refused.message = u"the inbox folder cannot be used: No such file or directory"_s;
        fixture.deliver({refused});
        QCOMPARE(statusOf(store, u"r1"_s), Status::failed);
        QCOMPARE(taskWithId(store, u"r1"_s)->message, *store.receiveFolderProblem());

        if (broken == u"dangling") {
            QVERIFY(QDir().mkpath(disk));
        } else if (broken == u"file") {
            QVERIFY(QFile::remove(downloads));
        } else {
            QVERIFY(QFile::setPermissions(downloads, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        QTRY_VERIFY(!store.receiveFolderProblem());
        QVERIFY(QFileInfo(fixture.inbox()).isDir());
        QCOMPARE(problems.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TransferStoreReceiveFolderTest)
#include "test_transfer_store_receive_folder.moc"

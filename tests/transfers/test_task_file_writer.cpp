#include "TaskFileWriter.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QList<TransferTaskRecord> tasks(int count)
{
    QList<TransferTaskRecord> records;
    for (int number = 0; number < count; ++number) {
        TransferTaskRecord task;
        task.id = u"task-%1"_s.arg(number);
        task.peerName = u"Pixel"_s;
        task.fileName = u"f%1.txt"_s.arg(number);
        task.status = TransferTaskRecord::Status::queued;
        task.createdAt = task.updatedAt = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
        records.append(task);
    }
    return records;
}

} // namespace

class TaskFileWriterTest : public QObject
{
    Q_OBJECT

private slots:
    // Writes asked for in a burst end with the newest on disk, never an older one after it; what is still waiting
    // when the writer goes is written before it is gone.
    void theNewestStateIsWrittenLast()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"transfer-tasks-v1.json"_s);
        QObject context;
        QStringList failures;
        {
            TaskFileWriter writer(TransferTaskRepository(path), &context,
                                  [&failures](const QString &description) { failures.append(description); });
            for (int count = 1; count <= 300; ++count) {
                writer.write(tasks(count));
            }
            writer.waitUntilWritten();
            QCOMPARE(TransferTaskRepository(path).load().size(), 300);
            writer.write(tasks(2));
        }
        QCOMPARE(TransferTaskRepository(path).load(), tasks(2));
        QCoreApplication::processEvents();
        QVERIFY(failures.isEmpty());
    }

    // A writer that takes the current state itself when it is free: asked again and again while it writes, the
    // newest state still reaches the disk, whether the owner waits for it, lets the event loop hand it over, or
    // destroys the writer at once.
    void aWriterWithTheCurrentStateLosesNoChange_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("waiting") << u"wait"_s;
        QTest::newRow("event loop") << u"loop"_s;
        QTest::newRow("destroyed") << u"destroy"_s;
    }

    void aWriterWithTheCurrentStateLosesNoChange()
    {
        QFETCH(QString, ending);
        QTemporaryDir folder;
        const QString path = folder.filePath(u"transfer-tasks-v1.json"_s);
        QObject context;
        QList<TransferTaskRecord> state;
        {
            TaskFileWriter writer(
                TransferTaskRepository(path), &context, [](const QString &) {}, [&state] { return state; });
            writer.write(state = tasks(1));
            for (int count = 2; count <= 300; ++count) {
                state = tasks(count);
                writer.write(state);
            }
            if (ending == u"wait") {
                writer.waitUntilWritten();
                QCOMPARE(TransferTaskRepository(path).load(), tasks(300));
            } else if (ending == u"loop") {
                QTRY_COMPARE(TransferTaskRepository(path).load(), tasks(300));
            }
        }
        QCOMPARE(TransferTaskRepository(path).load(), tasks(300));
    }

    // Each write that reached the disk tells, on the context's thread, the newest request it holds: never one the
    // disk does not hold yet, and after a burst the last one; a write that failed tells none.
    void writtenRequestsAreTold()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"transfer-tasks-v1.json"_s);
        QObject context;
        QList<TransferTaskRecord> state;
        QList<quint64> heard;
        TaskFileWriter writer(
            TransferTaskRepository(path), &context, [](const QString &) {}, [&state] { return state; },
            [&](quint64 request) {
                QCOMPARE(QThread::currentThread(), context.thread());
                // The file holds at least the tasks of that request: request n wrote n tasks.
                QVERIFY(TransferTaskRepository(path).load().size() >= qsizetype(request));
                heard.append(request);
            });
        for (int count = 1; count <= 300; ++count) {
            state = tasks(count);
            QCOMPARE(writer.write(state), quint64(count));
        }
        QTRY_COMPARE(heard.value(heard.size() - 1), quint64(300));
        QVERIFY(std::is_sorted(heard.begin(), heard.end()));

        QVERIFY(QFile::remove(path) && QDir().mkpath(path));
        QCOMPARE(writer.write(state = tasks(1)), quint64(301));
        writer.waitUntilWritten();
        QCoreApplication::processEvents();
        QCOMPARE(heard.last(), quint64(300));
    }

    // Once the writer has copied the list it was handed, the owner's list is its own again: the owner changes a task
    // in place, not in a copy of the whole list, and the change comes after the writer's copy (a ThreadSanitizer
    // build tells when nothing orders the two).
    void theOwnerChangesItsTasksInPlaceOnceTheyAreCopied()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"transfer-tasks-v1.json"_s);
        QObject context;
        QList<TransferTaskRecord> state = tasks(3);
        TaskFileWriter writer(TransferTaskRepository(path), &context, [](const QString &) {});
        writer.write(state);
        QTRY_VERIFY(state.isDetached());
        const TransferTaskRecord *const stored = state.constData();
        state[1].fileName = u"renamed.txt"_s;
        QCOMPARE(state.constData(), stored);
        writer.write(state);
        writer.waitUntilWritten();
        QCOMPARE(TransferTaskRepository(path).load(), state);
    }

    // A write that fails is told on the context's thread, and the writer goes on with the next.
    void failuresReachTheContextsThread()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"transfer-tasks-v1.json"_s);
        QVERIFY(QDir().mkpath(path)); // a folder where the file belongs
        QObject context;
        QList<QThread *> threads;
        QStringList failures;
        TaskFileWriter writer(TransferTaskRepository(path), &context, [&](const QString &description) {
            threads.append(QThread::currentThread());
            failures.append(description);
        });
        writer.write(tasks(1));
        writer.waitUntilWritten();
        QTRY_COMPARE(failures.size(), 1);
        QVERIFY(!failures.first().isEmpty());
        QCOMPARE(threads.first(), QThread::currentThread());

        QVERIFY(QDir(path).removeRecursively());
        writer.write(tasks(3));
        writer.waitUntilWritten();
        QCOMPARE(TransferTaskRepository(path).load(), tasks(3));
    }

    // A failure still queued when the context goes is dropped with it.
    void aFailureOutlivingItsContextIsDropped()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"transfer-tasks-v1.json"_s);
        QVERIFY(QDir().mkpath(path));
        int heard = 0;
        {
            auto context = std::make_unique<QObject>();
            TaskFileWriter writer(TransferTaskRepository(path), context.get(), [&heard](const QString &) { ++heard; });
            writer.write(tasks(1));
            writer.waitUntilWritten();
            context.reset();
        }
        QCoreApplication::processEvents();
        QCOMPARE(heard, 0);
    }
};

QTEST_GUILESS_MAIN(TaskFileWriterTest)
#include "test_task_file_writer.moc"

#include "TintedProgressBar.h"
#include "TransferActivityDock.h"
#include "TransferTaskCenter.h"
#include "TransferTaskRow.h"
#include "ViewsTestSupport.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QtTest>

using Status = TransferTaskRecord::Status;
using Direction = TransferTaskRecord::Direction;
using ViewsTestSupport::task;

Q_DECLARE_METATYPE(Status)

namespace {

QString labelText(const QWidget *parent, const char *name)
{
    const auto *label = parent->findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<none>");
}

bool shown(const QWidget *parent, const char *name)
{
    const auto *child = parent->findChild<QWidget *>(QLatin1String(name));
    return child && child->isVisibleTo(parent);
}

QStringList shownControls(const TransferTaskRow *row)
{
    QStringList names;
    for (const char *name : {"pauseButton", "resumeButton", "retryButton", "cancelButton"}) {
        if (shown(row, name)) {
            names.append(QLatin1String(name));
        }
    }
    return names;
}

QList<TransferTaskRecord> tasksWithStatuses(const QList<Status> &statuses)
{
    QList<TransferTaskRecord> tasks;
    for (qsizetype index = 0; index < statuses.size(); ++index) {
        tasks.append(task(QStringLiteral("task-%1").arg(index), statuses[index], Direction::sending, 50, 100));
    }
    return tasks;
}

} // namespace

class TransferTaskCenterTest : public QObject
{
    Q_OBJECT

private slots:
    void rowShowsItsTask()
    {
        StoreFixture fixture;
        TransferStore &store = ViewsTestSupport::storeWithTasks(
            fixture, {task("a", Status::failed), task("b", Status::completed, Direction::receiving, 10, 10)});
        TransferTaskCenter center(&store);
        QCOMPARE(center.rows().size(), 2);
        const TransferTaskRow *failed = center.rows().first();
        QCOMPARE(labelText(failed, "statusLabel"), QStringLiteral("失败"));
        QCOMPARE(labelText(failed, "fileNameLabel"), QStringLiteral("a.jpg"));
        QCOMPARE(labelText(failed, "messageLabel"), QStringLiteral("message of a"));
        QCOMPARE(shownControls(failed), (QStringList{"retryButton", "cancelButton"}));
        // Without a size there is nothing to measure.
        QVERIFY(!shown(failed, "progressBar"));
        QVERIFY(!shown(failed, "byteCountLabel"));
        QVERIFY(!shown(failed, "batchLabel"));

        const TransferTaskRow *completed = center.rows().at(1);
        QCOMPARE(shownControls(completed), QStringList());
        QVERIFY(!shown(completed, "progressBar"));
        QCOMPARE(labelText(completed, "byteCountLabel"), QStringLiteral("10 字节 / 10 字节"));
    }

    void controlsActOnTheStore_data()
    {
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("button");
        QTest::addColumn<Status>("result");

        // The store has no phone connected, so resumed and retried tasks wait for the connection.
        QTest::newRow("pause") << Status::queued << "pauseButton" << Status::paused;
        QTest::newRow("resume") << Status::paused << "resumeButton" << Status::waitingForConnection;
        QTest::newRow("retry") << Status::needsAttention << "retryButton" << Status::waitingForConnection;
        QTest::newRow("cancel") << Status::failed << "cancelButton" << Status::cancelled;
    }

    void controlsActOnTheStore()
    {
        QFETCH(Status, status);
        QFETCH(QString, button);
        QFETCH(Status, result);

        StoreFixture fixture;
        TransferStore &store = ViewsTestSupport::storeWithTasks(
            fixture, {task("other", Status::queued), task("target", status), task("last", Status::paused)});
        TransferTaskCenter center(&store);
        TransferTaskRow *row = center.rows().at(1);
        QCOMPARE(row->task().id, QStringLiteral("target"));
        row->findChild<QToolButton *>(button)->click();

        QCOMPARE(store.tasks().at(1).status, result);
        QCOMPARE(store.tasks().at(0).status, Status::queued);
        QCOMPARE(store.tasks().at(2).status, Status::paused);
        // The row redraws from the store's publication.
        QCOMPARE(row->task(), store.tasks().at(1));
    }

    void clearButtonFollowsFinishedTasks()
    {
        StoreFixture fixture;
        TransferStore &store = ViewsTestSupport::storeWithTasks(fixture, {task("a", Status::queued)});
        TransferTaskCenter center(&store);
        QVERIFY(!shown(&center, "clearFinishedButton"));
        QCOMPARE(labelText(&center, "subtitleLabel"), QStringLiteral("1 个任务进行中或等待中"));

        store.cancelTask(QStringLiteral("a"));
        QVERIFY(shown(&center, "clearFinishedButton"));
        QVERIFY(!shown(&center, "subtitleLabel"));
        QVERIFY(!shown(&center, "overallProgressBar"));

        center.findChild<QPushButton *>(QStringLiteral("clearFinishedButton"))->click();
        QVERIFY(store.tasks().isEmpty());
        QTRY_VERIFY(center.findChildren<TransferTaskRow *>().isEmpty());
    }

    void rowsFollowTheStoreByTask()
    {
        StoreFixture fixture;
        TransferStore &store = ViewsTestSupport::storeWithTasks(fixture, {task("old", Status::completed)});
        fixture.pair();
        TransferTaskCenter center(&store);
        TransferTaskRow *oldRow = center.rows().first();

        TransferEvent progress = makeEvent(TransferEventKind::receiving, TransferDirection::receiving,
                                           QStringLiteral("incoming"), QStringLiteral("Pixel"));
        progress.fileName = QStringLiteral("video.mp4");
        progress.transferredBytes = 250;
        progress.totalBytes = 1000;
        fixture.deliver({progress});
        QCOMPARE(center.rows().size(), 2);
        QCOMPARE(center.rows().at(1), oldRow);
        TransferTaskRow *newRow = center.rows().first();
        QCOMPARE(labelText(newRow, "statusLabel"), QStringLiteral("正在接收"));
        QCOMPARE(labelText(newRow, "byteCountLabel"), QStringLiteral("250 字节 / 1 KB"));

        progress.transferredBytes = 750;
        fixture.deliver({progress});
        QCOMPARE(center.rows().first(), newRow);
        QCOMPARE(newRow->findChild<TintedProgressBar *>(QStringLiteral("progressBar"))->fraction(), 0.75);
        QCOMPARE(center.findChild<TintedProgressBar *>(QStringLiteral("overallProgressBar"))->fraction(), 0.75);
    }

    void dockSummarisesTheTasks()
    {
        StoreFixture fixture;
        TransferStore &store = ViewsTestSupport::storeWithTasks(
            fixture, tasksWithStatuses({Status::completed, Status::cancelled, Status::completed, Status::completed}));
        TransferActivityDock dock(&store);
        QCOMPARE(dock.summaryText(), QStringLiteral("最近完成 3 项"));
        QCOMPARE(dock.accessibleName(), QStringLiteral("活动"));
        QCOMPARE(dock.accessibleDescription(), dock.summaryText());
        QVERIFY(!shown(&dock, "dockProgressBar"));

        fixture.pair();
        TransferEvent incoming = makeEvent(TransferEventKind::receiving, TransferDirection::receiving,
                                           QStringLiteral("incoming"), QStringLiteral("Pixel"));
        incoming.totalBytes = 100;
        fixture.deliver({incoming});
        QCOMPARE(dock.summaryText(), QStringLiteral("1 项传输进行中"));
        QVERIFY(shown(&dock, "dockProgressBar"));
    }

    void popoverGrowsWithTheListThenScrolls_data()
    {
        QTest::addColumn<int>("taskCount");
        QTest::addColumn<int>("height");

        QTest::newRow("3 tasks") << 3 << 246;
        QTest::newRow("12 tasks") << 12 << 520;
    }

    void popoverGrowsWithTheListThenScrolls()
    {
        QFETCH(int, taskCount);
        QFETCH(int, height);

        StoreFixture fixture;
        TransferStore &store =
            ViewsTestSupport::storeWithTasks(fixture, tasksWithStatuses(QList<Status>(taskCount, Status::queued)));
        QWidget window;
        auto *dock = new TransferActivityDock(&store, &window);
        window.resize(600, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTest::mouseClick(dock, Qt::LeftButton);
        QVERIFY(dock->isShowingActivity());
        QFrame *popover = dock->popover();
        QVERIFY(popover->isVisible());
        QCOMPARE(popover->size(), QSize(460, height));
        QCOMPARE(dock->taskCenter()->rows().size(), taskCount);
        if (taskCount > 8) {
            auto *scrollArea = popover->findChild<QScrollArea *>();
            QTRY_VERIFY(scrollArea->verticalScrollBar()->maximum() > 0);
        }

        // The popover closing by itself (a click elsewhere, Escape) is seen by the dock.
        popover->hide();
        QVERIFY(!dock->isShowingActivity());
        QTest::mouseClick(dock, Qt::LeftButton);
        QVERIFY(popover->isVisible());
        QTest::mouseClick(dock, Qt::LeftButton);
        QVERIFY(!popover->isVisible());
    }
};

QTEST_MAIN(TransferTaskCenterTest)
#include "test_transfer_task_center.moc"

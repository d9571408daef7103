#include "TaskListFollower.h"
#include "TestSupport.h"
#include "TintedProgressBar.h"
#include "TransferActivityDock.h"
#include "TransferTaskCenter.h"
#include "TransferTaskRow.h"
#include "ViewsTestSupport.h"

#include <QFrame>
#include <QScrollArea>
#include <QScrollBar>

using namespace ViewsTestSupport;

using TaskRows = TestTable<TransferTaskRecord, Symbol, QColor, QString>;
using Controls = TestTable<Status, QString, QList<Status>>;
// header: the task center above its rows
using Summaries = TestTable<QList<Status>, QString, QString, int>;

class TransferTaskCenterTest : public QObject
{
    Q_OBJECT

private slots:
    void rowShowsItsTask_data()
    {
        const TaskRows rows;
        const QString album = QStringLiteral("相册");
        const QColor blue = ViewColors::blue(), orange = ViewColors::orange();
        const Symbol up = Symbol::arrowUpCircleFill, down = Symbol::arrowDownCircleFill;
        const Symbol warning = Symbol::exclamationmarkTriangleFill;
        const auto inBatch = [](TransferTaskRecord task, std::optional<QString> batchName,
                                std::optional<QString> path) {
            task.batchName = batchName;
            task.relativePath = path;
            return task;
        };
        // A file asked for from the dashboard, as opposed to one the phone sends of its own accord.
        const auto download = [](TransferTaskRecord task) {
            task.remoteFileID = QStringLiteral("file-") + task.id;
            return task;
        };
        rows("queued send", task("a", Status::queued), up, blue, "a.jpg | 等待发送 | [暂停] | [取消]");
        rows("queued download, path inside the batch",
             download(inBatch(task("a", Status::queued, Direction::receiving, 999, 1000), album, "2024/a.jpg")), down,
             blue, "a.jpg | 等待下载 | ━ | 999 字节 / 1 KB | 相册 / 2024/a.jpg | [暂停] | [取消]");
        rows("waiting, path is the file name",
             inBatch(task("a", Status::waitingForConnection, Direction::receiving, 0, 1499), album, "a.jpg"), down,
             blue, "a.jpg | 等待连接 | ━ | 0 字节 / 1 KB | 相册 | [继续] | [取消]");
        rows("sending, batch without paths",
             inBatch(task("a", Status::sending, Direction::sending, 999'600, 12'345'678), album, {}), up, blue,
             "a.jpg | 正在发送 | ━ | 1 MB / 12.3 MB | 相册 | [暂停] | [取消]");
        rows("receiving, path is the batch name",
             download(inBatch(task("a", Status::receiving, Direction::receiving), album, album)), down, blue,
             "a.jpg | 正在接收 | 相册 | [暂停] | [取消]");
        rows("received from the phone: the phone pauses it",
             task("a", Status::receiving, Direction::receiving, 250, 1000), down, blue,
             "a.jpg | 正在接收 | ━ | 250 字节 / 1 KB | [取消]");
        TransferTaskRecord preview = download(inBatch(task("a", Status::receiving, Direction::receiving),
                                                      QStringLiteral("预览"), QStringLiteral("8314cad8a5144e.jpg")));
        preview.deliveryPurpose = TransferTaskRecord::DeliveryPurpose::preview;
        rows("preview, path is its copy in the cache", preview, down, blue,
             "a.jpg | 正在接收 | 预览 | [暂停] | [取消]");
        rows("paused, largest size",
             task("a", Status::paused, Direction::sending, 1'250'000'000, std::numeric_limits<qint64>::max()),
             Symbol::pauseCircleFill, blue, "a.jpg | 已暂停 | ━ | 1.25 GB / 9.22 EB | [继续] | [取消]");
        rows("completed", task("a", Status::completed, Direction::sending, 10, 10), Symbol::checkmarkCircleFill,
             ViewColors::green(), "a.jpg | 已完成 | 10 字节 / 10 字节");
        rows("failed without a size, path without a batch",
             inBatch(task("a", Status::failed, Direction::sending, 0, 0, "连接已断开"), {}, "b/a.jpg"), warning, orange,
             "a.jpg | 失败 | 连接已断开 | [重试] | [取消]");
        rows("needs attention", task("a", Status::needsAttention, Direction::receiving, 1'500'000, 3'000'000), warning,
             orange, "a.jpg | 需要处理 | ━ | 1.5 MB / 3 MB | [重试] | [取消]");
        rows("cancelled", task("a", Status::cancelled, Direction::sending, 10, 100), Symbol::xmarkCircleFill,
             ViewColors::secondary(), "a.jpg | 已取消 | 10 字节 / 100 字节");
    }

    void rowShowsItsTask()
    {
        const auto [task, symbol, tint, reads] = TaskRows::fetch();
        const TransferTaskRow row(task, nullptr);
        QCOMPARE(transcript(&row), reads);
        QVERIFY(showsSymbol(row.findChild<QLabel *>(QStringLiteral("statusIcon"))->pixmap(), symbol, tint));
        QCOMPARE(row.findChild<QLabel *>(QStringLiteral("statusLabel"))->palette().color(QPalette::WindowText), tint);
    }

    void controlsActOnTheStore_data()
    {
        const Controls rows;
        // The store has no phone connected, so resumed and retried tasks wait for the connection.
        const Status waiting = Status::waitingForConnection;
        rows("pause", Status::queued, "pauseButton", QList{Status::queued, Status::paused, Status::paused});
        rows("resume", Status::paused, "resumeButton", QList{Status::queued, waiting, Status::paused});
        rows("retry", Status::needsAttention, "retryButton", QList{Status::queued, waiting, Status::paused});
        rows("cancel", Status::failed, "cancelButton", QList{Status::queued, Status::cancelled, Status::paused});
        rows("clear finished", Status::completed, "clearFinishedButton", QList{Status::queued, Status::paused});
    }

    void controlsActOnTheStore()
    {
        const auto [status, button, after] = Controls::fetch();
        StoreFixture fixture;
        TransferStore &store = storeWithStatuses(fixture, {Status::queued, status, Status::paused});
        TransferTaskCenter center(&store);
        QAbstractButton *control = center.rows().at(1)->findChild<QToolButton *>(button);
        control = control ? control : center.findChild<QPushButton *>(button);
        control->click();

        // The views redraw from the store's publication, and a finished task offers to be cleared.
        QCOMPARE(store.tasks().size(), after.size());
        QCOMPARE(center.rows().size(), after.size());
        for (qsizetype index = 0; index < after.size(); ++index) {
            QCOMPARE(store.tasks().at(index).status, after.at(index));
            QCOMPARE(center.rows().at(index)->task(), store.tasks().at(index));
        }
        QTRY_COMPARE(center.findChildren<TransferTaskRow *>().size(), after.size());
        QCOMPARE(center.findChild<QPushButton *>(QStringLiteral("clearFinishedButton"))->isVisibleTo(&center),
                 after.contains(Status::cancelled));
    }

    void dockAndPopoverSumUpTheTasks_data()
    {
        const Summaries rows;
        const Status completed = Status::completed, cancelled = Status::cancelled;
        QList<Status> oneActive(10, completed);
        oneActive.prepend(Status::paused);
        const QString title = QStringLiteral("活动"), clear = QStringLiteral("活动 | [清除已完成]");
        rows("empty", QList<Status>(), "传输活动", title, 220);
        rows("only cancelled", QList{cancelled, cancelled}, "传输活动", clear, 220);
        rows("three completed, one cancelled", QList{completed, cancelled, completed, completed}, "最近完成 3 项",
             clear, 328);
        // Every unfinished task counts, whether it goes, waits for the phone or the user, or failed: the dock's green
        // "completed" says that nothing is left to do.
        rows("one queued among failed ones", QList{Status::failed, Status::needsAttention, Status::queued},
             "3 项传输进行中 | ━", "活动 | 3 个任务进行中或等待中 | ━", 246);
        rows("only failed ones", QList{Status::failed, Status::needsAttention, completed}, "2 项传输进行中 | ━",
             "活动 | 2 个任务进行中或等待中 | [清除已完成] | ━", 246);
        rows("one paused, ten completed", oneActive, "1 项传输进行中 | ━",
             "活动 | 1 个任务进行中或等待中 | [清除已完成] | ━", 520);
        rows("queued ones, the others waiting",
             QList{Status::queued, Status::waitingForConnection, Status::paused, Status::queued}, "4 项传输进行中 | ━",
             "活动 | 4 个任务进行中或等待中 | ━", 328);
    }

    void dockAndPopoverSumUpTheTasks()
    {
        const auto [statuses, dock, header, height] = Summaries::fetch();
        StoreFixture fixture;
        TransferStore &store = storeWithStatuses(fixture, statuses);
        QWidget window;
        auto *button = new TransferActivityDock(&store, &window);
        window.resize(600, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(transcript(button), dock);
        QCOMPARE(button->accessibleDescription(), button->summaryText());
        const bool active = dock.endsWith(QStringLiteral("━"));
        QVERIFY(showsSymbol(button->findChild<QLabel *>(QStringLiteral("dockIcon"))->pixmap(),
                            active ? Symbol::arrowUpArrowDownCircleFill : Symbol::checkmarkCircleFill,
                            active ? ViewColors::blue() : ViewColors::green()));

        QTest::mouseClick(button, Qt::LeftButton);
        QFrame *popover = button->popover();
        QVERIFY(button->isShowingActivity() && popover->isVisible());
        QCOMPARE(popover->size(), QSize(460, height));
        QString center = transcript(button->taskCenter());
        for (const TransferTaskRow *row : button->taskCenter()->rows())
            center.remove(QStringLiteral(" | ") + transcript(row));
        QCOMPARE(center, header);
        QCOMPARE(button->taskCenter()->rows().size(), statuses.size());
        if (statuses.size() > 8)
            QTRY_VERIFY(popover->findChild<QScrollArea *>()->verticalScrollBar()->maximum() > 0);

        // The popover closing by itself (a click elsewhere, Escape) is seen by the dock.
        popover->hide();
        QVERIFY(!button->isShowingActivity());
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(popover->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!popover->isVisible());
    }

    void viewsFollowTheStoreByTask()
    {
        StoreFixture fixture;
        TransferStore &store = storeWithStatuses(fixture, {Status::completed});
        fixture.pair();
        const TransferActivityDock dock(&store);
        TransferTaskCenter center(&store);
        TransferTaskRow *oldRow = center.rows().first();

        TransferEvent event = progress(TransferEventKind::receiving, "incoming", "video.mp4", 250, 1000);
        fixture.deliver({event});
        QCOMPARE(center.rows().size(), 2);
        QCOMPARE(center.rows().at(1), oldRow);
        TransferTaskRow *newRow = center.rows().first();
        // A file the phone sends is the phone's to pause: this side offers to stop it only.
        QCOMPARE(transcript(newRow), QStringLiteral("video.mp4 | 正在接收 | ━ | 250 字节 / 1 KB | [取消]"));
        QCOMPARE(dock.summaryText(), QStringLiteral("1 项传输进行中"));

        // A change right after another is drawn once the views' pace allows.
        event.transferredBytes = 750;
        fixture.deliver({event});
        QTRY_COMPARE(newRow->findChild<TintedProgressBar *>(QStringLiteral("progressBar"))->fraction(), 0.75);
        QCOMPARE(center.rows().first(), newRow);
        QTRY_COMPARE(center.findChild<TintedProgressBar *>(QStringLiteral("overallProgressBar"))->fraction(), 0.75);
        QTRY_COMPARE(dock.findChild<TintedProgressBar *>(QStringLiteral("dockProgressBar"))->fraction(), 0.75);
    }

    // Files finishing one after another redraw a view at its pace, not once a file: the first change at once, the
    // burst after it once a spell, and the last state always.
    void aBurstOfChangesRedrawsAtAPace()
    {
        StoreFixture fixture;
        TransferStore &store = fixture.makePaired();
        QObject view;
        int redraws = 0;
        qint64 drawnBytes = -1;
        new TaskListFollower(store, &view, [&] {
            ++redraws;
            drawnBytes = store.tasks().isEmpty() ? -1 : store.tasks().first().transferredBytes;
        });
        TransferEvent event = progress(TransferEventKind::receiving, "incoming", "video.mp4", 0, 1000);
        fixture.deliver({event});
        QCOMPARE(redraws, 1);
        QCOMPARE(drawnBytes, 0);
        for (int bytes = 10; bytes <= 500; bytes += 10) {
            event.transferredBytes = bytes;
            fixture.deliver({event});
        }
        QCOMPARE(redraws, 1);
        QTRY_COMPARE(drawnBytes, 500);
        QCOMPARE(redraws, 2);
        QTest::qWait(2 * int(TaskListFollower::interval.count()));
        QCOMPARE(redraws, 2);
        // After a quiet spell the next change is drawn at once again.
        event.transferredBytes = 600;
        fixture.deliver({event});
        QCOMPARE(drawnBytes, 600);
    }
};

QTEST_MAIN(TransferTaskCenterTest)
#include "test_transfer_task_center.moc"

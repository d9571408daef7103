#include "TransferTaskPresentation.h"
#include "TrustedDeviceManagementPresentation.h"

#include <QtTest>

using Status = TransferTaskRecord::Status;
using Direction = TransferTaskRecord::Direction;
using Control = TransferTaskPresentation::Control;
using Tint = TransferTaskPresentation::Tint;

Q_DECLARE_METATYPE(Status)
Q_DECLARE_METATYPE(Direction)
Q_DECLARE_METATYPE(Symbol)
Q_DECLARE_METATYPE(Tint)
Q_DECLARE_METATYPE(QList<Control>)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

TransferTaskRecord record(Status status, Direction direction = Direction::sending, qint64 transferred = 0,
                          qint64 total = 0)
{
    TransferTaskRecord task;
    task.id = QStringLiteral("task");
    task.fileName = QStringLiteral("photo.jpg");
    task.direction = direction;
    task.status = status;
    task.transferredBytes = transferred;
    task.totalBytes = total;
    return task;
}

} // namespace

class TransferTaskPresentationTest : public QObject
{
    Q_OBJECT

private slots:
    void statusRow_data()
    {
        QTest::addColumn<Status>("status");
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<Symbol>("symbol");
        QTest::addColumn<QString>("label");
        QTest::addColumn<Tint>("tint");
        QTest::addColumn<QList<Control>>("controls");

        const auto up = Symbol::arrowUpCircleFill;
        const auto down = Symbol::arrowDownCircleFill;
        QTest::newRow("queued send") << Status::queued << Direction::sending << up << "等待发送" << Tint::blue
                                     << QList{Control::pause, Control::cancel};
        QTest::newRow("queued download") << Status::queued << Direction::receiving << down << "等待下载" << Tint::blue
                                         << QList{Control::pause, Control::cancel};
        QTest::newRow("waiting") << Status::waitingForConnection << Direction::receiving << down << "等待连接"
                                 << Tint::blue << QList{Control::resume, Control::cancel};
        QTest::newRow("sending") << Status::sending << Direction::sending << up << "正在发送" << Tint::blue
                                 << QList{Control::pause, Control::cancel};
        QTest::newRow("receiving") << Status::receiving << Direction::receiving << down << "正在接收" << Tint::blue
                                   << QList{Control::pause, Control::cancel};
        QTest::newRow("paused") << Status::paused << Direction::sending << Symbol::pauseCircleFill << "已暂停"
                                << Tint::blue << QList{Control::resume, Control::cancel};
        QTest::newRow("completed") << Status::completed << Direction::sending << Symbol::checkmarkCircleFill << "已完成"
                                   << Tint::green << QList<Control>();
        QTest::newRow("failed") << Status::failed << Direction::sending << Symbol::exclamationmarkTriangleFill << "失败"
                                << Tint::orange << QList{Control::retry, Control::cancel};
        QTest::newRow("needs attention") << Status::needsAttention << Direction::receiving
                                         << Symbol::exclamationmarkTriangleFill << "需要处理" << Tint::orange
                                         << QList{Control::retry, Control::cancel};
        QTest::newRow("cancelled") << Status::cancelled << Direction::sending << Symbol::xmarkCircleFill << "已取消"
                                   << Tint::secondary << QList<Control>();
    }

    void statusRow()
    {
        QFETCH(Status, status);
        QFETCH(Direction, direction);
        QFETCH(Symbol, symbol);
        QFETCH(QString, label);
        QFETCH(Tint, tint);
        QFETCH(QList<Control>, controls);

        const TransferTaskRecord task = record(status, direction);
        QCOMPARE(TransferTaskPresentation::statusStyle(task),
                 (TransferTaskPresentation::StatusStyle{symbol, label, tint}));
        QCOMPARE(TransferTaskPresentation::controls(task), controls);
    }

    void progressAndByteCounts_data()
    {
        QTest::addColumn<Status>("status");
        QTest::addColumn<qint64>("transferred");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<bool>("showsProgress");
        QTest::addColumn<std::optional<QString>>("byteCounts");

        QTest::newRow("failed without a size")
            << Status::failed << qint64(0) << qint64(0) << false << std::optional<QString>();
        QTest::newRow("sending") << Status::sending << qint64(1'500'000) << qint64(3'000'000) << true
                                 << std::optional<QString>(QStringLiteral("1.5 MB / 3 MB"));
        QTest::newRow("cancelled") << Status::cancelled << qint64(10) << qint64(100) << false
                                   << std::optional<QString>(QStringLiteral("10 字节 / 100 字节"));
    }

    void progressAndByteCounts()
    {
        QFETCH(Status, status);
        QFETCH(qint64, transferred);
        QFETCH(qint64, total);
        QFETCH(bool, showsProgress);
        QFETCH(std::optional<QString>, byteCounts);

        const TransferTaskRecord task = record(status, Direction::sending, transferred, total);
        QCOMPARE(TransferTaskPresentation::showsProgress(task), showsProgress);
        QCOMPARE(TransferTaskPresentation::byteCountText(task), byteCounts);
    }

    void fileByteCount_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");

        QTest::newRow("zero") << qint64(0) << "0 字节";
        QTest::newRow("below a kilobyte") << qint64(999) << "999 字节";
        QTest::newRow("one kilobyte") << qint64(1000) << "1 KB";
        QTest::newRow("kilobytes are whole") << qint64(1499) << "1 KB";
        QTest::newRow("rounds up into megabytes") << qint64(999'600) << "1 MB";
        QTest::newRow("megabytes") << qint64(12'345'678) << "12.3 MB";
        QTest::newRow("gigabytes") << qint64(1'250'000'000) << "1.25 GB";
        QTest::newRow("largest") << std::numeric_limits<qint64>::max() << "9.22 EB";
    }

    void fileByteCount()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(TransferTaskPresentation::fileByteCount(bytes), text);
    }

    void batchLine_data()
    {
        QTest::addColumn<std::optional<QString>>("batchName");
        QTest::addColumn<std::optional<QString>>("relativePath");
        QTest::addColumn<std::optional<QString>>("line");

        const auto text = [](const char *value) {
            return std::optional<QString>(QString::fromUtf8(value));
        };
        QTest::newRow("no batch") << std::optional<QString>() << text("a/photo.jpg") << std::optional<QString>();
        QTest::newRow("batch only") << text("相册") << std::optional<QString>() << text("相册");
        QTest::newRow("path is the file name") << text("相册") << text("photo.jpg") << text("相册");
        QTest::newRow("path is the batch name") << text("相册") << text("相册") << text("相册");
        QTest::newRow("path inside the batch")
            << text("相册") << text("2024/photo.jpg") << text("相册 / 2024/photo.jpg");
    }

    void batchLine()
    {
        QFETCH(std::optional<QString>, batchName);
        QFETCH(std::optional<QString>, relativePath);
        QFETCH(std::optional<QString>, line);

        TransferTaskRecord task = record(Status::queued);
        task.batchName = batchName;
        task.relativePath = relativePath;
        QCOMPARE(TransferTaskPresentation::batchLine(task), line);
    }

    void dockAndHeader_data()
    {
        QTest::addColumn<QList<Status>>("statuses");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<std::optional<QString>>("subtitle");
        QTest::addColumn<bool>("offersClear");

        QTest::newRow("empty") << QList<Status>() << "传输活动" << std::optional<QString>() << false;
        QTest::newRow("three completed") << QList{Status::completed, Status::completed, Status::completed}
                                         << "最近完成 3 项" << std::optional<QString>() << true;
        QTest::newRow("only cancelled") << QList{Status::cancelled, Status::cancelled} << "传输活动"
                                        << std::optional<QString>() << true;
        QList<Status> oneActive(10, Status::completed);
        oneActive.prepend(Status::paused);
        QTest::newRow("one active, ten completed")
            << oneActive << "1 项传输进行中" << std::optional<QString>(QStringLiteral("1 个任务进行中或等待中"))
            << true;
        QTest::newRow("active only") << QList{Status::failed, Status::needsAttention, Status::queued}
                                     << "3 项传输进行中"
                                     << std::optional<QString>(QStringLiteral("3 个任务进行中或等待中")) << false;
    }

    void dockAndHeader()
    {
        QFETCH(QList<Status>, statuses);
        QFETCH(QString, summary);
        QFETCH(std::optional<QString>, subtitle);
        QFETCH(bool, offersClear);

        QList<TransferTaskRecord> tasks;
        for (const Status status : statuses) {
            tasks.append(record(status));
        }
        const int active = TransferTaskPresentation::activeTaskCount(tasks);
        QCOMPARE(TransferTaskPresentation::dockSummary(active, TransferTaskPresentation::completedTaskCount(tasks)),
                 summary);
        QCOMPARE(TransferTaskPresentation::activeTasksSubtitle(active), subtitle);
        QCOMPARE(TransferTaskPresentation::hasFinishedTask(tasks), offersClear);
    }

    void popoverListHeight_data()
    {
        QTest::addColumn<int>("taskCount");
        QTest::addColumn<int>("height");

        QTest::newRow("2") << 2 << 220;
        QTest::newRow("3") << 3 << 246;
        QTest::newRow("6") << 6 << 492;
        QTest::newRow("7") << 7 << 520;
    }

    void popoverListHeight()
    {
        QFETCH(int, taskCount);
        QFETCH(int, height);
        QCOMPARE(TransferTaskPresentation::popoverListHeight(taskCount), height);
    }

    void relativeLastSeen_data()
    {
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<QString>("text");

        QTest::newRow("in the future") << qint64(-600) << "刚刚";
        QTest::newRow("minutes") << qint64(5 * 60 + 30) << "5 分钟前";
        QTest::newRow("hours") << qint64(3 * 3600) << "3 小时前";
        QTest::newRow("months") << qint64(65 * 86400) << "2 个月前";
        QTest::newRow("years") << qint64(800 * 86400) << "2 年前";
    }

    void relativeLastSeen()
    {
        QFETCH(qint64, secondsAgo);
        QFETCH(QString, text);
        const QDateTime now = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
        QCOMPARE(TrustedDeviceManagementPresentation::relativeLastSeen(now.addSecs(-secondsAgo), now), text);
    }
};

QTEST_GUILESS_MAIN(TransferTaskPresentationTest)
#include "test_transfer_task_presentation.moc"

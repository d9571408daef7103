#include "TransferActivityDock.h"
#include "TransferTaskCenter.h"
#include "TransferTaskRow.h"
#include "TrustedDeviceManagementRow.h"
#include "TrustedDeviceManager.h"
#include "TrustedDeviceManagerSheet.h"
#include "ViewsTestSupport.h"

#include <QFrame>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

using namespace ViewsTestSupport;

namespace {

// The tests run on the offscreen platform; these pictures must come from a real X server.
const bool onXServer = !qEnvironmentVariableIsEmpty("DISPLAY") && qputenv("QT_QPA_PLATFORM", "xcb");

// Beside the test programs, so that a person finds the pictures of the last run in the build.
void save(QWidget *widget, const QString &name)
{
    const QDir folder(QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots/transfer-views"));
    QVERIFY(folder.mkpath(QStringLiteral(".")) && widget->grab().save(folder.filePath(name)));
    qInfo("screenshot: %s", qPrintable(folder.filePath(name)));
}

} // namespace

class TransferViewsScreenshotTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!onXServer)
            QSKIP("screenshots need an X server");
    }

    void taskCenter()
    {
        StoreFixture fixture;
        QList<TransferTaskRecord> tasks{
            task("IMG_2041", Status::queued, Direction::receiving, 0, 4'200'000, "等待下载"),
            task("季度报告", Status::paused, Direction::sending, 3'100'000, 8'000'000, "已暂停"),
            task("录音 03", Status::completed, Direction::receiving, 5'600'000, 5'600'000, "接收完成并已校验"),
            task("notes", Status::failed, Direction::sending, 0, 0, "连接已断开"),
            task("草稿", Status::needsAttention, Direction::sending, 0, 120'000, "原文件已移动或删除，请重新选择。")};
        tasks[0].batchName = QStringLiteral("相册");
        tasks[0].relativePath = QStringLiteral("2024/IMG_2041.jpg");
        tasks[0].remoteFileID = QStringLiteral("file-IMG_2041");
        TransferStore &store = storeWithTasks(fixture, tasks);
        fixture.pair();
        fixture.deliver({progress(TransferEventKind::sending, "video", "旅行视频.mp4", 640'000'000, 1'024'000'000)});

        QWidget window;
        auto *dock = new TransferActivityDock(&store);
        (new QVBoxLayout(&window))->addWidget(dock, 0, Qt::AlignHCenter | Qt::AlignBottom);
        window.resize(560, 110);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(transcript(&window, &window), QString("[活动] | 5 项传输进行中 | ━"));
        save(&window, QStringLiteral("transfer-activity-dock.png"));

        QTest::mouseClick(dock, Qt::LeftButton);
        QFrame *popover = dock->popover();
        QVERIFY(QTest::qWaitForWindowExposed(popover));
        QCOMPARE(popover->size(), QSize(460, 492));
        // Newest first, every text whole.
        QCOMPARE(transcript(dock->taskCenter()),
                 QString("活动 | 5 个任务进行中或等待中 | [清除已完成] | ━ | "
                         "旅行视频.mp4 | 正在发送 | ━ | 640 MB / 1.02 GB | [暂停] | [取消] | "
                         "IMG_2041.jpg | 等待下载 | ━ | 等待下载 | 0 字节 / 4.2 MB | "
                         "相册 / 2024/IMG_2041.jpg | [暂停] | [取消] | "
                         "季度报告.jpg | 已暂停 | ━ | 已暂停 | 3.1 MB / 8 MB | [继续] | [取消] | "
                         "录音 03.jpg | 已完成 | 接收完成并已校验 | 5.6 MB / 5.6 MB | "
                         "notes.jpg | 失败 | 连接已断开 | [重试] | [取消] | "
                         "草稿.jpg | 需要处理 | ━ | 原文件已移动或删除，请重新选择。 | "
                         "0 字节 / 120 KB | [重试] | [取消]"));

        // The list is taller than the popover: the newest rows show, the oldest is reached by scrolling.
        const QList<TransferTaskRow *> &rows = dock->taskCenter()->rows();
        auto *viewport = popover->findChild<QScrollArea *>()->viewport();
        QCOMPARE(transcript(rows.first(), viewport), transcript(rows.first()));
        QVERIFY(transcript(rows.last(), viewport) != transcript(rows.last()));
        save(popover, QStringLiteral("transfer-task-center.png"));
        popover->findChild<QScrollArea *>()->verticalScrollBar()->setValue(INT_MAX);
        QTRY_COMPARE(transcript(rows.last(), viewport), transcript(rows.last()));
        save(popover, QStringLiteral("transfer-task-center-scrolled.png"));
    }

    void trustedDeviceSheet()
    {
        StoreFixture fixture;
        TrustedDeviceManagerSheet sheet(
            &storeWithPhones(fixture, {phone("Pixel 8", 1, 5 * 60), phone("我的 Galaxy", 2, 3 * 86400)}), {});
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QCOMPARE(sheet.size(), QSize(560, 380));
        // The circles that choose the phone served are buttons named by what they do for their phone.
        QCOMPARE(transcript(&sheet, &sheet),
                 QString("已信任设备 | [完成] | [添加另一台手机] | [选择 Pixel 8] | ⟦Pixel 8⟧ | 5 分钟前 | [移除] | "
                         "[选择 我的 Galaxy] | ⟦我的 Galaxy⟧ | 3 天前 | [移除]"));
        // The phone served shows the blue check, the other an empty circle.
        for (const TrustedDeviceManagementRow *row : sheet.manager()->rows()) {
            const auto *select = row->findChild<QToolButton *>(QStringLiteral("selectButton"));
            QVERIFY(row->isVisible() && select->isVisible() && select->isEnabled());
            QVERIFY(showsSymbol(select->icon().pixmap(select->iconSize()),
                                row == sheet.manager()->rows().first() ? Symbol::checkmarkCircleFill : Symbol::circle,
                                row == sheet.manager()->rows().first() ? ViewColors::blue() : ViewColors::secondary()));
        }
        save(&sheet, QStringLiteral("trusted-device-sheet.png"));
    }
};

QTEST_MAIN(TransferViewsScreenshotTest)
#include "test_transfer_views_screenshot.moc"

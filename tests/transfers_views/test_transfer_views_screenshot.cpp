#include "TransferActivityDock.h"
#include "TransferTaskCenter.h"
#include "TrustedDeviceManagerSheet.h"
#include "ViewsTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFrame>
#include <QMainWindow>
#include <QSet>
#include <QVBoxLayout>
#include <QtTest>

using Status = TransferTaskRecord::Status;
using Direction = TransferTaskRecord::Direction;
using ViewsTestSupport::task;

namespace {

QString screenshotFolder()
{
    const QString folder = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../screenshots"));
    QDir().mkpath(folder);
    return QDir::cleanPath(folder);
}

// Saves the image and checks that it shows something: a real size, more than a handful of colours
// (text, symbols and tints), and no single colour covering nearly all of it.
void saveAndCheck(const QImage &image, const QString &name, const QSize &minimumSize)
{
    QVERIFY(!image.isNull());
    const QString path = QDir(screenshotFolder()).filePath(name);
    QVERIFY(image.save(path));
    qInfo("screenshot: %s", qPrintable(path));
    QVERIFY2(image.width() >= minimumSize.width() && image.height() >= minimumSize.height(),
             qPrintable(QStringLiteral("%1×%2").arg(image.width()).arg(image.height())));
    QHash<QRgb, qsizetype> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    QVERIFY2(counts.size() > 24, qPrintable(QStringLiteral("%1 colours").arg(counts.size())));
    const qsizetype largest = *std::max_element(counts.cbegin(), counts.cend());
    QVERIFY(largest < qsizetype(image.width()) * image.height() * 95 / 100);
}

} // namespace

class TransferViewsScreenshotTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            QSKIP("screenshots need an X server");
        }
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }

    void taskCenter()
    {
        StoreFixture fixture;
        TransferTaskRecord batch = task(QStringLiteral("IMG_2041"), Status::queued, Direction::receiving, 0, 4'200'000);
        batch.message = QStringLiteral("等待下载");
        batch.batchName = QStringLiteral("相册");
        batch.relativePath = QStringLiteral("2024/IMG_2041.jpg");
        TransferTaskRecord paused =
            task(QStringLiteral("报告"), Status::paused, Direction::sending, 3'100'000, 8'000'000);
        paused.fileName = QStringLiteral("季度报告.pdf");
        paused.message = QStringLiteral("已暂停");
        TransferTaskRecord completed =
            task(QStringLiteral("music"), Status::completed, Direction::receiving, 5'600'000, 5'600'000);
        completed.fileName = QStringLiteral("录音 03.m4a");
        completed.message = QStringLiteral("接收完成并已校验");
        TransferTaskRecord failed = task(QStringLiteral("notes"), Status::failed);
        failed.fileName = QStringLiteral("notes.txt");
        failed.message = QStringLiteral("连接已断开");
        TransferTaskRecord attention =
            task(QStringLiteral("draft"), Status::needsAttention, Direction::sending, 0, 120'000);
        attention.fileName = QStringLiteral("草稿.docx");
        attention.message = QStringLiteral("原文件已移动或删除，请重新选择。");
        TransferStore &store = ViewsTestSupport::storeWithTasks(fixture, {batch, paused, completed, failed, attention});
        fixture.pair();

        TransferEvent sending = makeEvent(TransferEventKind::sending, TransferDirection::sending,
                                          QStringLiteral("video"), QStringLiteral("Pixel"));
        sending.fileName = QStringLiteral("旅行视频.mp4");
        sending.transferredBytes = 640'000'000;
        sending.totalBytes = 1'024'000'000;
        sending.message = QStringLiteral("正在发送");
        fixture.deliver({sending});
        QCOMPARE(store.tasks().size(), 6);

        QMainWindow window;
        window.setWindowTitle(QStringLiteral("Tavrine"));
        auto *content = new QWidget;
        auto *layout = new QVBoxLayout(content);
        layout->addStretch(1);
        auto *dock = new TransferActivityDock(&store);
        layout->addWidget(dock, 0, Qt::AlignHCenter);
        layout->setContentsMargins(24, 24, 24, 24);
        window.setCentralWidget(content);
        window.resize(560, 110);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTest::mouseClick(dock, Qt::LeftButton);
        QFrame *popover = dock->popover();
        QVERIFY(popover && popover->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(popover));
        QCOMPARE(dock->taskCenter()->rows().size(), 6);
        saveAndCheck(popover->grab().toImage(), QStringLiteral("transfer-task-center.png"), QSize(460, 492));
        // The whole list, also the rows below the popover's fold.
        saveAndCheck(dock->taskCenter()->parentWidget()->grab().toImage(),
                     QStringLiteral("transfer-task-center-full.png"), QSize(400, 560));
        saveAndCheck(window.grab().toImage(), QStringLiteral("transfer-activity-dock.png"), QSize(560, 110));
        dock->setShowingActivity(false);
    }

    void trustedDeviceSheet()
    {
        StoreFixture fixture;
        TrustedDeviceRecord pixel = ViewsTestSupport::phone(QStringLiteral("Pixel 8"), 1);
        pixel.lastSeenAt = QDateTime::currentDateTimeUtc().addSecs(-5 * 60);
        TrustedDeviceRecord galaxy = ViewsTestSupport::phone(QStringLiteral("我的 Galaxy"), 2);
        galaxy.lastSeenAt = QDateTime::currentDateTimeUtc().addDays(-3);
        TransferStore &store = ViewsTestSupport::storeWithPhones(fixture, {pixel, galaxy});

        QMainWindow window;
        window.resize(720, 520);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        TrustedDeviceManagerSheet sheet(
            &store, [] {}, &window);
        sheet.open();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        saveAndCheck(sheet.grab().toImage(), QStringLiteral("trusted-device-sheet.png"), QSize(560, 380));
        sheet.accept();
    }
};

int main(int argc, char *argv[])
{
    // The tests run on the offscreen platform; these pictures must come from a real X server.
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication application(argc, argv);
    TransferViewsScreenshotTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_transfer_views_screenshot.moc"

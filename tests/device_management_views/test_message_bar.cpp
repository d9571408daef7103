#include "ManagementMessageBar.h"
#include "OverviewInfoRow.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

using ContentRows =
    TestTable<std::optional<QString>, std::optional<QString>, std::optional<ManagementMessageBar::Content>>;

class MessageBarTest : public QObject
{
    Q_OBJECT

private slots:
    void content_data()
    {
        using Content = ManagementMessageBar::Content;
        const ContentRows rows;
        rows("error wins", "连接已断开", "已删除", Content{"连接已断开", true});
        rows("success", {}, "已删除", Content{"已删除", false});
        rows("empty error still shown", "", "已删除", Content{"", true});
        rows("nothing", {}, {}, std::nullopt);
    }

    void content()
    {
        const auto [errorMessage, message, expected] = ContentRows::fetch();
        QCOMPARE(ManagementMessageBar::contentFor(errorMessage, message), expected);
    }

    void errorAndSuccessDifferInSymbolAndColourOnly()
    {
        int dismissals = 0;
        ManagementMessageBar bar("应用已停止", false, [&] { ++dismissals; });
        bar.resize(400, 60);
        bar.show();
        const QImage success = bar.symbolLabel()->pixmap().toImage();
        const QColor successText = bar.textLabel()->palette().color(QPalette::WindowText);

        bar.setMessage("卸载失败", true);
        QCOMPARE(bar.textLabel()->text(), "卸载失败");
        QVERIFY(bar.symbolLabel()->pixmap().toImage() != success);
        QVERIFY(bar.textLabel()->palette().color(QPalette::WindowText) != successText);
        QCOMPARE(ManagementMessageBar::symbol(true), Symbol::exclamationmarkTriangleFill);
        QCOMPARE(ManagementMessageBar::symbol(false), Symbol::checkmarkCircleFill);

        QCOMPARE(bar.closeButton()->text(), "关闭");
        QCOMPARE(bar.closeButton()->toolButtonStyle(), Qt::ToolButtonIconOnly);
        bar.closeButton()->click();
        QCOMPARE(dismissals, 1);
    }

    void longMessageIsCutAfterTwoLines()
    {
        const QString text = QString("设备管理通道返回了一个很长的错误说明 ").repeated(20);
        ManagementMessageBar bar(text, true, [] {});
        bar.resize(320, 80);
        bar.show();
        QTRY_VERIFY(bar.textLabel()->width() < 320);
        const QStringList lines = bar.textLabel()->text().split(u'\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.last().endsWith(QChar(0x2026)));
        const QFontMetrics metrics(bar.textLabel()->font());
        for (const QString &line : lines) {
            QVERIFY(metrics.horizontalAdvance(line) <= bar.textLabel()->contentsRect().width());
        }
        QCOMPARE(bar.text(), text);

        bar.setMessage("已完成", false);
        QCOMPARE(bar.textLabel()->text(), "已完成");
    }

    // The bar is as high for one line as for two, and both lines show whole: a longer message moves nothing below it.
    void twoLinesShowWholeAndMoveNothing()
    {
        QWidget window;
        auto *column = new QVBoxLayout(&window);
        auto *bar = new ManagementMessageBar(
            "已完成", false, [] {}, &window);
        auto *below = new QLabel("内容", &window);
        column->addWidget(bar);
        column->addWidget(below);
        column->addStretch();
        window.resize(320, 400);
        window.show();
        QApplication::processEvents();
        const int top = below->y();
        bar->setMessage(QString("设备管理通道返回了一个很长的错误说明 ").repeated(10), true);
        QApplication::processEvents();
        QCOMPARE(bar->textLabel()->text().count(u'\n'), 1);
        QCOMPARE(below->y(), top);
        QVERIFY(bar->textLabel()->height() >= 2 * bar->textLabel()->fontMetrics().lineSpacing());
    }

    void infoRowKeepsItsLabelColumn()
    {
        const QString value = QString("Android 14 (API 34) ").repeated(10);
        OverviewInfoRow row("系统", value);
        row.resize(300, 200);
        row.show();
        QCOMPARE(row.labelLabel()->text(), "系统");
        QCOMPARE(row.value(), value);
        QCOMPARE(row.labelLabel()->width(), OverviewInfoRow::labelColumnWidth);
        QVERIFY(row.valueLabel()->wordWrap());
        QVERIFY(row.valueLabel()->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    }
};

QTEST_MAIN(MessageBarTest)
#include "test_message_bar.moc"

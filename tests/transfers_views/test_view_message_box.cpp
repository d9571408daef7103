#include "ViewMessageBox.h"

#include <QApplication>
#include <QDialog>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// What a title bar needs at least: the title after the application's name in a bold font a fifth larger than the
// text, beside an icon and three buttons of 30 pixels.
int leastTitleBarWidth(const QWidget *box)
{
    QFont font = box->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    return QFontMetrics(font).horizontalAdvance(box->windowTitle() + u" \u2014 Tavrine"_s) + 4 * 30;
}

} // namespace

class TestViewMessageBox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QGuiApplication::setApplicationDisplayName(u"Tavrine"_s); }

    void questionsAreWideEnoughForTheirTitles_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("isMessageBox");
        QTest::newRow("move to the trash") << u"移到 Tavrine 回收站？"_s << true;
        QTest::newRow("several items") << u"将 12 项移到 Tavrine 回收站？"_s << true;
        QTest::newRow("a long phone name") << u"移除 Xiaomi Redmi Note 12 Turbo 的工作机？"_s << true;
        QTest::newRow("a dialog of the files pane") << u"永久清空 Tavrine 回收站？"_s << false;
    }

    void questionsAreWideEnoughForTheirTitles()
    {
        QFETCH(QString, question);
        QFETCH(bool, isMessageBox);
        QPointer<QDialog> box;
        if (isMessageBox) {
            box = ViewMessageBox::openQuestion(
                nullptr, QMessageBox::Warning, question, u"此操作无法撤销。"_s,
                {{u"移到回收站"_s, QMessageBox::DestructiveRole}, {u"取消"_s, QMessageBox::RejectRole}},
                [](QMessageBox::ButtonRole) {});
        } else {
            box = new QDialog;
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowTitle(question);
            ViewMessageBox::makeRoomForTitle(box);
            box->show();
        }
        QVERIFY(box);
        QVERIFY(QTest::qWaitForWindowExposed(box));
        QCOMPARE(box->windowTitle(), question);
        QVERIFY2(box->width() >= leastTitleBarWidth(box),
                 qPrintable(u"%1 < %2"_s.arg(box->width()).arg(leastTitleBarWidth(box))));
        box->close();
        QTRY_VERIFY(!box);
    }
};

QTEST_MAIN(TestViewMessageBox)
#include "test_view_message_box.moc"

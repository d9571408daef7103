#include "SectionScrollArea.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

// A window with a button before a scrolling column of 40 lines of text, headed by a button where `withControl`.
struct ColumnWindow
{
    QWidget window;
    QPushButton *before = nullptr;
    SectionScrollArea *area = nullptr;
    QPushButton *control = nullptr;

    explicit ColumnWindow(bool withControl)
    {
        auto *layout = new QVBoxLayout(&window);
        before = new QPushButton(u"刷新"_s, &window);
        layout->addWidget(before);
        area = new SectionScrollArea(u"首页"_s, &window);
        area->setWidgetResizable(true);
        layout->addWidget(area);
        auto *column = new QWidget;
        auto *columnLayout = new QVBoxLayout(column);
        if (withControl) {
            control = new QPushButton(u"设备详情"_s, column);
            columnLayout->addWidget(control);
        }
        for (int line = 0; line < 40; ++line)
            columnLayout->addWidget(new QLabel(u"第 %1 行"_s.arg(line), column));
        area->setWidget(column);
        window.resize(300, 240);
        window.show();
        window.activateWindow();
    }
};

} // namespace

// A screen's scrolling column as the keyboard and a screen reader meet it.
class TestSectionScrollArea : public QObject
{
    Q_OBJECT

private slots:
    void theKeyboardStopsOnItOnlyWithoutControls_data()
    {
        QTest::addColumn<bool>("withControl");
        QTest::addColumn<bool>("scrolledAway"); // the column scrolled to its foot before Tab comes
        QTest::newRow("a column with a button") << true << false;
        QTest::newRow("a column with a button, scrolled away from it") << true << true;
        QTest::newRow("a column of texts") << false << false;
    }

    // Tab from before the area goes to the first control of its column, brought into view, or to the area itself
    // where the column holds texts alone; either way the page keys scroll the column, and a screen reader reads the
    // area as a named section.
    void theKeyboardStopsOnItOnlyWithoutControls()
    {
        QFETCH(bool, withControl);
        QFETCH(bool, scrolledAway);
        ColumnWindow shown(withControl);
        QVERIFY(QTest::qWaitForWindowActive(&shown.window));
        SectionScrollArea *area = shown.area;
        if (scrolledAway)
            area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());

        shown.before->setFocus(Qt::TabFocusReason);
        QTest::keyClick(shown.before, Qt::Key_Tab);
        QWidget *stop = QApplication::focusWidget();
        QVERIFY(stop);
        QCOMPARE(stop == area, !withControl);
        QCOMPARE(stop != area && area->isAncestorOf(stop), withControl);
        QTRY_COMPARE(area->verticalScrollBar()->value(), 0);
        QTest::keyClick(stop, Qt::Key_PageDown);
        QVERIFY(area->verticalScrollBar()->value() > 0);
        QCOMPARE(QApplication::focusWidget(), stop);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(area);
        QCOMPARE(accessible->role(), QAccessible::Section);
        QCOMPARE(accessible->text(QAccessible::Name), u"首页"_s);
    }

    // A click on a control the column shows in part gives it the keyboard where it is: the column stays as the person
    // scrolled it.
    void aClickLeavesTheColumnWhereItIs()
    {
        ColumnWindow shown(true);
        QVERIFY(QTest::qWaitForWindowActive(&shown.window));
        QScrollBar *bar = shown.area->verticalScrollBar();
        bar->setValue(shown.control->height() / 2);
        QTest::mouseClick(shown.control, Qt::LeftButton, {}, QPoint(10, shown.control->height() - 3));
        QCOMPARE(QApplication::focusWidget(), shown.control);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(bar->value(), shown.control->height() / 2);
    }
};

QTEST_MAIN(TestSectionScrollArea)
#include "test_section_scroll_area.moc"

#include "SectionScrollArea.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

// A screen's scrolling column as the keyboard and a screen reader meet it.
class TestSectionScrollArea : public QObject
{
    Q_OBJECT

private slots:
    void theKeyboardStopsOnItOnlyWithoutControls_data()
    {
        QTest::addColumn<bool>("withControl");
        QTest::newRow("a column with a button") << true;
        QTest::newRow("a column of texts") << false;
    }

    // Tab from before the area goes to the first control of its column, or to the area itself where the column holds
    // texts alone; either way the page keys scroll the column, and a screen reader reads the area as a named section.
    void theKeyboardStopsOnItOnlyWithoutControls()
    {
        QFETCH(bool, withControl);
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *before = new QPushButton(u"刷新"_s, &window);
        layout->addWidget(before);
        auto *area = new SectionScrollArea(u"首页"_s, &window);
        area->setWidgetResizable(true);
        layout->addWidget(area);
        auto *column = new QWidget;
        auto *columnLayout = new QVBoxLayout(column);
        if (withControl)
            columnLayout->addWidget(new QPushButton(u"设备详情"_s, column));
        for (int line = 0; line < 40; ++line)
            columnLayout->addWidget(new QLabel(u"第 %1 行"_s.arg(line), column));
        area->setWidget(column);
        window.resize(300, 240);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        before->setFocus(Qt::TabFocusReason);
        QTest::keyClick(before, Qt::Key_Tab);
        QWidget *stop = QApplication::focusWidget();
        QVERIFY(stop);
        QCOMPARE(stop == area, !withControl);
        QCOMPARE(stop != area && area->isAncestorOf(stop), withControl);
        QCOMPARE(area->verticalScrollBar()->value(), 0);
        QTest::keyClick(stop, Qt::Key_PageDown);
        QVERIFY(area->verticalScrollBar()->value() > 0);
        QCOMPARE(QApplication::focusWidget(), stop);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(area);
        QCOMPARE(accessible->role(), QAccessible::Section);
        QCOMPARE(accessible->text(QAccessible::Name), u"首页"_s);
    }
};

QTEST_MAIN(TestSectionScrollArea)
#include "test_section_scroll_area.moc"

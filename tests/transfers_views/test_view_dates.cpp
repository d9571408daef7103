#include "ViewDates.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The one way the interface writes times: Chinese, to the minute, whatever the desktop's language.
class TestViewDates : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::system()); }

    void momentsAreWrittenToTheMinute_data()
    {
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QString>("dateTime");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("date");
        const QDateTime evening(QDate(2026, 12, 7), QTime(19, 7, 17));
        QTest::newRow("evening with seconds")
            << evening << u"2026年12月7日 19:07"_s << u"19:07"_s << u"2026年12月7日"_s;
        QTest::newRow("early morning") << QDateTime(QDate(2023, 1, 2), QTime(3, 4, 59)) << u"2023年1月2日 03:04"_s
                                       << u"03:04"_s << u"2023年1月2日"_s;
        QTest::newRow("given in UTC, shown in local time")
            << evening.toUTC() << u"2026年12月7日 19:07"_s << u"19:07"_s << u"2026年12月7日"_s;
    }

    void momentsAreWrittenToTheMinute()
    {
        QFETCH(QDateTime, moment);
        QFETCH(QString, dateTime);
        QFETCH(QString, time);
        QFETCH(QString, date);
        QCOMPARE(ViewDates::dateTimeText(moment), dateTime);
        QCOMPARE(ViewDates::timeText(moment), time);
        QCOMPARE(ViewDates::dateTimeText(moment.toMSecsSinceEpoch()), dateTime);
        QCOMPARE(ViewDates::dateText(moment.toMSecsSinceEpoch()), date);
    }
};

QTEST_GUILESS_MAIN(TestViewDates)
#include "test_view_dates.moc"

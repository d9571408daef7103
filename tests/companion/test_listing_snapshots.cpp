#include "ListingSnapshots.h"
#include "TestSupport.h"

#include <QTest>

using namespace Qt::StringLiterals;

// What happens after listing "a" (the first listing), in order: "+N" N seconds pass, "a" or another key a later page
// of that listing, "first a" a first page; and whether a later page of "a" then still reads the first listing.
using Histories = TestTable<QStringList, bool>;

// How long and how many listings are kept for their later pages.
class ListingSnapshotsTest : public QObject
{
    Q_OBJECT

private slots:
    void laterPagesReadTheFirstListing_data()
    {
        const Histories rows;
        const QStringList three = {u"first b"_s, u"first c"_s, u"first d"_s};
        rows("right after", {}, true);
        rows("nearly the lifetime after", {u"+29"_s}, true);
        rows("the lifetime after", {u"+30"_s}, false);
        rows("each page renews the lifetime", {u"+20"_s, u"a"_s, u"+20"_s}, true);
        rows("a first page lists afresh", {u"first a"_s}, false);
        rows("other listings as many as are kept", three, true);
        rows("one listing more than are kept", three + QStringList{u"first e"_s}, false);
        rows("the recently used one outlasts older ones",
             {u"first b"_s, u"a"_s, u"first c"_s, u"first d"_s, u"first e"_s}, true);
    }

    void laterPagesReadTheFirstListing()
    {
        const auto [history, kept] = Histories::fetch();
        auto now = std::chrono::steady_clock::time_point();
        ListingSnapshots<int> snapshots([&now] { return now; });
        int listings = 0;
        const auto page = [&](const QString &key, bool first) {
            return snapshots.items({key}, first, [&listings] { return QList<int>{++listings}; }).value(0);
        };

        QCOMPARE(page(u"a"_s, true), 1);
        for (const QString &step : history) {
            if (step.startsWith(u'+'))
                now += std::chrono::seconds(step.mid(1).toInt());
            else
                page(step.section(u' ', -1), step.startsWith(u"first "_s));
        }
        QCOMPARE(page(u"a"_s, false) == 1, kept);
    }
};

QTEST_GUILESS_MAIN(ListingSnapshotsTest)
#include "test_listing_snapshots.moc"

// A hostile phone floods the desktop with events: it offers a 2 MiB file and pauses it at once, again and again
// (5000 times by default), over the real link on loopback. The phone works on a thread of its own, as a phone
// would in its own process; the desktop's event loop is watched by a 1 ms timer, whose longest gap is the
// longest turn of the loop, and its memory by VmRSS and VmHWM from /proc/self/status against the figure at rest.
#include "LinkedStoreFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

constexpr int defaultOffers = 5000;
constexpr qint64 offeredBytes = 2 * mebibyte;
constexpr qint64 goalTurnMilliseconds = 200;
constexpr double goalMebibytesAboveRest = 100;
constexpr int timeoutMilliseconds = 600'000;

// A figure of /proc/self/status in MiB ("VmRSS", "VmHWM"); 0 when it cannot be read.
double statusMebibytes(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray prefix = QByteArray(name) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toDouble() / 1024;
        }
    }
    return 0;
}

// Starts the peak figure (VmHWM) afresh from the present one; false where the kernel does not allow it.
bool resetPeakMemory()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

int countPaused(const TransferStore &store)
{
    return int(std::count_if(store.tasks().begin(), store.tasks().end(), [](const TransferTaskRecord &task) {
        return task.status == TransferTaskRecord::Status::paused;
    }));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int offers = argc > 1 ? std::atoi(argv[1]) : defaultOffers;
    if (offers <= 0) {
        std::fprintf(stderr, "usage: transfer_event_flood [offers]\n");
        return 2;
    }

    LinkedStoreFixture link;
    TransferStore &store = link.makeStore();
    if (!link.pair()) {
        std::fprintf(stderr, "pairing failed\n");
        return 1;
    }
    const QString offered = link.makeFile(QStringLiteral("phone-storage/flood.bin"), offeredBytes, 1);
    QFile source(offered);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "the offered file cannot be opened\n");
        return 1;
    }
    // At rest: paired, the pump idling.
    QTest::qWait(1000);
    const double rest = statusMebibytes("VmRSS");
    const bool peakKnown = resetPeakMemory();

    QElapsedTimer sinceTick;
    qint64 longestTurn = 0;
    qint64 turnsOverGoal = 0;
    double mostResident = rest;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        longestTurn = std::max(longestTurn, gap);
        turnsOverGoal += gap > goalTurnMilliseconds ? 1 : 0;
        mostResident = std::max(mostResident, statusMebibytes("VmRSS"));
    });

    std::atomic<int> refused = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    sinceTick.start();
    watch.start(1);
    std::thread phone([&, descriptor = source.handle()] {
        for (int number = 0; number < offers; ++number) {
            try {
                const QString id = link.phone->sendFileDescriptor(
                    descriptor, QStringLiteral("flood-%1.bin").arg(number), uint64_t(offeredBytes));
                link.phone->pauseTransfer(id);
            } catch (const std::exception &) {
                ++refused;
            }
        }
    });
    const bool handled =
        QTest::qWaitFor([&] { return countPaused(store) >= offers - refused.load(); }, timeoutMilliseconds);
    const qint64 handledAfter = elapsed.elapsed();
    phone.join();
    // A save still pending is part of the flood's cost.
    QTest::qWait(int(TransferStore::persistenceDelay.count()) * 2);
    watch.stop();

    const double peak = peakKnown ? std::max(statusMebibytes("VmHWM"), mostResident) : mostResident;
    std::printf("%d offers paused at once by the phone (%d refused by its core): %s after %.1f s, %d tasks\n", offers,
                refused.load(), handled ? "all handled" : "NOT all handled", double(handledAfter) / 1000,
                int(store.tasks().size()));
    std::printf("longest turn of the event loop: %lld ms, turns over %lld ms: %lld (goal: none)\n",
                qlonglong(longestTurn), qlonglong(goalTurnMilliseconds), qlonglong(turnsOverGoal));
    std::printf("resident memory: %.1f MiB at rest, peak %.1f MiB: %.1f MiB above rest (goal < %.0f)%s\n", rest, peak,
                peak - rest, goalMebibytesAboveRest, peakKnown ? "" : " (sampled: VmHWM cannot be reset)");
    return handled ? 0 : 1;
}

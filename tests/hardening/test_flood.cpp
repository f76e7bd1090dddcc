// A module that sends bytes without pause while the tool is connected: the tool's memory stays
// bounded, the main thread stays responsive (a timer on it keeps its schedule, as late as the
// same timer is without the flood at most by a bound), and once the flood stops the tool
// exchanges with the module as before.
//
// The flood lasts NMCT_FLOOD_SECONDS (10 for the full run), 3 s by default.

#include "ProcessFigures.h"
#include "tests/support/Seams.h"
#include "tests/support/ToolRig.h"

#include "link/UComm.h"
#include "serial/Comm.h"
#include "widgets/FrequencyEdit.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <functional>

using nmct::modsim::Faults;

namespace {

constexpr int DefaultFloodSeconds = 3;
constexpr int TickMs = 20;
// Beyond what the same timer shows without the flood: on a loaded machine a timer is late
// with or without it, and only the difference is the flood's.
constexpr qint64 MaxLatenessMs = 50;
constexpr int BaselineMs = 1000;
// The tool keeps one reply and Qt's queue of chunks not yet handled; that queue must not grow
// with the length of the flood. AddressSanitizer keeps freed blocks aside (up to 256 MB), and
// ThreadSanitizer's allocator keeps the blocks the main thread frees in that thread's caches
// while the reader takes new ones (13-14 MiB over 220 MB of flood, drained in 0.2 s), so the
// bound holds in plain builds only.
constexpr long MaxGrowthKiB = 8 * 1024;
constexpr int QuietMs = 300;

// What the main thread sees of the flood: chunks counted as the link receives them.
struct Received
{
    qint64 chunks = 0;
    qint64 bytes = 0;
    QElapsedTimer sinceLast;
};

// A timer every TickMs and the worst lateness it has seen since Start. On the main thread it
// shows what the flood costs there; on a thread of its own, what the machine alone does to it.
class LatenessProbe : public QObject
{
public:
    explicit LatenessProbe(std::function<void()> onTick = {}) : onTick(std::move(onTick))
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(TickMs);
        connect(&timer, &QTimer::timeout, this, [this] { Tick(); });
    }
    void Start()
    {
        lastTick = -1;
        worst = 0;
        ticks = 0;
        lateTicks = 0;
        clock.start();
        timer.start();
    }
    void Stop()
    {
        timer.stop();
        stopped = true;
    }
    bool Stopped() const { return stopped; }
    qint64 Worst() const { return worst; }
    qint64 Ticks() const { return ticks; }
    qint64 LateTicks() const { return lateTicks; }

private:
    void Tick()
    {
        const qint64 now = clock.elapsed();
        if (lastTick >= 0) {
            const qint64 lateness = now - lastTick - TickMs;
            worst = std::max(worst, lateness);
            lateTicks += lateness > MaxLatenessMs / 2 ? 1 : 0;
        }
        lastTick = now;
        ++ticks;
        if (onTick)
            onTick();
    }

    QTimer timer{this};
    QElapsedTimer clock;
    std::function<void()> onTick;
    qint64 lastTick = -1;
    qint64 worst = 0;
    qint64 ticks = 0;
    qint64 lateTicks = 0;             // later than half the bound
    std::atomic<bool> stopped{false}; // set last by the thread the probe runs on
};

// The probe moved to a thread of its own; calls wait until that thread has run them.
class ProbeThread
{
public:
    ProbeThread()
    {
        probe.moveToThread(&thread);
        thread.start();
    }
    ~ProbeThread()
    {
        thread.quit();
        thread.wait();
    }
    ProbeThread(const ProbeThread &) = delete;
    ProbeThread &operator=(const ProbeThread &) = delete;
    void Start()
    {
        QMetaObject::invokeMethod(&probe, &LatenessProbe::Start, Qt::BlockingQueuedConnection);
    }
    // Read through the probe's own flag: ThreadSanitizer sees neither the hand-over inside
    // Qt's blocking call nor the end of Qt's thread, so what the probe's thread wrote (its
    // figures, and the probe itself, which goes after) is ordered by the flag.
    qint64 StopAndTakeWorst()
    {
        QMetaObject::invokeMethod(&probe, &LatenessProbe::Stop, Qt::BlockingQueuedConnection);
        return probe.Stopped() ? probe.Worst() : -1;
    }

private:
    LatenessProbe probe;
    QThread thread;
};

} // namespace

class TestFlood : public QObject
{
    Q_OBJECT

private slots:
    void floodWhileConnected();
    void closeWhileFlooding();
};

void TestFlood::floodWhileConnected()
{
    const int seconds = figures::CountFromEnvironment("NMCT_FLOOD_SECONDS", DefaultFloodSeconds);
    ToolRig rig;
    TfrmMain &w = rig.window();
    RIG_CHECKED(rig.Connect());

    Received received;
    received.sinceLast.start();
    TKVComm &link = LinkOf(w);
    link.Comm().SetOnReceiveData([&](TComm *sender, const char *buffer, std::uint16_t length) {
        ++received.chunks;
        received.bytes += length;
        received.sinceLast.restart();
        link.CommReceiveData(sender, buffer, length);
    });

    // A timer on the main thread, and the resident size sampled from it. Its lateness without
    // the flood (connected, idle) and that of the same timer on a thread of its own all along
    // are what the machine's load alone does to it.
    long peakKiB = 0;
    LatenessProbe ticker([&] { peakKiB = std::max(peakKiB, figures::ResidentKiB()); });
    ProbeThread machine;
    machine.Start();
    ticker.Start();
    QTest::qWait(BaselineMs);
    ticker.Stop();
    const qint64 idleLateness = ticker.Worst();

    const long beforeKiB = figures::ResidentKiB();
    const double cpuBefore = figures::CpuSeconds();
    Faults flood;
    flood.flood = true;
    rig.module().SetFaults(flood);
    QElapsedTimer clock;
    clock.start();
    ticker.Start();
    QTest::qWait(1000 * seconds);
    rig.module().SetFaults({});
    ticker.Stop();
    const qint64 floodMs = clock.elapsed();
    const qint64 baseline = std::max(idleLateness, machine.StopAndTakeWorst());
    const qint64 worstLateness = ticker.Worst();
    const double cpu = figures::CpuSeconds() - cpuBefore;
    const qint64 floodBytes = received.bytes;

    // What was on its way when the flood stopped is handled within moments.
    QElapsedTimer draining;
    draining.start();
    QTRY_VERIFY_WITH_TIMEOUT(received.sinceLast.elapsed() > QuietMs, 5000);
    const qint64 drainMs = draining.elapsed() - QuietMs;
    const long afterKiB = figures::ResidentKiB();

    qInfo("flood of %.1f s: %lld chunks, %.2f MB reached the link (%.2f MB/s), %.2f s CPU; "
          "timer every %d ms fired %lld times, worst lateness %lld ms (without the flood %lld ms), "
          "%lld ticks later than %lld ms; resident %ld KiB before, peak %ld KiB (%+ld KiB), %ld "
          "KiB after; drained "
          "%lld ms after the flood stopped",
          double(floodMs) / 1000, received.chunks, double(floodBytes) / 1e6,
          double(floodBytes) / 1e3 / double(floodMs), cpu, TickMs, ticker.Ticks(), worstLateness,
          baseline, ticker.LateTicks(), MaxLatenessMs / 2, beforeKiB, peakKiB, peakKiB - beforeKiB,
          afterKiB, drainMs);

    QVERIFY2(floodBytes > 0, "the flood never reached the tool");
    QVERIFY2(ticker.Ticks() >= floodMs / TickMs / 2, qPrintable(QString::number(ticker.Ticks())));
    QVERIFY2(worstLateness <= baseline + MaxLatenessMs,
             qPrintable(QStringLiteral("%1 ms late, %2 ms without the flood")
                            .arg(worstLateness)
                            .arg(baseline)));
    if (!NMCT_HARDENING_ASAN && !figures::kThreadSanitizer) {
        QVERIFY2(peakKiB - beforeKiB < MaxGrowthKiB,
                 qPrintable(QString::number(peakKiB - beforeKiB)));
    }
    QCOMPARE(rig.messages, QStringList());
    QCOMPARE(rig.errors, QStringList());

    // The module answers again: READ and SET succeed, and the watch names the module again
    // (while the flood lasted, its identify took line noise for a reply).
    rig.module().SetRecord(RecordWith("439.9875"));
    rig.Click(Control<QPushButton>(w, "btnRead"));
    QCOMPARE(rig.errors, QStringList());
    QCOMPARE(rig.messages, QStringList());
    QCOMPARE(Control<FrequencyEdit>(w, "MEdChannel1")->EditText(), QByteArray("439.9875"));
    rig.Click(Control<QPushButton>(w, "btnSet"));
    QCOMPARE(rig.messages, QStringList{"Successfully set!"});
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLineEdit>(w, "EdtModel")->text(), QString("NM450"), 3000);
    QCOMPARE(Control<QLineEdit>(w, "EdtVer")->text(), QString("V2.13"));
    QVERIFY(w.State().deviceFound && w.State().portIsOpen);
}

// CLOSE stops the threads however fast the bytes come, and gives back all it took.
void TestFlood::closeWhileFlooding()
{
    ToolRig rig;
    TfrmMain &w = rig.window();
    const figures::Held idle = figures::Held::Now();
    RIG_CHECKED(rig.Connect());

    Faults flood;
    flood.flood = true;
    rig.module().SetFaults(flood);
    QTest::qWait(500);
    QElapsedTimer clock;
    clock.start();
    rig.ClickOpen(); // CLOSE
    const qint64 closeMs = clock.elapsed();
    QVERIFY(!w.State().portIsOpen);
    QCOMPARE(Control<QPushButton>(w, "btnOpen")->text(), QString("OPEN"));
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Not Found!"));
    // CLOSE waits out an identify on the closed port, half a second.
    QVERIFY2(closeMs < 1500, qPrintable(QString::number(closeMs)));
    RIG_CHECKED(figures::CompareHeld(figures::Held::Now(), idle, "closed while flooding"));

    rig.module().SetFaults({});
    QTest::qWait(QuietMs);
    rig.ClickOpen();
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Found!"));
    QCOMPARE(Control<QLineEdit>(w, "EdtModel")->text(), QString("NM450"));
    QCOMPARE(rig.errors, QStringList());
    QCOMPARE(rig.messages, QStringList());
    qInfo("CLOSE while flooding took %lld ms", closeMs);
}

RIG_TEST_MAIN(TestFlood)
#include "test_flood.moc"

// A module that sends bytes without pause while the tool is connected: the tool's memory stays
// bounded, the main thread stays responsive (a timer on it keeps its schedule), and once the
// flood stops the tool exchanges with the module as before.
//
// The flood lasts NMCT_FLOOD_SECONDS (10 for the full run), 3 s by default.

#include "ProcessFigures.h"
#include "tests/support/ToolRig.h"

#include "link/UComm.h"
#include "serial/Comm.h"
#include "widgets/FrequencyEdit.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>

using nmct::modsim::Faults;

namespace {

constexpr int DefaultFloodSeconds = 3;
constexpr int TickMs = 20;
constexpr qint64 MaxLatenessMs = 50;
// The tool keeps one reply and Qt's queue of chunks not yet handled; that queue must not grow
// with the length of the flood. AddressSanitizer keeps freed blocks aside (up to 256 MB), so
// the bound holds in plain builds only.
constexpr long MaxGrowthKiB = 8 * 1024;
constexpr int QuietMs = 300;

// What the main thread sees of the flood: chunks counted as the link receives them.
struct Received
{
    qint64 chunks = 0;
    qint64 bytes = 0;
    QElapsedTimer sinceLast;
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
    TKVComm &link = w.SerialLink();
    link.Comm().SetOnReceiveData([&](TComm *sender, const char *buffer, std::uint16_t length) {
        ++received.chunks;
        received.bytes += length;
        received.sinceLast.restart();
        link.CommReceiveData(sender, buffer, length);
    });

    // A timer on the main thread, and the resident size sampled from it.
    QElapsedTimer clock;
    qint64 lastTick = -1;
    qint64 worstLateness = 0;
    qint64 ticks = 0;
    qint64 lateTicks = 0; // later than half the bound
    long peakKiB = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(TickMs);
    connect(&ticker, &QTimer::timeout, this, [&] {
        const qint64 now = clock.elapsed();
        if (lastTick >= 0) {
            const qint64 lateness = now - lastTick - TickMs;
            worstLateness = std::max(worstLateness, lateness);
            lateTicks += lateness > MaxLatenessMs / 2 ? 1 : 0;
        }
        lastTick = now;
        ++ticks;
        peakKiB = std::max(peakKiB, figures::ResidentKiB());
    });

    const long beforeKiB = figures::ResidentKiB();
    const double cpuBefore = figures::CpuSeconds();
    Faults flood;
    flood.flood = true;
    rig.module().SetFaults(flood);
    clock.start();
    ticker.start();
    QTest::qWait(1000 * seconds);
    rig.module().SetFaults({});
    ticker.stop();
    const qint64 floodMs = clock.elapsed();
    const double cpu = figures::CpuSeconds() - cpuBefore;
    const qint64 floodBytes = received.bytes;

    // What was on its way when the flood stopped is handled within moments.
    QElapsedTimer draining;
    draining.start();
    QTRY_VERIFY_WITH_TIMEOUT(received.sinceLast.elapsed() > QuietMs, 5000);
    const qint64 drainMs = draining.elapsed() - QuietMs;
    const long afterKiB = figures::ResidentKiB();

    qInfo("flood of %.1f s: %lld chunks, %.2f MB reached the link (%.2f MB/s), %.2f s CPU; "
          "timer every %d ms fired %lld times, worst lateness %lld ms, %lld ticks later than "
          "%lld ms; resident %ld KiB before, peak %ld KiB (%+ld KiB), %ld KiB after; drained "
          "%lld ms after the flood stopped",
          double(floodMs) / 1000, received.chunks, double(floodBytes) / 1e6,
          double(floodBytes) / 1e3 / double(floodMs), cpu, TickMs, ticks, worstLateness, lateTicks,
          MaxLatenessMs / 2, beforeKiB, peakKiB, peakKiB - beforeKiB, afterKiB, drainMs);

    QVERIFY2(floodBytes > 0, "the flood never reached the tool");
    QVERIFY2(ticks >= floodMs / TickMs / 2, qPrintable(QString::number(ticks)));
    QVERIFY2(worstLateness <= MaxLatenessMs, qPrintable(QString::number(worstLateness)));
    if (!NMCT_HARDENING_ASAN) {
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

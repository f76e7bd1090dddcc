// Long runs: many exchanges back to back against a module that answers at once, and many
// OPEN/CLOSE cycles. Afterwards the process holds the descriptors and threads it held before,
// and its resident memory has not grown by a megabyte.
//
// The counts come from NMCT_SOAK_EXCHANGES and NMCT_SOAK_CYCLES (scripts/soak.sh runs the full
// 10 000 and 1 000); without them a short run that suits CI, shorter still under AddressSanitizer,
// whose freed-memory quarantine also makes the resident size meaningless, so that bound is left
// to LeakSanitizer there.

#include "ProcessFigures.h"
#include "tests/support/ToolRig.h"

#include "link/UComm.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using figures::CompareHeld;
using figures::CountFromEnvironment;
using figures::Held;

namespace {

// Each exchange takes at least the 100 ms of quiet that ends a received chunk, each OPEN/CLOSE
// cycle about 0.75 s (CLOSE waits out an identify on the closed port).
constexpr int CiExchanges = NMCT_HARDENING_ASAN ? 150 : 500;
constexpr int CiCycles = NMCT_HARDENING_ASAN ? 15 : 50;
constexpr int WarmUpExchanges = 40;
constexpr int WarmUpCycles = 3;
constexpr long MaxGrowthKiB = 1024;

// One parameter operation and what a healthy module makes of it.
struct Step
{
    const char *button;  // its object name
    const char *message; // empty: none
    QStringList commands;
};

// Clicks the step's button and checks its outcome; counts the exchanges it made, identifies of
// the presence watch included.
void RunStep(ToolRig &rig, const Step &step, int &exchanges)
{
    TfrmMain &w = rig.window();
    rig.ForgetWire();
    rig.messages.clear();
    rig.Click(Control<QPushButton>(w, step.button));

    QStringList commands;
    for (const std::string &command : rig.Wire()) {
        ++exchanges;
        if (command != "AAFAA")
            commands << QString::fromLatin1(command.substr(0, 5));
    }
    QCOMPARE(commands, step.commands);
    QCOMPARE(rig.messages,
             *step.message ? QStringList{QString::fromLatin1(step.message)} : QStringList());
    QCOMPARE(rig.errors, QStringList());
    QVERIFY(Control<QPushButton>(w, step.button)->isEnabled());
}

void OpenAndClose(ToolRig &rig)
{
    TfrmMain &w = rig.window();
    rig.ClickOpen();
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Found!"));
    QVERIFY(w.State().portIsOpen);
    rig.ClickOpen();
    QCOMPARE(Control<QPushButton>(w, "btnOpen")->text(), QString("OPEN"));
    QVERIFY(!w.State().portIsOpen);
    QCOMPARE(rig.messages, QStringList());
    QCOMPARE(rig.errors, QStringList());
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void exchanges();
    void openCloseCycles();
};

void TestSoak::exchanges()
{
    const int wanted = CountFromEnvironment("NMCT_SOAK_EXCHANGES", CiExchanges);
    ToolRig rig;
    TfrmMain &w = rig.window();
    RIG_CHECKED(rig.Connect());

    const Step steps[] = {
        {"btnRead", "", {"AAFA1"}},
        {"btnSet", "Successfully set!", {"AAFA3"}},
        {"VolSet", "Volume successfully set!", {"AAFA4"}},
        {"btnDefault", "Default parameters successfully!", {"AAFA2", "AAFA1"}},
    };
    int exchanges = 0;
    for (std::size_t i = 0; exchanges < WarmUpExchanges; ++i)
        RIG_CHECKED(RunStep(rig, steps[i % std::size(steps)], exchanges));

    const Held before = Held::Now();
    QElapsedTimer clock;
    clock.start();
    exchanges = 0;
    for (std::size_t i = 0; exchanges < wanted; ++i) {
        RunStep(rig, steps[i % std::size(steps)], exchanges);
        if (QTest::currentTestFailed()) {
            qWarning("failed at step %zu, after %d exchanges", i, exchanges);
            return;
        }
    }
    const qint64 elapsed = clock.elapsed();
    const Held after = Held::Now();
    qInfo("%d exchanges in %.1f s (%.1f ms each); %s", exchanges, double(elapsed) / 1000,
          double(elapsed) / exchanges, qPrintable(figures::Change(before, after)));
    RIG_CHECKED(CompareHeld(after, before, "after the exchanges", MaxGrowthKiB));
    QVERIFY(w.State().deviceFound && w.State().portIsOpen);
}

void TestSoak::openCloseCycles()
{
    const int wanted = CountFromEnvironment("NMCT_SOAK_CYCLES", CiCycles);
    ToolRig rig;
    for (int i = 0; i < WarmUpCycles; ++i)
        RIG_CHECKED(OpenAndClose(rig));

    const Held before = Held::Now();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < wanted; ++i) {
        OpenAndClose(rig);
        if (QTest::currentTestFailed()) {
            qWarning("failed at cycle %d", i);
            return;
        }
    }
    const qint64 elapsed = clock.elapsed();
    const Held after = Held::Now();
    qInfo("%d OPEN/CLOSE cycles in %.1f s (%.0f ms each); %s", wanted, double(elapsed) / 1000,
          double(elapsed) / wanted, qPrintable(figures::Change(before, after)));
    CompareHeld(after, before, "after the cycles", MaxGrowthKiB);
}

RIG_TEST_MAIN(TestSoak)
#include "test_soak.moc"

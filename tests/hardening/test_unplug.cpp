// The module is pulled out while the tool is connected, idle or in the middle of a READ: the
// presence watch closes the port, a module plugged in again under the same name opens as
// before, and the tool is left holding exactly the descriptors and threads it held before. A
// module reached through ser2net by a COM name of the port map is lost when ser2net stops.

#include "ProcessFigures.h"
#include "tests/support/Ser2net.h"
#include "tests/support/ToolRig.h"

#include "link/UComm.h"
#include "widgets/CircleShape.h"
#include "widgets/FormControls.h"
#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

Q_DECLARE_METATYPE(ToolRig::Reach)

using nmct::modsim::Faults;
using nmct::modsim::ReplyFault;

using figures::CompareHeld;
using figures::Held;

namespace {

const char *const ChannelA = "433.5000";
const char *const ChannelC = "439.9875";

// The watch ticks every 2 s and its identify waits about half a second.
constexpr int WatchNoticesMs = 2000 + 510;

// Waits for the watch to notice the loss and tells how long it took.
void WaitForWatchToClose(TfrmMain &w, const QElapsedTimer &sinceLoss, qint64 &elapsed)
{
    QTRY_VERIFY_WITH_TIMEOUT(!w.State().portIsOpen, 2 * WatchNoticesMs);
    elapsed = sinceLoss.elapsed();
    QCOMPARE(Control<QPushButton>(w, "btnOpen")->text(), QString("OPEN"));
    QCOMPARE(Control<CircleShape>(w, "shpLight")->BrushColor(), QColor(128, 128, 128));
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Not Found!"));
    QVERIFY(!w.State().portIsOpen && !w.State().deviceFound);
    QVERIFY(Control<QComboBox>(w, "cbxComm")->isEnabled() &&
            Control<QPushButton>(w, "btnOpen")->isEnabled());
    QVERIFY(!Control<QWidget>(w, "p2")->isEnabled() &&
            !Control<QPushButton>(w, "btnRead")->isEnabled());
}

// While nothing is plugged in, OPEN finds no port; once a module is back, OPEN works again.
void ReplugAndOpen(ToolRig &rig)
{
    TfrmMain &w = rig.window();
    rig.ClickOpen();
    QCOMPARE(Control<QPushButton>(w, "btnOpen")->text(), QString("OPEN"));
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Not Found!"));

    rig.Plug();
    RIG_CHECKED(rig.Connect(ChannelC));
    QCOMPARE(rig.Wire(), (std::vector<std::string>{"AAFAA", "AAFA1"}));
}

} // namespace

class TestUnplug : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { rig.reset(); }
    void unplugWhileIdle_data();
    void unplugWhileIdle();
    void unplugWhileReadWaits();

private:
    void Start(ToolRig::Reach reach);

    std::unique_ptr<ToolRig> rig;
    Held idle{};      // before the tool connected
    Held connected{}; // once it had
};

// Each case starts with the tool connected to a module that holds ChannelA.
void TestUnplug::Start(ToolRig::Reach reach)
{
    if (reach != ToolRig::Reach::Line && !Ser2net::Installed())
        QSKIP(Ser2net::Missing);
    rig = std::make_unique<ToolRig>(ToolRig::FastModule(), reach);
    idle = Held::Now();
    RIG_CHECKED(rig->Connect(ChannelA));
    connected = Held::Now();
}

void TestUnplug::unplugWhileIdle_data()
{
    QTest::addColumn<ToolRig::Reach>("reach");
    QTest::newRow("pseudo-terminal") << ToolRig::Reach::Line;
    QTest::newRow("RFC 2217 by a COM name") << ToolRig::Reach::Rfc2217;
    QTest::newRow("raw accepter by a COM name") << ToolRig::Reach::Raw;
}

void TestUnplug::unplugWhileIdle()
{
    QFETCH(ToolRig::Reach, reach);
    RIG_CHECKED(Start(reach));
    ToolRig &rig = *this->rig;
    TfrmMain &w = rig.window();

    QElapsedTimer sinceLoss;
    sinceLoss.start();
    const double cpuAtLoss = figures::CpuSeconds();
    rig.Unplug();
    qint64 noticed = 0;
    RIG_CHECKED(WaitForWatchToClose(w, sinceLoss, noticed));
    const double cpuUntilNoticed = figures::CpuSeconds() - cpuAtLoss;
    QVERIFY2(noticed <= WatchNoticesMs + 500, qPrintable(QString::number(noticed)));
    // A hung-up line must not keep a thread spinning until the watch comes round.
    QVERIFY2(cpuUntilNoticed < 0.5 * double(noticed) / 1000.0,
             qPrintable(QString::number(cpuUntilNoticed)));
    // What was last shown stays on screen.
    QCOMPARE(Control<QLineEdit>(w, "EdtModel")->text(), QString("NM450"));
    QCOMPARE(Control<FrequencyEdit>(w, "MEdChannel1")->EditText(), QByteArray(ChannelA));
    QCOMPARE(rig.messages, QStringList());
    QCOMPARE(rig.errors, QStringList());

    RIG_CHECKED(ReplugAndOpen(rig));
    RIG_CHECKED(CompareHeld(Held::Now(), connected, "connected to the new module"));
    rig.ClickOpen(); // CLOSE
    QVERIFY(!w.State().portIsOpen);
    CompareHeld(Held::Now(), idle, "closed again");
    qInfo("unplugged while idle: port closed by the watch after %lld ms, %.3f s CPU meanwhile; "
          "%d descriptors and %d threads idle, %d and %d connected",
          noticed, cpuUntilNoticed, idle.descriptors, idle.threads, connected.descriptors,
          connected.threads);
}

void TestUnplug::unplugWhileReadWaits()
{
    RIG_CHECKED(Start(ToolRig::Reach::Line));
    ToolRig &rig = *this->rig;
    TfrmMain &w = rig.window();

    // The reply would come after the wait; the module is pulled out 100 ms into it.
    Faults late;
    late.reply = ReplyFault::Late;
    rig.module().SetFaults(late);
    QElapsedTimer sinceLoss;
    bool readWaiting = false;
    QTimer::singleShot(100, &w, [&] {
        readWaiting = w.State().linkBusy && !Control<QPushButton>(w, "btnRead")->isEnabled();
        sinceLoss.start();
        rig.Unplug();
    });
    rig.Click(Control<QPushButton>(w, "btnRead"));
    QVERIFY(readWaiting);
    QCOMPARE(rig.messages, QStringList{"Operation failed!"});
    QCOMPARE(rig.errors, QStringList());
    QCOMPARE(Control<FrequencyEdit>(w, "MEdChannel1")->EditText(), QByteArray(ChannelA));

    qint64 noticed = 0;
    RIG_CHECKED(WaitForWatchToClose(w, sinceLoss, noticed));
    QVERIFY2(noticed <= WatchNoticesMs + 500, qPrintable(QString::number(noticed)));
    rig.messages.clear();

    RIG_CHECKED(ReplugAndOpen(rig));
    QCOMPARE(rig.messages, QStringList());
    RIG_CHECKED(CompareHeld(Held::Now(), connected, "connected to the new module"));
    rig.ClickOpen(); // CLOSE
    RIG_CHECKED(CompareHeld(Held::Now(), idle, "closed again"));
    qInfo("unplugged while READ waited: port closed by the watch after %lld ms", noticed);
}

RIG_TEST_MAIN(TestUnplug)
#include "test_unplug.moc"

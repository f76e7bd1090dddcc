// The session's steps against the simulated module: what each sends, and what it makes of the
// module's answer or silence.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "link/UComm.h"
#include "protocol/ParamFile.h"
#include "session/ConnectionState.h"
#include "session/ModuleSession.h"
#include "session/PortAdvice.h"
#include "tools/modsim/ModuleSimulator.h"

using nmct::modsim::Faults;
using nmct::modsim::ReplyFault;

namespace {

enum class Step
{
    Identify,
    Read,
    Set,
    Default,
    Volume,
};

// The factory settings with transmit channel 1 at 460.0000.
SetCommandValues Changed()
{
    ParamRecord record;
    MakeDefaultParams(record);
    ModuleSettings settings = SettingsFromRecord(record).settings;
    settings.channels[0].tx = "460.0000";
    return SetValuesFromSettings(settings);
}

} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(StepResult)
Q_DECLARE_METATYPE(Faults)

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void step_data();
    void step();
    void busyRefusesAtOnce();
    void openNamesThePort();
    void openFailureAdvice_data();
    void openFailureAdvice();
    void connection_data();
    void connection();
};

void TestSession::step_data()
{
    QTest::addColumn<Step>("step");
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<StepResult>("result");
    // What the step leaves to see: the identity, the record's channel 1 and receive tone, the
    // module's volume.
    QTest::addColumn<QString>("seen");
    // Replies at 9600 baud, a byte a millisecond, rather than all at once.
    QTest::addColumn<bool>("paced");
    const Faults good;
    const Faults silent{.reply = ReplyFault::Silent};
    const Faults saysNo{.okText = "NO"};
    QTest::newRow("identify") << Step::Identify << good << StepResult::Ok << "NM450 V2.13" << false;
    QTest::newRow("identify, paced")
        << Step::Identify << good << StepResult::Ok << "NM450 V2.13" << true;
    QTest::newRow("identify, silent")
        << Step::Identify << silent << StepResult::NoReply << " " << false;
    QTest::newRow("read") << Step::Read << good << StepResult::Ok << "450.1250 125" << false;
    // The whole record, to its last field: one chunk however the reply trickles in.
    QTest::newRow("read, paced") << Step::Read << good << StepResult::Ok << "450.1250 125" << true;
    QTest::newRow("read, silent") << Step::Read << silent << StepResult::NoReply << " " << false;
    QTest::newRow("set") << Step::Set << good << StepResult::Ok << "460.0000" << false;
    QTest::newRow("set, refused") << Step::Set << saysNo << StepResult::Refused << "460.0000"
                                  << false;
    QTest::newRow("default, ok in lower case")
        << Step::Default << Faults{.okText = "ok"} << StepResult::Ok << "450.1250" << false;
    // The module acts on what it recognises, answer or not.
    QTest::newRow("default, silent")
        << Step::Default << silent << StepResult::NoReply << "450.1250" << false;
    QTest::newRow("volume") << Step::Volume << good << StepResult::Ok << "3" << false;
    QTest::newRow("volume, refused")
        << Step::Volume << saysNo << StepResult::Refused << "3" << false;
}

void TestSession::step()
{
    QFETCH(Step, step);
    QFETCH(Faults, faults);
    QFETCH(StepResult, result);
    QFETCH(QString, seen);
    QFETCH(bool, paced);

    nmct::modsim::ModuleSimulator module({.pacing = paced});
    if (step == Step::Default) {
        nmct::modsim::Record changed = module.StoredRecord();
        changed[2] = '9';
        module.SetRecord(changed);
    }
    module.SetFaults(faults);
    ModuleSession session;
    QVERIFY(session.OpenPort(module.SlavePath()));

    QString shown;
    switch (step) {
    case Step::Identify: {
        const IdentifyResult identify = session.Identify();
        QCOMPARE(identify.result, result);
        shown = QString::fromStdString(identify.identity.model + " " + identify.identity.version);
        break;
    }
    case Step::Read: {
        const ReadResult read = session.Read();
        QCOMPARE(read.result, result);
        shown = QString::fromStdString(
                    read.record.TxFrequency(1) + " " +
                    read.record.Field(ParamRecord::RxTonePos, ParamRecord::ToneWidth))
                    .remove(QChar(0));
        break;
    }
    case Step::Set:
    case Step::Default:
        QCOMPARE(step == Step::Set ? session.Set(Changed()) : session.RestoreDefaults(), result);
        shown = QString::fromLatin1(module.StoredRecord().data() + 2, 8);
        break;
    case Step::Volume:
        QCOMPARE(session.SetVolume("3"), result);
        shown = QString::fromStdString(module.Volume());
        break;
    }
    QCOMPARE(shown, seen);
}

void TestSession::busyRefusesAtOnce()
{
    // A step asked for while another exchange waits, as a click during READ is.
    nmct::modsim::ModuleSimulator module({.pacing = false});
    module.SetFaults({.reply = ReplyFault::Late, .lateDelay = std::chrono::milliseconds(200)});
    ModuleSession session;
    QVERIFY(session.OpenPort(module.SlavePath()));
    StepResult during = StepResult::Ok;
    QTimer::singleShot(50, [&] {
        QVERIFY(session.Busy());
        during = session.Set(Changed());
    });
    QCOMPARE(session.Read().result, StepResult::Ok);
    QCOMPARE(during, StepResult::Busy);
    QCOMPARE(module.ReceivedCommands(), std::vector<std::string>{"AAFA1"});
}

void TestSession::openNamesThePort()
{
    nmct::modsim::ModuleSimulator module({.pacing = false});
    ModuleSession session;
    QCOMPARE(session.Open(QDir::tempPath().toStdString() + "/no-such-port").result,
             StepResult::NoPort);
    const IdentifyResult found = session.Open(module.SlavePath());
    QCOMPARE(found.result, StepResult::Ok);
    QCOMPARE(found.identity.model, std::string("NM450"));
    session.Close();
    QVERIFY(!session.PortIsOpen());
    // A closed port sends nothing, so nothing answers.
    QCOMPARE(session.Identify().result, StepResult::NoReply);
    QCOMPARE(module.ReceivedCommands().size(), std::size_t(1));
}

void TestSession::connection_data()
{
    // Events as a front end forwards them, in order: open / open-fails, answers / silent (OPEN's
    // identify), ident+ / ident- (any other identify), close / close-busy (CLOSE clicked), closed
    // (the port was closed), tick / tick-busy (whether a watch tick identifies, the link idle or
    // in an exchange), begin / end (an operation),
    // take (a deferred CLOSE from the event loop), window-close.
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("answers"); // what the events that decide something answered
    QTest::addColumn<QString>("state");   // opened found watching pending closing, as they hold

    QTest::newRow("open, module answers") << "open answers"
                                          << ""
                                          << "opened found watching";
    QTest::newRow("open, no module") << "open silent"
                                     << ""
                                     << "opened";
    QTest::newRow("open fails") << "open-fails"
                                << ""
                                << "";
    QTest::newRow("close, module found") << "open answers close closed ident-"
                                         << "NowAndLose"
                                         << "";
    QTest::newRow("close, no module") << "open silent close closed"
                                      << "Now"
                                      << "";
    QTest::newRow("watch ticks while connected") << "open answers tick"
                                                 << "identify"
                                                 << "opened found watching";
    QTest::newRow("watch finds the module gone") << "open answers ident- closed tick"
                                                 << "lost skip"
                                                 << "watching";
    QTest::newRow("watch finds it still there") << "open answers ident+"
                                                << ""
                                                << "opened found watching";
    // The watch is stopped only by CLOSE: after a loss it goes on over the next OPEN.
    QTest::newRow("after a loss the watch goes on")
        << "open answers ident- closed open silent ident+"
        << "lost"
        << "opened found watching";
    QTest::newRow("tick during an exchange") << "open answers begin tick-busy end"
                                             << "skip Nothing"
                                             << "opened found watching";
    QTest::newRow("close during an exchange waits for it")
        << "open answers begin close-busy end take close closed ident-"
        << "Later CarryOutClose true NowAndLose"
        << "";
    QTest::newRow("close during an exchange, the watch closed first")
        << "open answers begin close-busy ident- closed end take"
        << "Later lost CarryOutClose false"
        << "watching";
    QTest::newRow("close during nested operations") << "open answers begin begin close-busy end end"
                                                    << "Later Nothing CarryOutClose"
                                                    << "opened found watching pending";
    QTest::newRow("window closed during an operation") << "open answers begin window-close end"
                                                       << "true Quit"
                                                       << "opened found closing";
    QTest::newRow("window closed during OPEN's identify") << "open begin window-close answers end"
                                                          << "true Quit"
                                                          << "opened found closing";
    QTest::newRow("window closed while idle") << "open answers window-close"
                                              << "false"
                                              << "opened found watching";
}

void TestSession::connection()
{
    QFETCH(QString, events);
    QFETCH(QString, answers);
    QFETCH(QString, state);

    ConnectionState connection;
    QStringList said;
    const auto yes = [](bool value) {
        return value ? QStringLiteral("true") : QStringLiteral("false");
    };
    for (const QString &event : events.split(' ')) {
        if (event == "open")
            connection.OpenSucceeded();
        else if (event == "open-fails")
            connection.OpenFailed();
        else if (event == "answers" || event == "silent")
            connection.OpenIdentified(event == "answers");
        else if (event == "ident+" || event == "ident-") {
            if (connection.Identified(event == "ident+"))
                said << "lost";
        } else if (event == "close" || event == "close-busy") {
            const ConnectionState::Close close = connection.CloseClicked(event == "close-busy");
            said << (close == ConnectionState::Close::Later ? "Later"
                     : close == ConnectionState::Close::Now ? "Now"
                                                            : "NowAndLose");
        } else if (event == "closed")
            connection.PortClosed();
        else if (event == "tick" || event == "tick-busy")
            said << (ConnectionState::TickIdentifies(connection.PortOpened(), event == "tick-busy")
                         ? "identify"
                         : "skip");
        else if (event == "begin")
            connection.OperationBegins();
        else if (event == "end") {
            const ConnectionState::AfterOperation after = connection.OperationEnds();
            said << (after == ConnectionState::AfterOperation::Quit            ? "Quit"
                     : after == ConnectionState::AfterOperation::CarryOutClose ? "CarryOutClose"
                                                                               : "Nothing");
        } else if (event == "take")
            said << yes(connection.TakePendingClose());
        else if (event == "window-close")
            said << yes(connection.WindowClosed());
        else
            QFAIL(qPrintable("unknown event " + event));
    }
    QCOMPARE(said.join(' '), answers);
    QStringList holds;
    const std::pair<bool, const char *> flags[] = {
        {connection.PortOpened(), "opened"}, {connection.DeviceFound(), "found"},
        {connection.Watching(), "watching"}, {connection.ClosePending(), "pending"},
        {connection.Closing(), "closing"},
    };
    for (const auto &[on, name] : flags)
        if (on)
            holds << name;
    QCOMPARE(holds.join(' '), state);
}

void TestSession::openFailureAdvice_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("systemText");
    QTest::addColumn<bool>("adapterPlugged");
    QTest::addColumn<QString>("advice"); // <adapter> stands for the plugged adapter's device

    QTest::newRow("access denied")
        << int(port::OpenFailureKind::AccessDenied) << "/dev/ttyUSB0"
        << "Permission denied" << false
        << "COM3 (/dev/ttyUSB0) could not be opened: Permission denied.\nYou may not use the "
           "device. Join the group dialout (sudo usermod -aG dialout \"$USER\") and log in again.";
    QTest::newRow("no such device, an adapter plugged in")
        << int(port::OpenFailureKind::NoSuchDevice) << "/dev/ttyS2"
        << "No such file or directory" << true
        << "COM3 (/dev/ttyS2) could not be opened: No such file or directory.\nThere is no such "
           "device. Serial adapters present:\n  usb-Example_UART-if00-port0 -> <adapter>\nTo give "
           "an adapter the name COM3: sudo ln -s /dev/ttyUSB0 /dev/COM3 (with its device), or a "
           "udev rule; see the README, \"Serial ports on Linux\".";
}

void TestSession::openFailureAdvice()
{
    QFETCH(int, kind);
    QFETCH(QString, device);
    QFETCH(QString, systemText);
    QFETCH(bool, adapterPlugged);
    QFETCH(QString, advice);

    // A folder laid out as udev keeps /dev/serial/by-id: one link per adapter, to its device.
    QTemporaryDir byId;
    QVERIFY(byId.isValid() && QDir(byId.path()).mkdir(QStringLiteral("dev")));
    const QString adapter = byId.filePath(QStringLiteral("dev/ttyUSB0"));
    if (adapterPlugged) {
        QFile device(adapter);
        QVERIFY(device.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(adapter, byId.filePath(QStringLiteral("usb-Example_UART-if00-port0"))));
    }
    const port::OpenFailure failure{static_cast<port::OpenFailureKind>(kind), device.toStdString(),
                                    systemText.toStdString()};
    QCOMPARE(QString::fromStdString(OpenFailureAdvice(
                 "COM3", failure, PresentSerialAdapters(byId.path().toStdString()))),
             QString(advice).replace(QStringLiteral("<adapter>"), adapter));
}

QTEST_MAIN(TestSession)
#include "test_session.moc"

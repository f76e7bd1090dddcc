// The session's steps against the simulated module: what each sends, and what it makes of the
// module's answer or silence.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "protocol/ParamFile.h"
#include "session/ModuleSession.h"
#include "session/PortAdvice.h"
#include "tools/modsim/ModuleSimulator.h"

using nmct::modsim::Faults;
using nmct::modsim::ReplyFault;
using namespace std::chrono_literals;

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
    QTest::newRow("default, refused")
        << Step::Default << saysNo << StepResult::Refused << "450.1250" << false;
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
    // Events, in order: open (OPEN/CLOSE clicked with the module's port closed or open),
    // open-nowhere (OPEN on a port that does not exist), silent / good (the module stops or
    // starts answering), tick (the presence watch fires), inside:EVENT (EVENT 50 ms into a READ
    // whose reply comes late, as a click lands inside an exchange), window-close (the window is
    // closed; whether an operation ran).
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("said");  // what the clicks came to and what the session signalled
    QTest::addColumn<QString>("state"); // open found editing watching, as they hold at the end
    QTest::addColumn<QString>("wire");  // what the module received

    QTest::newRow("open, module answers") << "open"
                                          << "Found"
                                          << "open found editing watching"
                                          << "AAFAA";
    QTest::newRow("open, nothing answers") << "silent open"
                                           << "NotFound"
                                           << "open"
                                           << "AAFAA";
    QTest::newRow("open fails") << "open-nowhere"
                                << "OpenFailed"
                                << ""
                                << "";
    // The identify over the closed port sends nothing and ends in "not found".
    QTest::newRow("close, module found") << "open open"
                                         << "Found ClosedAfterFound"
                                         << ""
                                         << "AAFAA";
    QTest::newRow("close, no module") << "silent open open"
                                      << "NotFound Closed"
                                      << ""
                                      << "AAFAA";
    QTest::newRow("watch finds it still there") << "open tick"
                                                << "Found"
                                                << "open found editing watching"
                                                << "AAFAA AAFAA";
    QTest::newRow("watch finds the module gone, closes, goes on") << "open silent tick tick"
                                                                  << "Found"
                                                                  << "watching"
                                                                  << "AAFAA AAFAA";
    // After a loss the watch still runs, and shows the module found when it answers again.
    QTest::newRow("after a loss the watch goes on") << "open silent tick open good tick"
                                                    << "Found NotFound"
                                                    << "open found editing watching"
                                                    << "AAFAA AAFAA AAFAA AAFAA";
    QTest::newRow("tick during an exchange sends nothing") << "open inside:tick"
                                                           << "Found"
                                                           << "open found editing watching"
                                                           << "AAFAA AAFA1";
    QTest::newRow("close during an exchange waits for it")
        << "open inside:open"
        << "Found CloseLater CloseDue ClosedAfterFound"
        << ""
        << "AAFAA AAFA1";
    QTest::newRow("window closed during an operation") << "open inside:window-close"
                                                       << "Found true QuitDue"
                                                       << "open found editing"
                                                       << "AAFAA AAFA1";
    QTest::newRow("window closed while idle") << "open window-close"
                                              << "Found false"
                                              << "open found editing watching"
                                              << "AAFAA";
}

void TestSession::connection()
{
    QFETCH(QString, events);
    QFETCH(QString, said);
    QFETCH(QString, state);
    QFETCH(QString, wire);

    nmct::modsim::ModuleSimulator module({.pacing = false});
    const std::string port = module.SlavePath();
    ModuleSession session;
    auto *watch = session.findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(watch);
    QStringList heard;
    const auto click = [&](const std::string &name) {
        static const char *const names[] = {
            "Busy",       "OpenFailed", "NotFound",         "Found",
            "CloseLater", "Closed",     "ClosedAfterFound", "WindowClosed"};
        heard << names[static_cast<int>(session.OpenOrCloseClicked(name))];
    };
    // As the window does: a CLOSE that fell due is clicked again.
    connect(&session, &ModuleSession::CloseDue, [&] {
        heard << "CloseDue";
        click(port);
    });
    connect(&session, &ModuleSession::QuitDue, [&] { heard << "QuitDue"; });

    std::function<void(const QString &)> happen = [&](const QString &event) {
        if (event == "open")
            click(port);
        else if (event == "open-nowhere")
            click(QDir::tempPath().toStdString() + "/no-such-port");
        else if (event == "silent" || event == "good")
            module.SetFaults(event == "silent" ? Faults{.reply = ReplyFault::Silent} : Faults{});
        else if (event == "tick")
            QVERIFY(QMetaObject::invokeMethod(watch, "timeout", Qt::DirectConnection));
        else if (event == "window-close")
            heard << (session.WindowClosed() ? "true" : "false");
        else if (event.startsWith("inside:")) {
            module.SetFaults({.reply = ReplyFault::Late, .lateDelay = 150ms});
            QTimer::singleShot(50, [&, inner = event.mid(7)] {
                QVERIFY(session.Busy());
                happen(inner);
            });
            const ModuleSession::Operation operation(session);
            QCOMPARE(session.Read().result, StepResult::Ok);
            module.SetFaults({});
        } else {
            QFAIL(qPrintable("unknown event " + event));
        }
    };
    for (const QString &event : events.split(' '))
        happen(event);
    QTest::qWait(100); // what falls due once the operations have ended
    QCOMPARE(heard.join(' '), said);

    const ConnectionView view = session.View();
    QStringList holds;
    const std::pair<bool, const char *> flags[] = {{view.portOpen, "open"},
                                                   {view.deviceFound, "found"},
                                                   {view.editing, "editing"},
                                                   {watch->isActive(), "watching"}};
    for (const auto &[on, name] : flags)
        if (on)
            holds << name;
    QCOMPARE(holds.join(' '), state);
    QStringList received;
    for (const std::string &command : module.ReceivedCommands())
        received << QString::fromStdString(command.substr(0, 5));
    QCOMPARE(received.join(' '), wire);
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
    QTest::newRow("busy, the device's name quoted for the shell")
        << int(port::OpenFailureKind::Busy) << "/dev/serial/by-id/usb-Example UART"
        << "Resource temporarily unavailable" << false
        << "COM3 (/dev/serial/by-id/usb-Example UART) could not be opened: Resource temporarily "
           "unavailable.\nAnother program holds the device: close it (fuser -v "
           "'/dev/serial/by-id/usb-Example UART' names it) and try again.";
    QTest::newRow("no such device, an adapter plugged in")
        << int(port::OpenFailureKind::NoSuchDevice) << "/dev/ttyS2"
        << "No such file or directory" << true
        << "COM3 (/dev/ttyS2) could not be opened: No such file or directory.\nThere is no such "
           "device. Serial adapters present:\n  usb-Example_UART-if00-port0 -> <adapter>\nTo give "
           "an adapter the name COM3: nmct-cli ports assign COM3 "
           "/dev/serial/by-id/usb-Example_UART-if00-port0 (or a network port, "
           "rfc2217://HOST:PORT); see the README, \"COM names without root\".";
    QTest::newRow("a port map that cannot be read")
        << int(port::OpenFailureKind::BadPortMap) << "/home/a/.config/nmct/ports"
        << "/home/a/.config/nmct/ports: line 2: 'nowhere' is neither a device path" << false
        << "COM3 leads nowhere while the port map cannot be read: /home/a/.config/nmct/ports: "
           "line 2: 'nowhere' is neither a device path.\nMend or delete that line in "
           "/home/a/.config/nmct/ports (a text file); nmct-cli ports shows the map.";
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

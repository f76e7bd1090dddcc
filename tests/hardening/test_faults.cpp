// Every exchange the tool makes, against a module that misbehaves in each way a module can:
// silent, garbage, a short reply, a late one, a reply in two parts, or gone in the middle of the
// exchange. Each ends in the outcome the reply earns, never in a crash, a hang or a button left
// disabled, and the tool works normally once the module does.

#include "tests/support/ToolRig.h"

#include "link/UComm.h"
#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using nmct::modsim::Faults;
using nmct::modsim::ReplyFault;

namespace {

enum class Operation
{
    Identify, // the identify of OPEN, with the READ that follows a found device
    Read,
    Set,
    Default,
    Volume,
};

enum class Fault
{
    Silent,
    Garbage,
    Short,
    Late,
    Split,
    Vanish,      // the module takes the command, then its line hangs up without a reply
    AnswersOnce, // the module answers the first command, then nothing more
};

Faults FaultsFor(Fault fault)
{
    Faults faults;
    switch (fault) {
    case Fault::Silent:
        faults.reply = ReplyFault::Silent;
        break;
    case Fault::Garbage:
        faults.reply = ReplyFault::Garbage;
        break;
    case Fault::Short:
        faults.reply = ReplyFault::Short;
        break;
    case Fault::Late:
        faults.reply = ReplyFault::Late;
        break;
    case Fault::Split:
        faults.reply = ReplyFault::Split;
        break;
    case Fault::Vanish:
        faults.reply = ReplyFault::Silent;
        faults.vanishAfter = 1;
        break;
    case Fault::AnswersOnce:
        faults.answerLimit = 1;
        break;
    }
    return faults;
}

// What the module holds: A when the tool opens, B when the operation runs, C afterwards.
const char *const ChannelA = "433.5000";
const char *const ChannelB = "446.0125";
const char *const ChannelC = "439.9875";
const char *const FactoryChannel1 = "450.1250";

const QString Failed = QStringLiteral("Operation failed!");
// A tone code made of line noise (read as UTF-8 when it happens to be, else as Latin-1).
const QString NoiseCodeError =
    QStringLiteral("^'[^\\x00-\\x7F]{1,3}' is not a valid integer value\\.$");
// A reply that ends before the tone code fields leaves zero bytes there.
const QString EmptyCodeError = QStringLiteral("^'' is not a valid integer value\\.$");

// Time for whatever a faulty module still has on its way (a late reply comes 700 ms after its
// command) to arrive and be dropped.
constexpr int SettleMs = 500;

QPushButton *ButtonOf(TfrmMain &w, Operation operation)
{
    switch (operation) {
    case Operation::Identify:
        return Control<QPushButton>(w, "btnOpen");
    case Operation::Read:
        return Control<QPushButton>(w, "btnRead");
    case Operation::Set:
        return Control<QPushButton>(w, "btnSet");
    case Operation::Default:
        return Control<QPushButton>(w, "btnDefault");
    case Operation::Volume:
        return Control<QPushButton>(w, "VolSet");
    }
    return nullptr;
}

QStringList CommandWords(const std::vector<std::string> &wire)
{
    QStringList words;
    for (const std::string &command : wire)
        words << QString::fromLatin1(command.substr(0, 5));
    return words;
}

QByteArray Channel1(TfrmMain &w)
{
    return Control<FrequencyEdit>(w, "MEdChannel1")->EditText();
}

} // namespace

Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(Fault)

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void faultyModule_data();
    void faultyModule();
};

namespace {

// One row of the table: what the module does, and what the tool shows for it afterwards.
struct Outcome
{
    const char *name;
    Operation operation;
    Fault fault;
    QStringList sent;     // command words the module received
    QStringList messages; // the message dialogs' texts
    QString errorPattern; // the error box's text; empty: no error box
    bool found;           // DeviceFound afterwards
    QString model;
    QByteArray channel1; // transmit channel 1 afterwards; empty: line noise
    bool watching;       // the presence timer runs afterwards
    bool setSends; // SET sends: the window shows a whole record the module gave (unless vanished)
};

} // namespace

void TestFaults::faultyModule_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("errorPattern");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QByteArray>("channel1");
    QTest::addColumn<bool>("watching");
    QTest::addColumn<bool>("setSends");

    using enum Operation;
    using enum Fault;
    const QStringList identify{"AAFAA"};
    const QStringList identifyAndRead{"AAFAA", "AAFA1"};
    const QStringList read{"AAFA1"};
    const QStringList set{"AAFA3"};
    const QStringList restore{"AAFA2"};
    const QStringList volume{"AAFA4"};
    const QStringList none;
    const QStringList failed{Failed};
    const QStringList restoreAndRead{"AAFA2", "AAFA1"};
    const QStringList restoredThenFailed{"Default parameters successfully!", Failed};
    const QString noError;
    const QString nm450 = QStringLiteral("NM450");
    const QByteArray a(ChannelA), b(ChannelB), factory(FactoryChannel1), noise;

    const Outcome outcomes[] = {
        // OPEN. Any identify reply finds the device, and OPEN then reads from the same module:
        // a read reply that stops before the tone codes fails there with an error box, the
        // watch running. No identify reply leaves the port open, "Device Not Found!".
        {"identify, silent", Identify, Silent, identify, none, noError, false, "", factory, false,
         false},
        {"identify, garbage", Identify, Garbage, identifyAndRead, none, NoiseCodeError, true, "",
         noise, true, false},
        {"identify, short", Identify, Short, identifyAndRead, none, EmptyCodeError, true, nm450, a,
         true, false},
        {"identify, late", Identify, Late, identify, none, noError, false, "", factory, false,
         false},
        // The identify takes the first part; the read takes the rest of the identify reply.
        {"identify, split", Identify, Split, identifyAndRead, none, EmptyCodeError, true, nm450,
         noise, true, false},
        {"identify, vanish", Identify, Vanish, identify, none, noError, false, "", factory, false,
         false},
        // A read that gets no reply reports it, and OPEN starts the watch all the same.
        {"identify, then silent", Identify, AnswersOnce, identifyAndRead, failed, noError, true,
         nm450, factory, true, false},

        // READ takes any reply as a record: noise fails at the tone code, the first part of a
        // record shows its frequencies and then fails at the zero bytes behind it.
        {"read, silent", Read, Silent, read, failed, noError, true, nm450, a, true, true},
        {"read, garbage", Read, Garbage, read, none, NoiseCodeError, true, nm450, noise, true,
         false},
        {"read, short", Read, Short, read, none, EmptyCodeError, true, nm450, b, true, false},
        {"read, late", Read, Late, read, failed, noError, true, nm450, a, true, true},
        {"read, split", Read, Split, read, none, EmptyCodeError, true, nm450, b, true, false},
        {"read, vanish", Read, Vanish, read, failed, noError, true, nm450, a, true, true},

        // Restored, then the read-back gets no reply: both are reported, in that order.
        {"default, then silent", Default, AnswersOnce, restoreAndRead, restoredThenFailed, noError,
         true, nm450, a, true, true},
    };
    for (const Outcome &o : outcomes) {
        QTest::newRow(o.name) << o.operation << o.fault << o.sent << o.messages << o.errorPattern
                              << o.found << o.model << o.channel1 << o.watching << o.setSends;
    }

    // SET, DEFAULT and "Set Vol " succeed only on "OK": noise, "O", a first part "OK" whose
    // two bytes are taken for the end, and no reply all fail alike, and DEFAULT reads nothing.
    struct Change
    {
        Operation operation;
        const char *name;
        const QStringList &sent;
    };
    const Change changes[] = {
        {Set, "set", set}, {Default, "default", restore}, {Volume, "volume", volume}};
    const std::pair<Fault, const char *> replyFaults[] = {{Silent, "silent"}, {Garbage, "garbage"},
                                                          {Short, "short"},   {Late, "late"},
                                                          {Split, "split"},   {Vanish, "vanish"}};
    for (const Change &change : changes) {
        for (const auto &[fault, faultName] : replyFaults) {
            QTest::addRow("%s, %s", change.name, faultName)
                << change.operation << fault << change.sent << failed << noError << true << nm450
                << a << true << true;
        }
    }
}

void TestFaults::faultyModule()
{
    QFETCH(Operation, operation);
    QFETCH(Fault, fault);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, messages);
    QFETCH(QString, errorPattern);
    QFETCH(bool, found);
    QFETCH(QString, model);
    QFETCH(QByteArray, channel1);
    QFETCH(bool, watching);
    QFETCH(bool, setSends);

    ToolRig rig;
    TfrmMain &w = rig.window();
    rig.module().SetRecord(RecordWith(ChannelA));
    if (operation != Operation::Identify) {
        RIG_CHECKED(rig.Connect(ChannelA));
        rig.module().SetRecord(RecordWith(ChannelB));
    }
    // The watch's first tick comes 2 s after OPEN: the row is over by then.
    rig.ForgetWire();
    rig.module().SetFaults(FaultsFor(fault));

    QElapsedTimer clock;
    clock.start();
    if (operation == Operation::Identify)
        rig.ClickOpen();
    else
        rig.Click(ButtonOf(w, operation));
    const qint64 elapsed = clock.elapsed();

    QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(CommandWords(rig.Wire()), sent);
    QCOMPARE(rig.messages, messages);
    if (errorPattern.isEmpty()) {
        QCOMPARE(rig.errors, QStringList());
    } else {
        QCOMPARE(rig.errors.size(), 1);
        QVERIFY2(QRegularExpression(errorPattern).match(rig.errors.front()).hasMatch(),
                 qPrintable(rig.errors.front()));
    }
    QCOMPARE(w.State().deviceFound, found);
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(),
             QString(found ? "Device Found!" : "Device Not Found!"));
    QCOMPARE(Control<QLineEdit>(w, "EdtModel")->text(), model);
    if (!channel1.isEmpty())
        QCOMPARE(Channel1(w), channel1);
    QCOMPARE(Control<QTimer>(w, "Timer1")->isActive(), watching);
    // The port stays open: a silent module is not a closed port, and a vanished one is noticed
    // by the watch only.
    QVERIFY(w.State().portIsOpen);
    QCOMPARE(Control<QPushButton>(w, "btnOpen")->text(), QString("CLOSE"));
    // No button is left disabled: OPEN/CLOSE always works, the rest follow the device.
    QVERIFY(Control<QPushButton>(w, "btnOpen")->isEnabled());
    for (QPushButton *button :
         {Control<QPushButton>(w, "btnRead"), Control<QPushButton>(w, "btnSet"),
          Control<QPushButton>(w, "btnDefault"), Control<QPushButton>(w, "VolSet")})
        QCOMPARE(button->isEnabled(), found);

    // The module behaves again, or a new one is plugged in under the same name.
    if (fault == Fault::Vanish) {
        rig.Unplug();
        rig.Plug();
    } else {
        rig.module().SetFaults({});
    }
    QTest::qWait(SettleMs);
    rig.messages.clear();
    rig.errors.clear();
    rig.ForgetWire();

    if (w.State().portIsOpen && w.State().deviceFound && fault != Fault::Vanish) {
        // A record shown only in part, or not at all, is never written into the module.
        rig.Click(Control<QPushButton>(w, "btnSet"));
        QCOMPARE(CommandWords(rig.Wire()), setSends ? QStringList{"AAFA3"} : QStringList{});
        QCOMPARE(rig.messages, setSends ? QStringList{"Successfully set!"} : QStringList{});
        QCOMPARE(rig.errors.size(), setSends ? 0 : 1);
        if (!setSends)
            QVERIFY2(rig.errors.front().startsWith("Nothing has been read from the module yet"),
                     qPrintable(rig.errors.front()));
        rig.messages.clear();
        rig.errors.clear();
        rig.ForgetWire();
        rig.module().SetRecord(RecordWith(ChannelC, "007"));
        rig.Click(Control<QPushButton>(w, "btnRead"));
        QCOMPARE(CommandWords(rig.Wire()), QStringList{"AAFA1"});
    } else {
        rig.module().SetRecord(RecordWith(ChannelC, "007"));
        if (w.State().portIsOpen)
            rig.ClickOpen(); // CLOSE
        rig.ForgetWire();
        rig.ClickOpen();
        QCOMPARE(CommandWords(rig.Wire()), (QStringList{"AAFAA", "AAFA1"}));
        QVERIFY(Control<QTimer>(w, "Timer1")->isActive());
    }
    QCOMPARE(rig.messages, QStringList());
    QCOMPARE(rig.errors, QStringList());
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Found!"));
    QCOMPARE(Channel1(w), QByteArray(ChannelC));
    QCOMPARE(Control<QComboBox>(w, "CbxTxCT")->currentIndex(), 7);
    QVERIFY(Control<QPushButton>(w, "btnRead")->isEnabled() &&
            Control<QPushButton>(w, "btnOpen")->isEnabled());
}

RIG_TEST_MAIN(TestFaults)
#include "test_faults.moc"

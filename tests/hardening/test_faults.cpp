// Every exchange the tool makes, against a module that misbehaves in each way a module can:
// silent, garbage, a short reply, a late one, a reply in two parts, or gone in the middle of the
// exchange. Each ends in the outcome the reply earns, never in a crash, a hang or a button left
// disabled, and the tool works normally once the module does.

#include "ToolRig.h"

#include "app/WindowFonts.h"
#include "serial/UComm.h"
#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QApplication>
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
    Vanish, // the module takes the command, then its line hangs up without a reply
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
        return w.btnOpen;
    case Operation::Read:
        return w.btnRead;
    case Operation::Set:
        return w.btnSet;
    case Operation::Default:
        return w.btnDefault;
    case Operation::Volume:
        return w.VolSet;
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
    return w.MEdChannel[0]->EditText();
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

void TestFaults::faultyModule_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QStringList>("sent");     // command words the module received
    QTest::addColumn<QString>("message");      // the message dialog's text; empty: none
    QTest::addColumn<QString>("errorPattern"); // the error box's text; empty: none
    QTest::addColumn<bool>("found");           // DeviceFound afterwards
    QTest::addColumn<QString>("model");
    QTest::addColumn<QByteArray>("channel1"); // transmit channel 1 afterwards; empty: noise
    QTest::addColumn<bool>("watching");       // the presence timer runs afterwards

    const QStringList identify{"AAFAA"};
    const QStringList identifyAndRead{"AAFAA", "AAFA1"};
    const QString none;
    const QByteArray noise;
    const QString nm450 = QStringLiteral("NM450");

    // OPEN. Any identify reply finds the device, and OPEN then reads from the same module;
    // a read reply that stops before the tone codes fails there with an error box, and the
    // watch is not started. No reply leaves the port open with "Device Not Found!".
    QTest::newRow("identify, silent")
        << Operation::Identify << Fault::Silent << identify << none << none << false << none
        << QByteArray(FactoryChannel1) << false;
    QTest::newRow("identify, garbage")
        << Operation::Identify << Fault::Garbage << identifyAndRead << none << NoiseCodeError
        << true << QString() << noise << false;
    QTest::newRow("identify, short")
        << Operation::Identify << Fault::Short << identifyAndRead << none << EmptyCodeError << true
        << nm450 << QByteArray(ChannelA) << false;
    QTest::newRow("identify, late")
        << Operation::Identify << Fault::Late << identify << none << none << false << none
        << QByteArray(FactoryChannel1) << false;
    // The identify takes the first part; the read takes the rest of the identify reply.
    QTest::newRow("identify, split") << Operation::Identify << Fault::Split << identifyAndRead
                                     << none << EmptyCodeError << true << nm450 << noise << false;
    QTest::newRow("identify, vanish")
        << Operation::Identify << Fault::Vanish << identify << none << none << false << none
        << QByteArray(FactoryChannel1) << false;

    // READ takes any reply as a record: noise fails at the tone code, a part of a record shows
    // its frequencies and then fails at the zero bytes behind it.
    QTest::newRow("read, silent") << Operation::Read << Fault::Silent << QStringList{"AAFA1"}
                                  << Failed << none << true << nm450 << QByteArray(ChannelA)
                                  << true;
    QTest::newRow("read, garbage") << Operation::Read << Fault::Garbage << QStringList{"AAFA1"}
                                   << none << NoiseCodeError << true << nm450 << noise << true;
    QTest::newRow("read, short") << Operation::Read << Fault::Short << QStringList{"AAFA1"} << none
                                 << EmptyCodeError << true << nm450 << QByteArray(ChannelB) << true;
    QTest::newRow("read, late") << Operation::Read << Fault::Late << QStringList{"AAFA1"} << Failed
                                << none << true << nm450 << QByteArray(ChannelA) << true;
    QTest::newRow("read, split") << Operation::Read << Fault::Split << QStringList{"AAFA1"} << none
                                 << EmptyCodeError << true << nm450 << QByteArray(ChannelB) << true;
    QTest::newRow("read, vanish") << Operation::Read << Fault::Vanish << QStringList{"AAFA1"}
                                  << Failed << none << true << nm450 << QByteArray(ChannelA)
                                  << true;

    // SET, DEFAULT and "Set Vol " succeed only on "OK": noise, "O", a first part "OK" whose
    // last two bytes are taken as the end, and no reply all fail; DEFAULT then reads nothing.
    const struct
    {
        Operation operation;
        const char *name;
        const char *word;
    } okOperations[] = {
        {Operation::Set, "set", "AAFA3"},
        {Operation::Default, "default", "AAFA2"},
        {Operation::Volume, "volume", "AAFA4"},
    };
    const struct
    {
        Fault fault;
        const char *name;
    } faults[] = {{Fault::Silent, "silent"}, {Fault::Garbage, "garbage"},
                  {Fault::Short, "short"},   {Fault::Late, "late"},
                  {Fault::Split, "split"},   {Fault::Vanish, "vanish"}};
    for (const auto &op : okOperations) {
        for (const auto &f : faults) {
            QTest::addRow("%s, %s", op.name, f.name)
                << op.operation << f.fault << QStringList{op.word} << Failed << none << true
                << nm450 << QByteArray(ChannelA) << true;
        }
    }
}

void TestFaults::faultyModule()
{
    QFETCH(Operation, operation);
    QFETCH(Fault, fault);
    QFETCH(QStringList, sent);
    QFETCH(QString, message);
    QFETCH(QString, errorPattern);
    QFETCH(bool, found);
    QFETCH(QString, model);
    QFETCH(QByteArray, channel1);
    QFETCH(bool, watching);

    ToolRig rig;
    TfrmMain &w = rig.window();
    rig.module().SetRecord(RecordWith(ChannelA));
    if (operation != Operation::Identify) {
        rig.ClickOpen();
        QCOMPARE(w.lblStatus->text(), QString("Device Found!"));
        QCOMPARE(Channel1(w), QByteArray(ChannelA));
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
    QCOMPARE(rig.messages, message.isEmpty() ? QStringList() : QStringList{message});
    if (errorPattern.isEmpty()) {
        QCOMPARE(rig.errors, QStringList());
    } else {
        QCOMPARE(rig.errors.size(), 1);
        QVERIFY2(QRegularExpression(errorPattern).match(rig.errors.front()).hasMatch(),
                 qPrintable(rig.errors.front()));
    }
    QCOMPARE(w.DeviceFound, found);
    QCOMPARE(w.lblStatus->text(), QString(found ? "Device Found!" : "Device Not Found!"));
    QCOMPARE(w.EdtModel->text(), model);
    if (!channel1.isEmpty())
        QCOMPARE(Channel1(w), channel1);
    QCOMPARE(w.Timer1->isActive(), watching);
    // The port stays open: a silent module is not a closed port, and a vanished one is noticed
    // by the watch only.
    QVERIFY(w.PortOpened && w.Link->PortIsOpen());
    QCOMPARE(w.btnOpen->text(), QString("CLOSE"));
    // No button is left disabled: OPEN/CLOSE always works, the rest follow the device.
    QVERIFY(w.btnOpen->isEnabled());
    for (QPushButton *button : {w.btnRead, w.btnSet, w.btnDefault, w.VolSet})
        QCOMPARE(button->isEnabled(), found);

    // The module behaves again, or a new one is plugged in under the same name.
    if (fault == Fault::Vanish) {
        rig.Unplug();
        rig.Plug();
    } else {
        rig.module().SetFaults({});
    }
    rig.module().SetRecord(RecordWith(ChannelC, "007"));
    QTest::qWait(SettleMs);
    rig.messages.clear();
    rig.errors.clear();
    rig.ForgetWire();

    if (w.PortOpened && w.DeviceFound && fault != Fault::Vanish) {
        rig.Click(w.btnRead);
        QCOMPARE(CommandWords(rig.Wire()), QStringList{"AAFA1"});
    } else {
        if (w.PortOpened)
            rig.ClickOpen(); // CLOSE
        rig.ForgetWire();
        rig.ClickOpen();
        QCOMPARE(CommandWords(rig.Wire()), (QStringList{"AAFAA", "AAFA1"}));
        QVERIFY(w.Timer1->isActive());
    }
    QCOMPARE(rig.messages, QStringList());
    QCOMPARE(rig.errors, QStringList());
    QCOMPARE(w.lblStatus->text(), QString("Device Found!"));
    QCOMPARE(Channel1(w), QByteArray(ChannelC));
    QCOMPARE(w.CbxTxCT->currentIndex(), 7);
    QVERIFY(w.btnRead->isEnabled() && w.btnOpen->isEnabled());
}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    InstallWindowFonts(); // as the program entry does, so the fields show all eight characters
    TestFaults test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_faults.moc"

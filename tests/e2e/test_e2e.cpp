// The whole tool against the module simulator: OPEN/CLOSE, the presence watch, READ, SET,
// DEFAULT and "Set Vol ", through real clicks and key presses.

#include "tests/support/KnownRecords.h"
#include "tests/support/ToolRig.h"

#include "app/WindowFonts.h"
#include "dialogs/UMsg.h"
#include "widgets/FormControls.h"

#include "link/UComm.h"
#include "serial/platform/Port.h"
#include "widgets/CircleShape.h"
#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstring>

using nmct::modsim::Faults;
using nmct::modsim::ReplyFault;
using namespace std::chrono_literals;

namespace {

const QColor Green{0, 128, 0};
const QColor Grey{128, 128, 128};

// The set command for the factory values with transmit channel 1 changed to `channel1`.
std::string FactorySetCommand(const std::string &channel1)
{
    return "AAFA3" + known::WithChannel1Tx(known::FactoryChannels, channel1) + "011,125,2\\r\\n";
}

// A record that differs from the factory one in every kind of field.
nmct::modsim::Record CustomRecord()
{
    nmct::modsim::Record record = nmct::modsim::FactoryRecord();
    auto put = [&record](std::size_t pos, const char *text) {
        std::memcpy(record.data() + pos, text, std::strlen(text));
    };
    put(2, "433.5000");   // channel 1 transmit
    put(281, "470.9875"); // channel 16 receive
    put(290, "005");      // transmit CTCSS 5
    put(294, "200");      // receive CDCSS position 161
    put(298, "7");
    return record;
}

QByteArray Field(FrequencyEdit *field)
{
    return field->EditText();
}

// A point on the field's first character: the last x that places the caret before it.
QPoint FirstCharacter(FrequencyEdit &field)
{
    const int y = field.height() / 2;
    int x = 0;
    while (x + 1 < field.width() && field.cursorPositionAt(QPoint(x + 1, y)) == 0)
        ++x;
    return {x, y};
}

// Runs `check` once the event loop has run for `ms`, i.e. in the middle of an exchange.
void During(int ms, std::function<void()> check)
{
    QTimer::singleShot(ms, std::move(check));
}

// Runs `action` once the module has received `command` while the window still waits for the
// reply: a click that lands inside the exchange.
void InsideExchange(ToolRig &tool, const std::string &command, std::function<void()> action)
{
    auto *poll = new QTimer(&tool.window());
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [&tool, poll, command, action] {
        const std::vector<std::string> wire = tool.Wire();
        if (!tool.window().State().linkBusy ||
            std::find(wire.begin(), wire.end(), command) == wire.end())
            return;
        poll->stop();
        poll->deleteLater();
        action();
    });
    poll->start();
}

// Records each message and answers it with OK after `check`. A check that fails inside closes
// the dialog all the same, so the test fails at once instead of waiting at a modal dialog.
void AnswerMessages(ToolRig &tool, std::function<void(TfrmMsg &)> check)
{
    TfrmMsg::SetShownHook([&tool, check = std::move(check)](TfrmMsg &dialog) {
        const auto closeAnyway = qScopeGuard([&dialog] {
            if (dialog.isVisible())
                dialog.done(-1);
        });
        tool.messages << dialog.lblMsg->text();
        check(dialog);
        dialog.Button1->click();
    });
}

// The window is active again, as a window manager makes the owner of a dialog that closed; the
// offscreen platform leaves no window active.
void ActivateAgain(TfrmMain &w)
{
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

Faults LateReplies(std::chrono::milliseconds delay)
{
    Faults late;
    late.reply = ReplyFault::Late;
    late.lateDelay = delay;
    return late;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void openIdentifiesAndReads();
    void openShowsModuleRecord();
    void setSendsEditedField();
    void readShowsModuleRecord_data();
    void readShowsModuleRecord();
    void defaultRestoresAndReadsBack();
    void volumeThroughKeyboard();
    void replyJudgement_data();
    void replyJudgement();
    void lossClosesPort();
    void closeWhileConnected();
    void insideRead_data();
    void insideRead();
    void closeInsideExchange_data();
    void closeInsideExchange();
    void badToneCodeOnRead();
    void badToneCodeOnOpen();
    void setRefusesToneNotInList();
    void setAfterUnansweredRead();
    void keyboardStaysOnOperation_data();
    void keyboardStaysOnOperation();
    void openWithoutDevice();
    void openPortHeldElsewhere();
    void closingWindowReleasesDevice();
};

void TestEndToEnd::openIdentifiesAndReads()
{
    ToolRig tool;
    TfrmMain &w = tool.window();
    bool openEnabledDuringOpen = true;
    During(5, [&] { openEnabledDuringOpen = Control<QPushButton>(w, "btnOpen")->isEnabled(); });
    tool.ClickOpen();

    QVERIFY(!openEnabledDuringOpen);
    QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFAA", "AAFA1"}));
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Found!"));
    QCOMPARE(Control<QLineEdit>(w, "EdtModel")->text(), QString("NM450"));
    QCOMPARE(Control<QLineEdit>(w, "EdtVer")->text(), QString("V2.13"));
    QCOMPARE(Control<CircleShape>(w, "shpLight")->BrushColor(), Green);
    QCOMPARE(Control<QPushButton>(w, "btnOpen")->text(), QString("CLOSE"));
    QVERIFY(Control<QPushButton>(w, "btnOpen")->isEnabled());
    QVERIFY(!Control<QComboBox>(w, "cbxComm")->isEnabled());
    QVERIFY(Control<QTimer>(w, "Timer1")->isActive());
    QVERIFY(w.State().deviceFound && w.State().portIsOpen);
    QVERIFY(Control<QWidget>(w, "p2")->isEnabled() &&
            Control<QPushButton>(w, "btnSet")->isEnabled() &&
            Control<QPushButton>(w, "btnRead")->isEnabled());
    QVERIFY(tool.messages.isEmpty());
}

void TestEndToEnd::openShowsModuleRecord()
{
    ToolRig tool;
    tool.module().SetRecord(CustomRecord());
    tool.ClickOpen();
    TfrmMain &w = tool.window();

    QCOMPARE(Field(Control<FrequencyEdit>(w, "MEdChannel1")), QByteArray("433.5000"));
    QCOMPARE(Field(Control<FrequencyEdit>(w, "MEDRChannel16")), QByteArray("470.9875"));
    QCOMPARE(Field(Control<FrequencyEdit>(w, "MEdChannel2")), QByteArray("451.1250"));
    QVERIFY(Control<QCheckBox>(w, "CheckBox1")->isChecked() &&
            !Control<QCheckBox>(w, "CheckBox2")->isChecked());
    QCOMPARE(Control<QComboBox>(w, "CbxTxCT")->currentIndex(), 5);
    QVERIFY(!Control<QCheckBox>(w, "CheckBox3")->isChecked() &&
            Control<QCheckBox>(w, "CheckBox4")->isChecked());
    QCOMPARE(Control<QComboBox>(w, "CbxRxCD")->currentIndex(), 161);
    QCOMPARE(Control<QComboBox>(w, "CbxSQ")->currentText(), QString("7"));
}

void TestEndToEnd::setSendsEditedField()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.module().ClearReceivedCommands();

    // A click on the first digit places the caret there; 4 and 6 overwrite two digits.
    FrequencyEdit *channel1 = Control<FrequencyEdit>(w, "MEdChannel1");
    QTest::mouseClick(channel1, Qt::LeftButton, {}, FirstCharacter(*channel1));
    QTest::keyClicks(channel1, "46");
    QCOMPARE(Field(channel1), QByteArray("460.1250"));

    tool.Click(Control<QPushButton>(w, "btnSet"));
    QCOMPARE(tool.Wire(), (std::vector<std::string>{FactorySetCommand("460.1250")}));
    QCOMPARE(int(tool.Wire().front().size()), 306);
    QCOMPARE(tool.messages, QStringList{"Successfully set!"});
    QVERIFY(Control<QPushButton>(w, "btnSet")->isEnabled());

    tool.module().ClearReceivedCommands();
    tool.Click(Control<QPushButton>(w, "btnRead"));
    QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFA1"}));
    QCOMPARE(Field(channel1), QByteArray("460.1250"));
}

void TestEndToEnd::readShowsModuleRecord_data()
{
    QTest::addColumn<bool>("paced");
    QTest::newRow("reply at once") << false;
    // A byte a millisecond, as at 9600 baud: the whole record is still one reply.
    QTest::newRow("reply paced") << true;
}

void TestEndToEnd::readShowsModuleRecord()
{
    QFETCH(bool, paced);
    ToolRig tool(paced ? nmct::modsim::Options{} : ToolRig::FastModule());
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.module().SetRecord(CustomRecord());

    tool.Click(Control<QPushButton>(w, "btnRead"));
    QCOMPARE(Field(Control<FrequencyEdit>(w, "MEdChannel1")), QByteArray("433.5000"));
    QCOMPARE(Control<QComboBox>(w, "CbxRxCD")->currentIndex(), 161);
    QCOMPARE(Control<QComboBox>(w, "CbxSQ")->currentText(), QString("7"));
    QVERIFY(Control<QPushButton>(w, "btnRead")->isEnabled());
    QVERIFY(tool.messages.isEmpty());
}

void TestEndToEnd::defaultRestoresAndReadsBack()
{
    ToolRig tool;
    tool.module().SetRecord(CustomRecord());
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    QCOMPARE(Field(Control<FrequencyEdit>(w, "MEdChannel1")), QByteArray("433.5000"));
    tool.module().ClearReceivedCommands();

    // The read-back starts only after the message is closed, with DEFAULT still disabled.
    bool defaultEnabledDuringReadBack = true;
    AnswerMessages(tool, [&](TfrmMsg &) {
        QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFA2"}));
        QTimer::singleShot(0, &w, [&] {
            defaultEnabledDuringReadBack = Control<QPushButton>(w, "btnDefault")->isEnabled();
        });
    });
    tool.Click(Control<QPushButton>(w, "btnDefault"));

    QCOMPARE(tool.messages, QStringList{"Default parameters successfully!"});
    QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFA2", "AAFA1"}));
    QVERIFY(!defaultEnabledDuringReadBack);
    QCOMPARE(Field(Control<FrequencyEdit>(w, "MEdChannel1")), QByteArray("450.1250"));
    QCOMPARE(Control<QComboBox>(w, "CbxTxCT")->currentIndex(), 11);
    QVERIFY(Control<QCheckBox>(w, "CheckBox4")->isChecked());
    QCOMPARE(Control<QComboBox>(w, "CbxRxCD")->currentText(), QString("031N"));
    QCOMPARE(Control<QComboBox>(w, "CbxSQ")->currentText(), QString("2"));
    QVERIFY(Control<QPushButton>(w, "btnDefault")->isEnabled() &&
            Control<QPushButton>(w, "btnRead")->isEnabled());
}

void TestEndToEnd::volumeThroughKeyboard()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.module().ClearReceivedCommands();

    // The button and its selector lie below the panel's visible area: reach them with Tab.
    Control<QComboBox>(w, "CbxRxCD")->setFocus();
    QTest::keyClick(Control<QComboBox>(w, "CbxRxCD"), Qt::Key_Tab);
    QTRY_COMPARE(QApplication::focusWidget(), Control<QWidget>(w, "VolSet"));
    QTest::keyClick(Control<QPushButton>(w, "VolSet"), Qt::Key_Tab);
    QTRY_COMPARE(QApplication::focusWidget(), Control<QWidget>(w, "CbxVol"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_4);
    QCOMPARE(Control<QComboBox>(w, "CbxVol")->currentText(), QString("4"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QTRY_COMPARE(QApplication::focusWidget(), Control<QWidget>(w, "VolSet"));
    QTest::keyClick(Control<QPushButton>(w, "VolSet"), Qt::Key_Space);

    QTRY_COMPARE(tool.Wire(), (std::vector<std::string>{"AAFA44"}));
    QTRY_COMPARE(tool.messages, QStringList{"Volume successfully set!"});
    QCOMPARE(tool.module().Volume(), std::string("4"));
}

void TestEndToEnd::replyJudgement_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("okText");
    QTest::addColumn<QString>("message");
    QTest::newRow("set, ok") << "btnSet"
                             << "ok"
                             << "Successfully set!";
    QTest::newRow("set, OK!") << "btnSet"
                              << "OK!"
                              << "Operation failed!";
    QTest::newRow("default, Ok") << "btnDefault"
                                 << "Ok"
                                 << "Default parameters successfully!";
    QTest::newRow("default, NO") << "btnDefault"
                                 << "NO"
                                 << "Operation failed!";
    QTest::newRow("volume, ok") << "VolSet"
                                << "ok"
                                << "Volume successfully set!";
    QTest::newRow("volume, OK!") << "VolSet"
                                 << "OK!"
                                 << "Operation failed!";
    QTest::newRow("volume, empty") << "VolSet"
                                   << ""
                                   << "Operation failed!";
}

void TestEndToEnd::replyJudgement()
{
    QFETCH(QString, button);
    QFETCH(QString, okText);
    QFETCH(QString, message);
    ToolRig tool;
    tool.ClickOpen();
    Faults faults;
    faults.okText = okText.toStdString();
    tool.module().SetFaults(faults);

    auto *target = tool.window().findChild<QPushButton *>(button);
    QVERIFY(target);
    target->click();
    QCOMPARE(tool.messages.value(0), message);
    QVERIFY(target->isEnabled());
}

void TestEndToEnd::lossClosesPort()
{
    ToolRig tool;
    tool.module().SetRecord(CustomRecord());
    tool.ClickOpen();
    TfrmMain &w = tool.window();

    Faults silent;
    silent.reply = ReplyFault::Silent;
    tool.module().SetFaults(silent);
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(w, "lblStatus")->text(), QString("Device Not Found!"),
                              5000);
    QTRY_COMPARE_WITH_TIMEOUT(Control<QPushButton>(w, "btnOpen")->text(), QString("OPEN"), 1000);
    QVERIFY2(clock.elapsed() < 2500 + 600, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!w.State().portIsOpen);
    QCOMPARE(Control<CircleShape>(w, "shpLight")->BrushColor(), Grey);
    QVERIFY(!Control<QWidget>(w, "p2")->isEnabled() &&
            !Control<QPushButton>(w, "btnRead")->isEnabled());
    QVERIFY(Control<QComboBox>(w, "cbxComm")->isEnabled());
    // What was last shown stays on screen; the watch goes on running.
    QCOMPARE(Control<QLineEdit>(w, "EdtModel")->text(), QString("NM450"));
    QCOMPARE(Control<QLineEdit>(w, "EdtVer")->text(), QString("V2.13"));
    QCOMPARE(Field(Control<FrequencyEdit>(w, "MEdChannel1")), QByteArray("433.5000"));
    QVERIFY(Control<QTimer>(w, "Timer1")->isActive());
}

void TestEndToEnd::closeWhileConnected()
{
    ToolRig tool;
    tool.module().SetRecord(CustomRecord());
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.module().ClearReceivedCommands();

    QColor lightDuringIdentify;
    QString buttonDuringIdentify, statusDuringIdentify;
    During(100, [&] {
        lightDuringIdentify = Control<CircleShape>(w, "shpLight")->BrushColor();
        buttonDuringIdentify = Control<QPushButton>(w, "btnOpen")->text();
        statusDuringIdentify = Control<QLabel>(w, "lblStatus")->text();
    });
    QElapsedTimer clock;
    clock.start();
    tool.Click(Control<QPushButton>(w, "btnOpen"));
    const qint64 elapsed = clock.elapsed();

    // Grey and "OPEN" at once; the identify on the closed port waits its full time.
    QCOMPARE(lightDuringIdentify, Grey);
    QCOMPARE(buttonDuringIdentify, QString("OPEN"));
    QCOMPARE(statusDuringIdentify, QString("Device Found!"));
    QVERIFY2(elapsed >= 450 && elapsed < 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Not Found!"));
    QCOMPARE(Field(Control<FrequencyEdit>(w, "MEdChannel1")), QByteArray("450.1250"));
    QVERIFY(!Control<QTimer>(w, "Timer1")->isActive());
    QVERIFY(!Control<QWidget>(w, "p2")->isEnabled());
    QVERIFY(tool.Wire().empty());
    QCOMPARE(Control<QLineEdit>(w, "EdtModel")->text(), QString("NM450"));
}

void TestEndToEnd::insideRead_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("SET click") << "SET";
    QTest::newRow("watch tick") << "tick";
}

void TestEndToEnd::insideRead()
{
    QFETCH(QString, action);
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.ForgetWire();
    tool.module().SetFaults(LateReplies(700ms)); // the read times out

    bool readEnabledDuringWait = true;
    bool ticked = false;
    InsideExchange(tool, "AAFA1", [&] {
        readEnabledDuringWait = Control<QPushButton>(w, "btnRead")->isEnabled();
        if (action == "SET")
            Control<QPushButton>(w, "btnSet")->click();
        else // a tick of the presence watch
            ticked = QMetaObject::invokeMethod(Control<QTimer>(w, "Timer1"), "timeout",
                                               Qt::DirectConnection);
    });
    tool.Click(Control<QPushButton>(w, "btnRead"));

    // Neither sends anything nor changes what the window says about the module.
    QVERIFY(!readEnabledDuringWait);
    QVERIFY(action == "SET" || ticked);
    QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFA1"}));
    QCOMPARE(tool.messages, QStringList{"Operation failed!"});
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Found!"));
    QVERIFY(w.State().portIsOpen && w.State().deviceFound);
    QVERIFY(Control<QPushButton>(w, "btnRead")->isEnabled() &&
            Control<QPushButton>(w, "btnSet")->isEnabled() &&
            Control<QWidget>(w, "p2")->isEnabled());
}

void TestEndToEnd::closeInsideExchange_data()
{
    QTest::addColumn<QString>("exchange");
    QTest::newRow("READ") << "AAFA1";
    QTest::newRow("watch identify") << "AAFAA";
}

void TestEndToEnd::closeInsideExchange()
{
    QFETCH(QString, exchange);
    ToolRig tool;
    tool.module().SetRecord(CustomRecord());
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.ForgetWire();
    tool.module().SetFaults(LateReplies(300ms)); // answered, late enough to click inside

    bool clicked = false;
    InsideExchange(tool, exchange.toStdString(), [&] {
        tool.Click(Control<QPushButton>(w, "btnOpen"));
        clicked = true;
    });
    if (exchange == "AAFA1")
        tool.Click(Control<QPushButton>(w, "btnRead"));
    QTRY_VERIFY_WITH_TIMEOUT(clicked, 5000); // the watch's identify comes within 2 s

    // The CLOSE is carried out once the exchange has ended: the window never claims the module
    // over values it did not read, and the button, the light and the port agree.
    QTRY_COMPARE_WITH_TIMEOUT(Control<QPushButton>(w, "btnOpen")->text(), QString("OPEN"), 3000);
    QTRY_COMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Not Found!"));
    QVERIFY(!w.State().portIsOpen && !w.State().deviceFound);
    QCOMPARE(Control<CircleShape>(w, "shpLight")->BrushColor(), Grey);
    QVERIFY(!Control<QWidget>(w, "p2")->isEnabled() &&
            !Control<QPushButton>(w, "btnSet")->isEnabled());
    QVERIFY(!Control<QTimer>(w, "Timer1")->isActive());
    QCOMPARE(Field(Control<FrequencyEdit>(w, "MEdChannel1")), QByteArray("450.1250"));
    QTest::qWait(600); // nothing comes back later
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Not Found!"));
    QCOMPARE(tool.Wire(), (std::vector<std::string>{exchange.toStdString()}));
}

void TestEndToEnd::badToneCodeOnRead()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    nmct::modsim::Record record = CustomRecord();
    tool.module().SetRecord(record);
    Faults bad;
    bad.badToneCode = true;
    tool.module().SetFaults(bad);

    tool.Click(Control<QPushButton>(w, "btnRead"));
    QCOMPARE(tool.errors, QStringList{"'abc' is not a valid integer value."});
    QCOMPARE(Field(Control<FrequencyEdit>(w, "MEdChannel1")), QByteArray("433.5000"));
    QCOMPARE(Control<QComboBox>(w, "CbxTxCT")->currentIndex(),
             11); // tone selectors keep their previous state
    QVERIFY(Control<QPushButton>(w, "btnRead")->isEnabled());
    QVERIFY(tool.messages.isEmpty());
}

void TestEndToEnd::badToneCodeOnOpen()
{
    ToolRig tool;
    Faults bad;
    bad.badToneCode = true;
    tool.module().SetFaults(bad);
    tool.ClickOpen();
    TfrmMain &w = tool.window();

    QCOMPARE(tool.errors, QStringList{"'abc' is not a valid integer value."});
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Found!"));
    QCOMPARE(Control<QPushButton>(w, "btnOpen")->text(), QString("CLOSE"));
    QVERIFY(Control<QPushButton>(w, "btnOpen")->isEnabled() &&
            Control<QPushButton>(w, "btnRead")->isEnabled());

    // The module is watched all the same: pulling it out shows at the next tick.
    tool.Unplug();
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(w, "lblStatus")->text(), QString("Device Not Found!"),
                              5000);
    QTRY_COMPARE(Control<QPushButton>(w, "btnOpen")->text(), QString("OPEN"));
}

void TestEndToEnd::setRefusesToneNotInList()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.ForgetWire();

    // Typed text that begins no code leaves the CDCSS selector without an item.
    tool.Click(Control<QCheckBox>(w, "CheckBox2"));
    Control<QComboBox>(w, "CbxTxCD")->lineEdit()->selectAll();
    QTest::keyClicks(Control<QComboBox>(w, "CbxTxCD")->lineEdit(), "9");
    QCOMPARE(Control<QComboBox>(w, "CbxTxCD")->currentIndex(), -1);
    tool.Click(Control<QPushButton>(w, "btnSet"));

    QCOMPARE(tool.errors, QStringList{"TX CDCS: \"9\" is not in the list; nothing was sent."});
    QVERIFY(tool.Wire().empty());
    QVERIFY(tool.messages.isEmpty());
    QVERIFY(Control<QPushButton>(w, "btnSet")->isEnabled());
}

void TestEndToEnd::setAfterUnansweredRead()
{
    ToolRig tool;
    Faults answersOnce;
    answersOnce.answerLimit = 1; // identifies, then reads nothing
    tool.module().SetFaults(answersOnce);
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    QCOMPARE(tool.messages, QStringList{"Operation failed!"});
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Found!"));
    tool.module().SetFaults({});
    tool.ForgetWire();

    // The window shows its start-up values, not the module's: SET sends nothing.
    tool.Click(Control<QPushButton>(w, "btnSet"));
    QCOMPARE(tool.errors, QStringList{"Nothing has been read from the module yet: press READ, or "
                                      "load a parameter file, before SET; nothing was sent."});
    QVERIFY(tool.Wire().empty());
    QVERIFY(Control<QPushButton>(w, "btnSet")->isEnabled());

    // A loaded file is the user's own values: SET sends them.
    QTemporaryDir folder;
    const QString file = folder.filePath("site.nmct");
    QFile written(file);
    std::string text = "format 1\n";
    for (int channel = 1; channel <= 16; ++channel)
        text += "channel " + std::to_string(channel) + " 440.0000 441.0000\n";
    text += "tx-tone CTCSS 5\nrx-tone CDCSS 023I\nsquelch 7\n";
    QVERIFY(written.open(QIODevice::WriteOnly) &&
            written.write(text.data(), qint64(text.size())) == qint64(text.size()));
    written.close();
    TfrmMain::SetFileDialogHook([&file](TfrmMain::FileChoice) { return file; });
    const auto noHook = qScopeGuard([] { TfrmMain::SetFileDialogHook({}); });
    RIG_CHECKED(ActivateAgain(w));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, Qt::ControlModifier);
    tool.Click(Control<QPushButton>(w, "btnSet"));

    std::string channels;
    for (int channel = 1; channel <= 16; ++channel)
        channels += "440.0000,441.0000,";
    QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFA3" + channels + "005,039,7\\r\\n"}));
    QCOMPARE(tool.messages, (QStringList{"Operation failed!", "Successfully set!"}));
}

void TestEndToEnd::keyboardStaysOnOperation_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("sent"); // the command words of one run
    QTest::newRow("READ") << "btnRead" << QStringList{"AAFA1"};
    QTest::newRow("SET, after its message") << "btnSet" << QStringList{"AAFA3"};
    QTest::newRow("DEFAULT, after its message and read-back")
        << "btnDefault" << QStringList{"AAFA2", "AAFA1"};
}

void TestEndToEnd::keyboardStaysOnOperation()
{
    // Qt moves the focus off a button that disables itself, to the next in the chain: a second
    // Space after READ would restore the factory settings.
    QFETCH(QString, button);
    QFETCH(QStringList, sent);
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    auto *target = w.findChild<QPushButton *>(button);
    QVERIFY(target);
    target->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), target);
    tool.ForgetWire();

    for (int press = 1; press <= 2; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        RIG_CHECKED(ActivateAgain(w));
        QTRY_COMPARE(QApplication::focusWidget(), target);
    }
    QStringList words;
    for (const std::string &command : tool.Wire())
        if (command != "AAFAA") // the presence watch may come between
            words << QString::fromLatin1(command.substr(0, 5));
    QCOMPARE(words, sent + sent);
}

void TestEndToEnd::openWithoutDevice()
{
    ToolRig tool;
    TfrmMain &w = tool.window();
    Control<QComboBox>(w, "cbxComm")->setCurrentIndex(6); // COM7: no device behind it
    tool.Click(Control<QPushButton>(w, "btnOpen"));

    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Not Found!"));
    QCOMPARE(Control<QPushButton>(w, "btnOpen")->text(), QString("OPEN"));
    QVERIFY(Control<QComboBox>(w, "cbxComm")->isEnabled() &&
            Control<QPushButton>(w, "btnOpen")->isEnabled());
    QCOMPARE(Control<CircleShape>(w, "shpLight")->BrushColor(), Grey);
    QVERIFY(!w.State().portIsOpen);
    QVERIFY(tool.messages.isEmpty() && tool.errors.isEmpty());
    // Why, where the user finds it: the status line's tooltip.
    QVERIFY2(Control<QWidget>(w, "Panel6")
                     ->toolTip()
                     .startsWith("COM7 (/nonexistent/COM7) could not be opened: ") &&
                 Control<QWidget>(w, "Panel6")->toolTip().contains("\nThere is no such device."),
             qPrintable(Control<QWidget>(w, "Panel6")->toolTip()));

    tool.ClickOpen(); // the reason goes with the next OPEN
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Found!"));
    QCOMPARE(Control<QWidget>(w, "Panel6")->toolTip(), QString());
}

void TestEndToEnd::openPortHeldElsewhere()
{
    ToolRig tool;
    QProcess holder;
    holder.start("flock", {QString::fromStdString(tool.module().SlavePath()), "sleep", "30"});
    QVERIFY(holder.waitForStarted());
    QTest::qWait(300); // until flock holds the lock

    tool.ClickOpen();
    TfrmMain &w = tool.window();
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Not Found!"));
    QCOMPARE(Control<QPushButton>(w, "btnOpen")->text(), QString("OPEN"));
    QVERIFY(tool.Wire().empty());
    QVERIFY2(
        Control<QWidget>(w, "Panel6")->toolTip().contains("\nAnother program holds the device"),
        qPrintable(Control<QWidget>(w, "Panel6")->toolTip()));
    holder.kill();
    holder.waitForFinished();
}

void TestEndToEnd::closingWindowReleasesDevice()
{
    ToolRig tool;
    tool.ClickOpen();
    QVERIFY(tool.window().State().portIsOpen);
    tool.CloseWindow();

    // Closed and unlocked: the same device opens again at once.
    QVERIFY(port::OpenDevice("COM5") != nullptr);
}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    InstallWindowFonts(); // as the program entry does, so the fields show all eight characters
    TestEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_e2e.moc"

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
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
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
        if (!tool.window().Link->Busy() ||
            std::find(wire.begin(), wire.end(), command) == wire.end())
            return;
        poll->stop();
        poll->deleteLater();
        action();
    });
    poll->start();
}

// Calls `watch` with every event the application delivers, before its receiver sees it.
class EventWatch : public QObject
{
public:
    explicit EventWatch(std::function<void(QObject *, QEvent *)> watch) : watch(std::move(watch))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        watch(receiver, event);
        return false;
    }

private:
    std::function<void(QObject *, QEvent *)> watch;
};

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
    void openWithoutDevice();
    void openPortHeldElsewhere();
    void closingWindowReleasesDevice();
    void closingWindowDuringSetEndsProgram(); // last: it runs the application's loop
};

void TestEndToEnd::openIdentifiesAndReads()
{
    ToolRig tool;
    TfrmMain &w = tool.window();
    bool openEnabledDuringOpen = true;
    During(5, [&] { openEnabledDuringOpen = w.btnOpen->isEnabled(); });
    tool.ClickOpen();

    QVERIFY(!openEnabledDuringOpen);
    QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFAA", "AAFA1"}));
    QCOMPARE(w.lblStatus->text(), QString("Device Found!"));
    QCOMPARE(w.EdtModel->text(), QString("NM450"));
    QCOMPARE(w.EdtVer->text(), QString("V2.13"));
    QCOMPARE(w.shpLight->BrushColor(), Green);
    QCOMPARE(w.btnOpen->text(), QString("CLOSE"));
    QVERIFY(w.btnOpen->isEnabled());
    QVERIFY(!w.cbxComm->isEnabled());
    QVERIFY(w.Timer1->isActive());
    QVERIFY(w.DeviceFound && w.PortOpened);
    QVERIFY(w.p2->isEnabled() && w.btnSet->isEnabled() && w.btnRead->isEnabled());
    QVERIFY(tool.messages.isEmpty());
}

void TestEndToEnd::openShowsModuleRecord()
{
    ToolRig tool;
    tool.module().SetRecord(CustomRecord());
    tool.ClickOpen();
    TfrmMain &w = tool.window();

    QCOMPARE(Field(w.MEdChannel[0]), QByteArray("433.5000"));
    QCOMPARE(Field(w.MEDRChannel[15]), QByteArray("470.9875"));
    QCOMPARE(Field(w.MEdChannel[1]), QByteArray("451.1250"));
    QVERIFY(w.CheckBox1->isChecked() && !w.CheckBox2->isChecked());
    QCOMPARE(w.CbxTxCT->currentIndex(), 5);
    QVERIFY(!w.CheckBox3->isChecked() && w.CheckBox4->isChecked());
    QCOMPARE(w.CbxRxCD->currentIndex(), 161);
    QCOMPARE(w.CbxSQ->currentText(), QString("7"));
}

void TestEndToEnd::setSendsEditedField()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.module().ClearReceivedCommands();

    // A click on the first digit places the caret there; 4 and 6 overwrite two digits.
    FrequencyEdit *channel1 = w.MEdChannel[0];
    QTest::mouseClick(channel1, Qt::LeftButton, {}, FirstCharacter(*channel1));
    QTest::keyClicks(channel1, "46");
    QCOMPARE(Field(channel1), QByteArray("460.1250"));

    tool.Click(w.btnSet);
    QCOMPARE(tool.Wire(), (std::vector<std::string>{FactorySetCommand("460.1250")}));
    QCOMPARE(int(tool.Wire().front().size()), 306);
    QCOMPARE(tool.messages, QStringList{"Successfully set!"});
    QVERIFY(w.btnSet->isEnabled());

    tool.module().ClearReceivedCommands();
    tool.Click(w.btnRead);
    QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFA1"}));
    QCOMPARE(Field(channel1), QByteArray("460.1250"));
}

void TestEndToEnd::readShowsModuleRecord()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.module().SetRecord(CustomRecord());

    tool.Click(w.btnRead);
    QCOMPARE(Field(w.MEdChannel[0]), QByteArray("433.5000"));
    QCOMPARE(w.CbxRxCD->currentIndex(), 161);
    QCOMPARE(w.CbxSQ->currentText(), QString("7"));
    QVERIFY(w.btnRead->isEnabled());
    QVERIFY(tool.messages.isEmpty());
}

void TestEndToEnd::defaultRestoresAndReadsBack()
{
    ToolRig tool;
    tool.module().SetRecord(CustomRecord());
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    QCOMPARE(Field(w.MEdChannel[0]), QByteArray("433.5000"));
    tool.module().ClearReceivedCommands();

    // The read-back starts only after the message is closed, with DEFAULT still disabled.
    bool defaultEnabledDuringReadBack = true;
    AnswerMessages(tool, [&](TfrmMsg &) {
        QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFA2"}));
        QTimer::singleShot(0, &w,
                           [&] { defaultEnabledDuringReadBack = w.btnDefault->isEnabled(); });
    });
    tool.Click(w.btnDefault);

    QCOMPARE(tool.messages, QStringList{"Default parameters successfully!"});
    QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFA2", "AAFA1"}));
    QVERIFY(!defaultEnabledDuringReadBack);
    QCOMPARE(Field(w.MEdChannel[0]), QByteArray("450.1250"));
    QCOMPARE(w.CbxTxCT->currentIndex(), 11);
    QVERIFY(w.CheckBox4->isChecked());
    QCOMPARE(w.CbxRxCD->currentText(), QString("031N"));
    QCOMPARE(w.CbxSQ->currentText(), QString("2"));
    QVERIFY(w.btnDefault->isEnabled() && w.btnRead->isEnabled());
}

void TestEndToEnd::volumeThroughKeyboard()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.module().ClearReceivedCommands();

    // The button and its selector lie below the panel's visible area: reach them with Tab.
    w.CbxRxCD->setFocus();
    QTest::keyClick(w.CbxRxCD, Qt::Key_Tab);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.VolSet));
    QTest::keyClick(w.VolSet, Qt::Key_Tab);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.CbxVol));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_4);
    QCOMPARE(w.CbxVol->currentText(), QString("4"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.VolSet));
    QTest::keyClick(w.VolSet, Qt::Key_Space);

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
    QTRY_COMPARE_WITH_TIMEOUT(w.lblStatus->text(), QString("Device Not Found!"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(w.btnOpen->text(), QString("OPEN"), 1000);
    QVERIFY2(clock.elapsed() < 2500 + 600, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!w.Link->PortIsOpen());
    QCOMPARE(w.shpLight->BrushColor(), Grey);
    QVERIFY(!w.p2->isEnabled() && !w.btnRead->isEnabled());
    QVERIFY(w.cbxComm->isEnabled());
    // What was last shown stays on screen; the watch goes on running.
    QCOMPARE(w.EdtModel->text(), QString("NM450"));
    QCOMPARE(w.EdtVer->text(), QString("V2.13"));
    QCOMPARE(Field(w.MEdChannel[0]), QByteArray("433.5000"));
    QVERIFY(w.Timer1->isActive());
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
        lightDuringIdentify = w.shpLight->BrushColor();
        buttonDuringIdentify = w.btnOpen->text();
        statusDuringIdentify = w.lblStatus->text();
    });
    QElapsedTimer clock;
    clock.start();
    tool.Click(w.btnOpen);
    const qint64 elapsed = clock.elapsed();

    // Grey and "OPEN" at once; the identify on the closed port waits its full time.
    QCOMPARE(lightDuringIdentify, Grey);
    QCOMPARE(buttonDuringIdentify, QString("OPEN"));
    QCOMPARE(statusDuringIdentify, QString("Device Found!"));
    QVERIFY2(elapsed >= 450 && elapsed < 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(w.lblStatus->text(), QString("Device Not Found!"));
    QCOMPARE(Field(w.MEdChannel[0]), QByteArray("450.1250"));
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(!w.p2->isEnabled());
    QVERIFY(tool.Wire().empty());
    QCOMPARE(w.EdtModel->text(), QString("NM450"));
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
    InsideExchange(tool, "AAFA1", [&] {
        readEnabledDuringWait = w.btnRead->isEnabled();
        if (action == "SET")
            w.btnSet->click();
        else
            w.Timer1Timer();
    });
    tool.Click(w.btnRead);

    // Neither sends anything nor changes what the window says about the module.
    QVERIFY(!readEnabledDuringWait);
    QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFA1"}));
    QCOMPARE(tool.messages, QStringList{"Operation failed!"});
    QCOMPARE(w.lblStatus->text(), QString("Device Found!"));
    QVERIFY(w.Link->PortIsOpen() && w.DeviceFound);
    QVERIFY(w.btnRead->isEnabled() && w.btnSet->isEnabled() && w.p2->isEnabled());
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
        tool.Click(w.btnOpen);
        clicked = true;
    });
    if (exchange == "AAFA1")
        tool.Click(w.btnRead);
    QTRY_VERIFY_WITH_TIMEOUT(clicked, 5000); // the watch's identify comes within 2 s

    // The CLOSE is carried out once the exchange has ended: the window never claims the module
    // over values it did not read, and the button, the light and the port agree.
    QTRY_COMPARE_WITH_TIMEOUT(w.btnOpen->text(), QString("OPEN"), 3000);
    QTRY_COMPARE(w.lblStatus->text(), QString("Device Not Found!"));
    QVERIFY(!w.Link->PortIsOpen() && !w.PortOpened && !w.DeviceFound);
    QCOMPARE(w.shpLight->BrushColor(), Grey);
    QVERIFY(!w.p2->isEnabled() && !w.btnSet->isEnabled());
    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(Field(w.MEdChannel[0]), QByteArray("450.1250"));
    QTest::qWait(600); // nothing comes back later
    QCOMPARE(w.lblStatus->text(), QString("Device Not Found!"));
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

    tool.Click(w.btnRead);
    QCOMPARE(tool.errors, QStringList{"'abc' is not a valid integer value."});
    QCOMPARE(Field(w.MEdChannel[0]), QByteArray("433.5000"));
    QCOMPARE(w.CbxTxCT->currentIndex(), 11); // tone selectors keep their previous state
    QVERIFY(w.btnRead->isEnabled());
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
    QCOMPARE(w.lblStatus->text(), QString("Device Found!"));
    QCOMPARE(w.btnOpen->text(), QString("CLOSE"));
    QVERIFY(w.btnOpen->isEnabled() && w.btnRead->isEnabled());

    // The module is watched all the same: pulling it out shows at the next tick.
    tool.Unplug();
    QTRY_COMPARE_WITH_TIMEOUT(w.lblStatus->text(), QString("Device Not Found!"), 5000);
    QTRY_COMPARE(w.btnOpen->text(), QString("OPEN"));
}

void TestEndToEnd::setRefusesToneNotInList()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.ForgetWire();

    // Typed text that begins no code leaves the CDCSS selector without an item.
    tool.Click(w.CheckBox2);
    w.CbxTxCD->lineEdit()->selectAll();
    QTest::keyClicks(w.CbxTxCD->lineEdit(), "9");
    QCOMPARE(w.CbxTxCD->currentIndex(), -1);
    tool.Click(w.btnSet);

    QCOMPARE(tool.errors, QStringList{"TX CDCS: \"9\" is not in the list; nothing was sent."});
    QVERIFY(tool.Wire().empty());
    QVERIFY(tool.messages.isEmpty());
    QVERIFY(w.btnSet->isEnabled());
}

void TestEndToEnd::openWithoutDevice()
{
    ToolRig tool;
    TfrmMain &w = tool.window();
    w.cbxComm->setCurrentIndex(6); // COM7: no device behind it
    tool.Click(w.btnOpen);

    QCOMPARE(w.lblStatus->text(), QString("Device Not Found!"));
    QCOMPARE(w.btnOpen->text(), QString("OPEN"));
    QVERIFY(w.cbxComm->isEnabled() && w.btnOpen->isEnabled());
    QCOMPARE(w.shpLight->BrushColor(), Grey);
    QVERIFY(!w.PortOpened && !w.Link->PortIsOpen());
    QVERIFY(tool.messages.isEmpty() && tool.errors.isEmpty());
    // Why, where the user finds it: the status line's tooltip.
    QVERIFY2(w.Panel6->toolTip().startsWith("COM7 (/nonexistent/COM7) could not be opened: ") &&
                 w.Panel6->toolTip().contains("\nThere is no such device."),
             qPrintable(w.Panel6->toolTip()));

    tool.ClickOpen(); // the reason goes with the next OPEN
    QCOMPARE(w.lblStatus->text(), QString("Device Found!"));
    QCOMPARE(w.Panel6->toolTip(), QString());
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
    QCOMPARE(w.lblStatus->text(), QString("Device Not Found!"));
    QCOMPARE(w.btnOpen->text(), QString("OPEN"));
    QVERIFY(tool.Wire().empty());
    QVERIFY2(w.Panel6->toolTip().contains("\nAnother program holds the device"),
             qPrintable(w.Panel6->toolTip()));
    holder.kill();
    holder.waitForFinished();
}

void TestEndToEnd::closingWindowReleasesDevice()
{
    ToolRig tool;
    tool.ClickOpen();
    QVERIFY(tool.window().Link->PortIsOpen());
    tool.CloseWindow();

    // Closed and unlocked: the same device opens again at once.
    QVERIFY(port::OpenDevice("COM5") != nullptr);
}

void TestEndToEnd::closingWindowDuringSetEndsProgram()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.ForgetWire();
    tool.module().SetFaults(LateReplies(200ms));

    // The window manager's close (as the title bar's close button sends it) arrives just before
    // the first notification of the serial component after SET went out: at the wait's end.
    bool closed = false;
    int dialogsShown = 0;
    const EventWatch watch([&](QObject *receiver, QEvent *event) {
        if (event->type() == QEvent::Show && qobject_cast<TfrmMsg *>(receiver))
            ++dialogsShown;
        if (!closed && event->type() >= QEvent::User && !receiver->isWidgetType() &&
            !tool.Wire().empty()) {
            closed = true;
            QCloseEvent close;
            QCoreApplication::sendEvent(w.windowHandle(), &close);
        }
    });
    QTimer::singleShot(0, &w, [&] { tool.Click(w.btnSet); });
    // The program's own loop, as its entry runs it; a program still running ends it with 1.
    QTimer stuck;
    stuck.setSingleShot(true);
    QObject::connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    stuck.start(5000);
    QCOMPARE(QApplication::exec(), 0);

    QVERIFY(closed);
    QCOMPARE(dialogsShown, 0); // SET's message does not show once the window is closed
    QVERIFY(!w.isVisible());
    QCOMPARE(tool.Wire().size(), std::size_t(1));
    // The port is stopped and released with the window.
    tool.CloseWindow();
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

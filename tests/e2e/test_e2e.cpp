// The whole tool against the module simulator: OPEN/CLOSE, the presence watch, READ, SET,
// DEFAULT and "Set Vol ", through real clicks and key presses.

#include "ToolRig.h"

#include "app/FormControls.h"
#include "app/WindowFonts.h"
#include "dialogs/UMsg.h"

#include "serial/UComm.h"
#include "serial/platform/Port.h"
#include "widgets/CircleShape.h"
#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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
    return "AAFA3" + channel1 +
           ",450.1250,451.1250,451.1250,452.1250,452.1250,453.1250,453.1250,"
           "454.1250,454.1250,455.1250,455.1250,456.1250,456.1250,457.1250,457.1250,"
           "458.1250,458.1250,459.1250,459.1250,455.0250,455.0250,455.1250,455.1250,"
           "455.2250,455.2250,455.3250,455.3250,455.4250,455.4250,455.5250,455.5250,"
           "011,125,2\\r\\n";
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
    void setWhileReadWaits();
    void closeWhileExchangeWaits();
    void badToneCodeOnRead();
    void badToneCodeOnOpen();
    void openWithoutDevice();
    void openPortHeldElsewhere();
    void closingWindowReleasesDevice();
};

void TestEndToEnd::openIdentifiesAndReads()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();

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
    TfrmMsg::SetShownHook([&](TfrmMsg &dialog) {
        tool.messages << dialog.lblMsg->text();
        QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFA2"}));
        QTimer::singleShot(0, &w,
                           [&] { defaultEnabledDuringReadBack = w.btnDefault->isEnabled(); });
        dialog.Button1->click();
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

void TestEndToEnd::setWhileReadWaits()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.module().ClearReceivedCommands();
    Faults late;
    late.reply = ReplyFault::Late;
    tool.module().SetFaults(late);

    bool readEnabledDuringWait = true;
    During(100, [&] {
        readEnabledDuringWait = w.btnRead->isEnabled();
        w.btnSet->click();
    });
    tool.Click(w.btnRead);

    QVERIFY(!readEnabledDuringWait);
    QCOMPARE(tool.Wire(), (std::vector<std::string>{"AAFA1"}));
    QCOMPARE(tool.messages, QStringList{"Operation failed!"});
    QVERIFY(w.btnRead->isEnabled() && w.btnSet->isEnabled());
}

void TestEndToEnd::closeWhileExchangeWaits()
{
    ToolRig tool;
    tool.ClickOpen();
    TfrmMain &w = tool.window();
    tool.module().SetRecord(CustomRecord());

    // The reply ends the wait about 100 ms after the command: CLOSE comes before it.
    During(50, [&] { w.btnOpen->click(); });
    tool.Click(w.btnRead);

    // CLOSE could not close during the exchange; it still stopped the watch and showed the
    // defaults, over which the read then showed what it received.
    QVERIFY(w.Link->PortIsOpen());
    QCOMPARE(w.btnOpen->text(), QString("CLOSE"));
    QCOMPARE(w.shpLight->BrushColor(), Green);
    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(w.lblStatus->text(), QString("Device Not Found!"));
    QVERIFY(!w.DeviceFound);
    QVERIFY(!w.p2->isEnabled() && !w.btnSet->isEnabled());
    QVERIFY(w.btnRead->isEnabled());
    QCOMPARE(Field(w.MEdChannel[0]), QByteArray("433.5000"));
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
    QVERIFY(!w.Timer1->isActive());
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

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    InstallWindowFonts(); // as the program entry does, so the fields show all eight characters
    TestEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_e2e.moc"

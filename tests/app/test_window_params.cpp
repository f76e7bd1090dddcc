// The check box pairs, a record shown on the controls (tone codes, squelch, conversion errors)
// and the set command assembled from them, with real clicks and key presses.

#include "WindowTestSupport.h"

#include "dialogs/UMsg.h"
#include "protocol/ParamRecord.h"
#include "tests/support/KnownRecords.h"
#include "widgets/ErrorBox.h"
#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <csignal>

using namespace std::string_literals;

namespace {

// The set command of the start-up window.
using known::DefaultSetCommand;

constexpr std::size_t FrequencyPartEnd = 5 + 16 * 18; // where the tone codes start

ParamRecord DefaultRecord()
{
    ParamRecord record;
    MakeDefaultParams(record);
    return record;
}

// Every channel gets frequencies different from the defaults: 4nn.0100 sent, 4nn.0200 received.
ParamRecord RecordWithOtherFrequencies()
{
    ParamRecord record = DefaultRecord();
    for (int channel = 1; channel <= 16; ++channel) {
        const std::string number = (channel < 10 ? "0" : "") + std::to_string(channel);
        record.SetField(ParamRecord::TxFrequencyPos(channel), "4" + number + ".0100");
        record.SetField(ParamRecord::RxFrequencyPos(channel), "4" + number + ".0200");
    }
    return record;
}

struct PairState
{
    bool box1, box2, box3, box4;
};

QString StateText(const TfrmMain &window)
{
    QString text;
    for (const QCheckBox *box :
         {Control<QCheckBox>(window, "CheckBox1"), Control<QCheckBox>(window, "CheckBox2"),
          Control<QCheckBox>(window, "CheckBox3"), Control<QCheckBox>(window, "CheckBox4")})
        text += box->isChecked() ? QLatin1Char('X') : QLatin1Char('-');
    return text;
}

QCheckBox *Box(TfrmMain &window, int number)
{
    const std::array<QCheckBox *, 4> boxes{
        Control<QCheckBox>(window, "CheckBox1"), Control<QCheckBox>(window, "CheckBox2"),
        Control<QCheckBox>(window, "CheckBox3"), Control<QCheckBox>(window, "CheckBox4")};
    return boxes[static_cast<std::size_t>(number - 1)];
}

void ClickBox(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

// The tone selectors' and the squelch selector's positions with the four boxes, as one text.
QString SelectorState(const TfrmMain &window)
{
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(Control<QComboBox>(window, "CbxTxCT")->currentIndex())
        .arg(Control<QComboBox>(window, "CbxTxCD")->currentIndex())
        .arg(Control<QComboBox>(window, "CbxRxCT")->currentIndex())
        .arg(Control<QComboBox>(window, "CbxRxCD")->currentIndex())
        .arg(Control<QComboBox>(window, "CbxSQ")->currentIndex())
        .arg(StateText(window));
}

// Saves or loads the way a user does: "keys" Ctrl+S / Ctrl+O, "menu" the background's context
// menu, "drop" a file dropped onto the window's background, "drop on <control>" onto a control
// (loading only; saving then uses Ctrl+S). False when the menu did not come up or the window did
// not take the dragged file.
bool FileAction(TfrmMain &window, const QString &route, bool save, const QString &file)
{
    if (route == QLatin1String("menu")) {
        bool shown = false;
        QTimer::singleShot(0, [save, &shown] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!(shown = menu != nullptr))
                return;
            for (int down = save ? 1 : 2; down > 0; --down)
                QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
            if (menu->isVisible())
                menu->close();
        });
        // On a label: the event reaches the window's background through its parents.
        auto *background = window.findChild<QWidget *>(QStringLiteral("Label3"));
        QContextMenuEvent event(QContextMenuEvent::Mouse, {2, 2},
                                background->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(background, &event);
        return shown;
    }
    if (route.startsWith(QLatin1String("drop")) && !save) {
        // As a file manager drags a file: its URL, and the same as text. The platform hands the
        // drag to the window, which passes it to the control under the pointer.
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file)});
        data.setText(QUrl::fromLocalFile(file).toString());
        const QString target = route.section(QLatin1Char(' '), 2);
        const QPoint at = target.isEmpty()
                              ? QPoint(300, 20)
                              : Control<QWidget>(window, target)->mapTo(&window, QPoint(8, 8));
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(window.windowHandle(), &enter);
        QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(window.windowHandle(), &move);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(window.windowHandle(), &drop);
        return drop.isAccepted();
    }
    QTest::keyClick(QApplication::focusWidget(), save ? Qt::Key_S : Qt::Key_O, Qt::ControlModifier);
    return true;
}

} // namespace

class TestWindowParams : public QObject
{
    Q_OBJECT

private slots:
    void init() { window_ = std::make_unique<TfrmMain>(); }
    void cleanup()
    {
        SetErrorBoxHook({});
        TfrmMain::SetFileDialogHook({});
        window_.reset();
    }

    void pairingByClicks_data();
    void pairingByClicks();
    void pairingByProgram_data();
    void pairingByProgram();

    void showToneCode_data();
    void showToneCode();
    void showSquelch_data();
    void showSquelch();
    void showFrequencies();
    void conversionErrorStopsShowing_data();
    void conversionErrorStopsShowing();

    void setCommandAtStart();
    void setCommandAfterTypingSquelch();
    void setCommandAfterTypingIntoChannel1();
    void setCommandToneCodes_data();
    void setCommandToneCodes();
    void setCommandCarriesShortFieldUnchanged();
    void parameterFiles_data();
    void parameterFiles();

private:
    std::unique_ptr<TfrmMain> window_;
};

void TestWindowParams::pairingByClicks_data()
{
    QTest::addColumn<QList<int>>("clicks"); // box numbers, in order
    QTest::addColumn<QString>("boxes");     // CheckBox1..4 afterwards, X checked

    // At start TX CTCS and RX CDCS are checked: "X--X".
    QTest::newRow("TX CTCS") << QList<int>{1} << "-X-X";
    QTest::newRow("TX CDCS") << QList<int>{2} << "-X-X";
    QTest::newRow("TX CTCS twice") << QList<int>{1, 1} << "X--X";
    QTest::newRow("TX CTCS then TX CDCS") << QList<int>{1, 2} << "X--X";
    QTest::newRow("RX CDCS") << QList<int>{4} << "X-X-";
    QTest::newRow("RX CTCS") << QList<int>{3} << "X-X-";
    QTest::newRow("pairs independent") << QList<int>{2, 3, 3} << "-X-X";
}

void TestWindowParams::pairingByClicks()
{
    QFETCH(QList<int>, clicks);
    QFETCH(QString, boxes);

    window_ = MakeShownWindow();
    window_->EnableEditing(true);
    for (const int number : clicks) {
        ClickBox(Box(*window_, number));
        // Never both checked nor both unchecked.
        QVERIFY(Control<QCheckBox>(*window_, "CheckBox1")->isChecked() !=
                Control<QCheckBox>(*window_, "CheckBox2")->isChecked());
        QVERIFY(Control<QCheckBox>(*window_, "CheckBox3")->isChecked() !=
                Control<QCheckBox>(*window_, "CheckBox4")->isChecked());
    }
    QCOMPARE(StateText(*window_), boxes);
}

void TestWindowParams::pairingByProgram_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("boxes");
    QTest::addColumn<int>("toggles"); // state changes seen over all four boxes

    QTest::newRow("uncheck TX CTCS") << 1 << false << "-X-X" << 2;
    QTest::newRow("check TX CDCS") << 2 << true << "-X-X" << 2;
    QTest::newRow("check RX CTCS") << 3 << true << "X-X-" << 2;
    QTest::newRow("uncheck RX CDCS") << 4 << false << "X-X-" << 2;
    // No real change raises nothing.
    QTest::newRow("check checked TX CTCS") << 1 << true << "X--X" << 0;
    QTest::newRow("uncheck unchecked TX CDCS") << 2 << false << "X--X" << 0;
}

void TestWindowParams::pairingByProgram()
{
    QFETCH(int, box);
    QFETCH(bool, checked);
    QFETCH(QString, boxes);
    QFETCH(int, toggles);

    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (int number = 1; number <= 4; ++number)
        spies.push_back(std::make_unique<QSignalSpy>(Box(*window_, number), &QCheckBox::toggled));
    Box(*window_, box)->setChecked(checked); // the editing groups are disabled: no matter
    int seen = 0;
    for (const auto &spy : spies)
        seen += static_cast<int>(spy->count());
    QCOMPARE(StateText(*window_), boxes);
    QCOMPARE(seen, toggles);
}

void TestWindowParams::showToneCode_data()
{
    QTest::addColumn<bool>("transmit");
    QTest::addColumn<QByteArray>("code");    // the record's three bytes
    QTest::addColumn<QString>("selectors");  // see SelectorState
    QTest::addColumn<QString>("shownCtcss"); // text of the direction's CTCSS selector
    QTest::addColumn<QString>("shownCdcss");

    // Before each row: TX CT 7, TX CD 5, RX CT 3, RX CD 9, squelch 4; TX CTCS, RX CDCS checked.
    // The record is the default one with one code changed, so the other direction shows its
    // default (tx 011: CTCSS 11, rx 125: CDCSS 86) and the squelch 2.
    QTest::newRow("tx 038") << true << QByteArray("038") << "38 5 3 86 2 X--X"
                            << "38"
                            << "043I";
    QTest::newRow("tx 039") << true << QByteArray("039") << "7 0 3 86 2 -X-X"
                            << "7 "
                            << "023I";
    QTest::newRow("tx 204") << true << QByteArray("204") << "7 165 3 86 2 -X-X"
                            << "7 "
                            << "754N";
    QTest::newRow("tx 205") << true << QByteArray("205") << "7 -1 3 86 2 -X-X"
                            << "7 "
                            << "";
    QTest::newRow("tx 11 zero") << true << QByteArray("11\0", 3) << "11 5 3 86 2 X--X"
                                << "11 "
                                << "043I";
    QTest::newRow("tx blank 5") << true << QByteArray("  5") << "5 5 3 86 2 X--X"
                                << "5 "
                                << "043I";
    QTest::newRow("rx 038") << false << QByteArray("038") << "11 5 38 9 2 X-X-"
                            << "38 "
                            << "065I";
    QTest::newRow("rx 125") << false << QByteArray("125") << "11 5 3 86 2 X--X"
                            << "3 "
                            << "031N";
    QTest::newRow("rx 205") << false << QByteArray("205") << "11 5 3 -1 2 X--X"
                            << "3 "
                            << "";
}

void TestWindowParams::showToneCode()
{
    QFETCH(bool, transmit);
    QFETCH(QByteArray, code);
    QFETCH(QString, selectors);
    QFETCH(QString, shownCtcss);
    QFETCH(QString, shownCdcss);

    Control<QComboBox>(*window_, "CbxTxCT")->setCurrentIndex(7);
    Control<QComboBox>(*window_, "CbxTxCD")->setCurrentIndex(5);
    Control<QComboBox>(*window_, "CbxRxCT")->setCurrentIndex(3);
    Control<QComboBox>(*window_, "CbxRxCD")->setCurrentIndex(9);
    Control<QComboBox>(*window_, "CbxSQ")->setCurrentIndex(4);

    ParamRecord record = DefaultRecord();
    record.SetField(transmit ? ParamRecord::TxTonePos : ParamRecord::RxTonePos, code.toStdString());
    window_->ShowParams(record);

    QCOMPARE(SelectorState(*window_), selectors);
    QCOMPARE((transmit ? Control<QComboBox>(*window_, "CbxTxCT")
                       : Control<QComboBox>(*window_, "CbxRxCT"))
                 ->currentText(),
             shownCtcss);
    QCOMPARE((transmit ? Control<QComboBox>(*window_, "CbxTxCD")
                       : Control<QComboBox>(*window_, "CbxRxCD"))
                 ->currentText(),
             shownCdcss);
}

void TestWindowParams::showSquelch_data()
{
    QTest::addColumn<QByteArray>("squelch");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("shown");

    QTest::newRow("0") << QByteArray("0") << 0 << "0";
    QTest::newRow("8") << QByteArray("8") << 8 << "8";
    QTest::newRow("9 is past the list") << QByteArray("9") << -1 << "";
}

void TestWindowParams::showSquelch()
{
    QFETCH(QByteArray, squelch);
    QFETCH(int, position);
    QFETCH(QString, shown);

    Control<QComboBox>(*window_, "CbxSQ")->setCurrentIndex(4);
    ParamRecord record = DefaultRecord();
    record.SetField(ParamRecord::SquelchPos, squelch.toStdString());
    window_->ShowParams(record);
    QCOMPARE(Control<QComboBox>(*window_, "CbxSQ")->currentIndex(), position);
    QCOMPARE(Control<QComboBox>(*window_, "CbxSQ")->currentText(), shown);
}

void TestWindowParams::showFrequencies()
{
    // The record's bytes go through the field's fitting: groups right-aligned, blanks to "0",
    // other characters kept, the text cut at a zero byte.
    ParamRecord record = RecordWithOtherFrequencies();
    record.SetField(ParamRecord::TxFrequencyPos(2), " 45.125 ");
    record.SetField(ParamRecord::RxFrequencyPos(3), "4A0.12x5");
    record.SetField(ParamRecord::RxFrequencyPos(16), "45\0.1250"s);
    window_->ShowParams(record);

    QCOMPARE(Control<FrequencyEdit>(*window_, "MEdChannel1")->EditText(), QByteArray("401.0100"));
    QCOMPARE(Control<FrequencyEdit>(*window_, "MEdChannel2")->EditText(), QByteArray("045.1250"));
    QCOMPARE(Control<FrequencyEdit>(*window_, "MEdChannel16")->EditText(), QByteArray("416.0100"));
    QCOMPARE(Control<FrequencyEdit>(*window_, "MEDRChannel1")->EditText(), QByteArray("401.0200"));
    QCOMPARE(Control<FrequencyEdit>(*window_, "MEDRChannel3")->EditText(), QByteArray("4A0.12x5"));
    QCOMPARE(Control<FrequencyEdit>(*window_, "MEDRChannel16")->EditText(), QByteArray("45"));
}

void TestWindowParams::conversionErrorStopsShowing_data()
{
    QTest::addColumn<std::size_t>("field");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<QString>("selectors"); // see SelectorState

    // The record carries tx 039, rx 005 and squelch 6; before it: TX CT 7, TX CD 5, RX CT 3,
    // RX CD 9, squelch 4, TX CTCS and RX CDCS checked.
    QTest::newRow("tx three blanks")
        << ParamRecord::TxTonePos << QByteArray("   ") << "'   ' is not a valid integer value."
        << "7 5 3 9 4 X--X";
    QTest::newRow("tx leading zero byte") << ParamRecord::TxTonePos
                                          << QByteArray("\0"
                                                        "11",
                                                        3)
                                          << "'' is not a valid integer value."
                                          << "7 5 3 9 4 X--X";
    QTest::newRow("tx digits then letter")
        << ParamRecord::TxTonePos << QByteArray("12a") << "'12a' is not a valid integer value."
        << "7 5 3 9 4 X--X";
    QTest::newRow("rx sign") << ParamRecord::RxTonePos << QByteArray("-12")
                             << "'-12' is not a valid integer value."
                             << "7 0 3 9 4 -X-X";
    QTest::newRow("squelch letter")
        << ParamRecord::SquelchPos << QByteArray("x") << "'x' is not a valid integer value."
        << "7 0 5 9 4 -XX-";
}

void TestWindowParams::conversionErrorStopsShowing()
{
    QFETCH(std::size_t, field);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, boxText);
    QFETCH(QString, selectors);

    Control<QComboBox>(*window_, "CbxTxCT")->setCurrentIndex(7);
    Control<QComboBox>(*window_, "CbxTxCD")->setCurrentIndex(5);
    Control<QComboBox>(*window_, "CbxRxCT")->setCurrentIndex(3);
    Control<QComboBox>(*window_, "CbxRxCD")->setCurrentIndex(9);
    Control<QComboBox>(*window_, "CbxSQ")->setCurrentIndex(4);

    ParamRecord record = RecordWithOtherFrequencies();
    record.SetField(ParamRecord::TxTonePos, "039");
    record.SetField(ParamRecord::RxTonePos, "005");
    record.SetField(ParamRecord::SquelchPos, "6");
    record.SetField(field, bytes.toStdString());

    QStringList boxes;
    SetErrorBoxHook([&boxes](const QString &text) { boxes << text; });
    RunGuarded([&] { window_->ShowParams(record); });

    QCOMPARE(boxes, QStringList{boxText});
    // The frequencies are all shown before the first conversion.
    QCOMPARE(Control<FrequencyEdit>(*window_, "MEdChannel1")->EditText(), QByteArray("401.0100"));
    QCOMPARE(Control<FrequencyEdit>(*window_, "MEDRChannel16")->EditText(), QByteArray("416.0200"));
    QCOMPARE(SelectorState(*window_), selectors);
}

void TestWindowParams::setCommandAtStart()
{
    const std::string command = window_->BuildSetCommand();
    QCOMPARE(command, DefaultSetCommand);
    QCOMPARE(command.size(), std::size_t(306));
    QVERIFY(std::none_of(command.begin(), command.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20; }));

    // Clicked, SET refuses them: nothing was read from a module or loaded from a file.
    QStringList boxes, messages;
    SetErrorBoxHook([&boxes](const QString &text) { boxes << text; });
    TfrmMsg::SetShownHook([&messages](TfrmMsg &dialog) {
        messages << dialog.lblMsg->text();
        dialog.done(0);
    });
    const auto unhook = qScopeGuard([] { TfrmMsg::SetShownHook(nullptr); });
    window_->EnableEditing(true);
    Control<QPushButton>(*window_, "btnSet")->click();
    QCOMPARE(boxes, QStringList{"Nothing has been read from the module yet: press READ, or load a "
                                "parameter file, before SET; nothing was sent."});
    QCOMPARE(messages, QStringList());
}

void TestWindowParams::setCommandAfterTypingSquelch()
{
    window_ = MakeShownWindow();
    window_->EnableEditing(true);
    Control<QComboBox>(*window_, "CbxSQ")->setFocus();
    QTRY_COMPARE(FocusedControl(), Control<QComboBox>(*window_, "CbxSQ"));
    Control<QComboBox>(*window_, "CbxSQ")->lineEdit()->selectAll();
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("12"));

    QCOMPARE(Control<QComboBox>(*window_, "CbxSQ")->currentText(), QStringLiteral("12"));
    const std::string command = window_->BuildSetCommand();
    QCOMPARE(command.size(), std::size_t(307));
    QCOMPARE(command.substr(FrequencyPartEnd), "011,125,12\\r\\n"s);
}

void TestWindowParams::setCommandAfterTypingIntoChannel1()
{
    // Tab from DEFAULT enters channel 1 with all eight characters selected; typing 4, 6 first
    // clears the field to zeros.
    window_ = MakeShownWindow();
    window_->EnableEditing(true);
    Control<QPushButton>(*window_, "btnDefault")->setFocus();
    QTRY_COMPARE(FocusedControl(), Control<QPushButton>(*window_, "btnDefault"));
    PressTab();
    QCOMPARE(FocusedControl(), Control<FrequencyEdit>(*window_, "MEdChannel1"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_4);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_6);

    const std::string command = window_->BuildSetCommand();
    QCOMPARE(command.size(), std::size_t(306));
    QCOMPARE(command.substr(0, 32), "AAFA3460.0000,450.1250,451.1250,"s);
    QCOMPARE(command.substr(32), DefaultSetCommand.substr(32));
}

void TestWindowParams::setCommandToneCodes_data()
{
    QTest::addColumn<bool>("transmit");
    QTest::addColumn<bool>("ctcss");   // state of the direction's CTCS box
    QTest::addColumn<int>("position"); // in the list the box chooses
    QTest::addColumn<QString>("tail"); // the command from the tone codes on, or the error

    QTest::newRow("tx CTCSS 5") << true << true << 5 << "005,125,2\\r\\n";
    QTest::newRow("tx CTCSS 38") << true << true << 38 << "038,125,2\\r\\n";
    QTest::newRow("tx CDCSS 0") << true << false << 0 << "039,125,2\\r\\n";
    QTest::newRow("tx CDCSS 165") << true << false << 165 << "204,125,2\\r\\n";
    QTest::newRow("tx CTCSS none")
        << true << true << -1 << "TX CTCS: \"\" is not in the list; nothing was sent";
    QTest::newRow("rx CDCSS none")
        << false << false << -1 << "RX CDCS: \"\" is not in the list; nothing was sent";
    QTest::newRow("rx CTCSS 0") << false << true << 0 << "011,000,2\\r\\n";
    QTest::newRow("rx CDCSS 86") << false << false << 86 << "011,125,2\\r\\n";
    QTest::newRow("rx CDCSS 1") << false << false << 1 << "011,040,2\\r\\n";
}

void TestWindowParams::setCommandToneCodes()
{
    QFETCH(bool, transmit);
    QFETCH(bool, ctcss);
    QFETCH(int, position);
    QFETCH(QString, tail);

    QCheckBox *ctcssBox = transmit ? Control<QCheckBox>(*window_, "CheckBox1")
                                   : Control<QCheckBox>(*window_, "CheckBox3");
    QComboBox *ctcssList = transmit ? Control<QComboBox>(*window_, "CbxTxCT")
                                    : Control<QComboBox>(*window_, "CbxRxCT");
    QComboBox *cdcssList = transmit ? Control<QComboBox>(*window_, "CbxTxCD")
                                    : Control<QComboBox>(*window_, "CbxRxCD");
    ctcssBox->setChecked(ctcss);
    // The list not in force is moved too, to show that it is not read.
    (ctcss ? ctcssList : cdcssList)->setCurrentIndex(position);
    (ctcss ? cdcssList : ctcssList)->setCurrentIndex(3);

    QString result;
    try {
        result = QString::fromStdString(window_->BuildSetCommand().substr(FrequencyPartEnd));
    } catch (const std::exception &error) {
        result = QString::fromStdString(error.what());
    }
    QCOMPARE(result, tail);
}

void TestWindowParams::setCommandCarriesShortFieldUnchanged()
{
    // A written text with a zero byte leaves a shorter field; it is sent as it stands.
    ParamRecord record = DefaultRecord();
    record.SetField(ParamRecord::TxFrequencyPos(1), "45\0.1250"s);
    window_->ShowParams(record);
    const std::string command = window_->BuildSetCommand();
    QCOMPARE(command.size(), std::size_t(300));
    QCOMPARE(command.substr(0, 17), "AAFA345,450.1250,"s);
}

void TestWindowParams::parameterFiles_data()
{
    QTest::addColumn<QString>("route");     // see FileAction
    QTest::addColumn<std::size_t>("field"); // a record field shown with `bytes`; 0 for none
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("fileText"); // loaded; empty: what the window showed, saved
    QTest::addColumn<QString>("error");       // the error box's text begins so; <file> the file

    QTest::newRow("keys") << "keys" << std::size_t(0) << QByteArray() << QByteArray() << "";
    // Saved as site.nmct, which the load's "*.nmct" filter shows.
    QTest::newRow("keys, a name typed without an extension")
        << "keys, typed site" << std::size_t(0) << QByteArray() << QByteArray() << "";
    QTest::newRow("menu") << "menu" << std::size_t(0) << QByteArray() << QByteArray() << "";
    QTest::newRow("drop") << "drop" << std::size_t(0) << QByteArray() << QByteArray() << "";
    // A selector under the pointer never takes the file's path as its text.
    QTest::newRow("drop on the squelch selector")
        << "drop on CbxSQ" << std::size_t(0) << QByteArray() << QByteArray() << "";
    QTest::newRow("load an error")
        << "keys" << std::size_t(0) << QByteArray()
        << QByteArray("format 1\nchannel 1 45O.1250 450.1250\n")
        << "Cannot load <file>; nothing was changed:\nline 2: transmit frequency '45O.1250' is "
           "not a frequency";
    QTest::newRow("drop an error")
        << "drop" << std::size_t(0) << QByteArray() << QByteArray("format 2\n")
        << "Cannot load <file>; nothing was changed:\nline 1: format";
    QTest::newRow("save with a tone selector showing no item")
        << "keys" << ParamRecord::TxTonePos << QByteArray("250") << QByteArray()
        << "TX CDCS: \"\" is not in the list; nothing was saved";
    QTest::newRow("save with a field holding no frequency")
        << "menu" << ParamRecord::RxFrequencyPos(3) << QByteArray("4A0.12x5") << QByteArray()
        << "Channel 3 receive frequency \"4A0.12x5\" is not a frequency; nothing was saved";
    // The file system refuses the write (a file size limit stands in for a full disk).
    QTest::newRow("save refused by the file system keeps the old file")
        << "keys" << std::size_t(0) << QByteArray() << QByteArray()
        << "Cannot save the parameters: <file>: cannot be written, the old file is kept: File too "
           "large";
}

void TestWindowParams::parameterFiles()
{
    QFETCH(QString, route);
    QFETCH(std::size_t, field);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, fileText);
    QFETCH(QString, error);

    window_ = MakeShownWindow();
    window_->EnableEditing(true);                                // as while connected
    Control<FrequencyEdit>(*window_, "MEdChannel1")->setFocus(); // the keys work from a field too
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("site.nmct"));
    QStringList asked;
    TfrmMain::SetFileDialogHook([&](TfrmMain::FileChoice choice) {
        const bool save = choice == TfrmMain::FileChoice::Save;
        asked << (save ? "save" : "load");
        return save && route.endsWith(QLatin1String("typed site")) ? folder.filePath("site") : file;
    });
    QStringList boxes;
    SetErrorBoxHook([&boxes](const QString &text) { boxes << text; });

    // Other frequencies, tones CDCSS 165 out and CTCSS 0 in, squelch 7.
    ParamRecord record = RecordWithOtherFrequencies();
    record.SetField(ParamRecord::TxTonePos, "204");
    record.SetField(ParamRecord::RxTonePos, "000");
    record.SetField(ParamRecord::SquelchPos, "7");
    if (field != 0)
        record.SetField(field, bytes.toStdString());
    window_->ShowParams(record);
    const QString boxesShown = StateText(*window_);

    if (error.startsWith(QLatin1String("Cannot save"))) {
        QFile old(file);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old\n") == 4);
        old.close();
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit full{0, limit.rlim_max};
        const auto signal = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &full) == 0);
        const bool done = FileAction(*window_, route, true, file);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, signal);
        QVERIFY(done);
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].startsWith(QString(error).replace(QStringLiteral("<file>"), file)),
                 qPrintable(boxes[0]));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old\n"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"site.nmct"});
        return;
    }
    if (fileText.isEmpty()) {
        const std::string shown = field == 0 ? window_->BuildSetCommand() : std::string();
        QVERIFY(FileAction(*window_, route, true, file));
        if (!error.isEmpty()) {
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(boxes[0].startsWith(error), qPrintable(boxes[0]));
            QCOMPARE(asked, QStringList{}); // refused before the dialog
            QVERIFY(!QFile::exists(file));
            return;
        }
        window_->LoadDefaults();
        QCOMPARE(window_->BuildSetCommand(), DefaultSetCommand);
        QVERIFY(FileAction(*window_, route, false, file));
        QCOMPARE(boxes, QStringList{});
        QCOMPARE(window_->BuildSetCommand(), shown);
        QCOMPARE(StateText(*window_), boxesShown);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{"site.nmct"});
        return;
    }

    const std::string before = window_->BuildSetCommand();
    QFile written(file);
    QVERIFY(written.open(QIODevice::WriteOnly) && written.write(fileText) == fileText.size());
    written.close();
    QVERIFY(FileAction(*window_, route, false, file));
    QCOMPARE(boxes.size(), 1);
    const QString expected = QString(error).replace(QStringLiteral("<file>"), file);
    QVERIFY2(boxes[0].startsWith(expected), qPrintable(boxes[0]));
    QCOMPARE(window_->BuildSetCommand(), before);
}

int RunWindowParamsTests(int argc, char **argv)
{
    TestWindowParams test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window_params.moc"

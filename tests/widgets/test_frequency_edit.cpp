#include "KeyScript.h"
#include "widgets/Beep.h"
#include "widgets/FrequencyEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

namespace {
// A window with an edit before and after the field, so that the field is entered and left
// with real Tab presses.
struct Form
{
    QWidget window;
    QLineEdit *before = new QLineEdit(&window);
    FrequencyEdit *field = new FrequencyEdit(&window);
    QLineEdit *after = new QLineEdit(&window);

    Form()
    {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(before);
        layout->addWidget(field);
        layout->addWidget(after);
        field->setMinimumWidth(160); // no scrolling, so character positions are stable
        window.show();
        window.activateWindow();
        QApplication::setActiveWindow(&window);
        (void)QTest::qWaitForWindowActive(&window);
        before->setFocus();
    }
};

// The x of the middle of character `index`: the last x that Qt maps to the boundary before it.
int CharacterX(FrequencyEdit &field, int index)
{
    int x = -1;
    for (int probe = 0; probe < field.width(); ++probe) {
        if (field.cursorPositionAt(QPoint(probe, field.height() / 2)) == index)
            x = probe;
    }
    return x;
}

void Enter(Form &form, const QString &how)
{
    if (how == QLatin1String("tab")) {
        QTest::keyClick(form.before, Qt::Key_Tab);
    } else {
        const int index = how.section(u':', 1).toInt();
        const int x = CharacterX(*form.field, index);
        QVERIFY(x >= 0);
        QTest::mouseClick(form.field, Qt::LeftButton, {}, QPoint(x, form.field->height() / 2));
    }
    QVERIFY(form.field->hasFocus());
}

// The caret as (first selected index, selected length); at the end: (8, 0).
std::pair<int, int> Caret(const FrequencyEdit &field)
{
    if (field.hasSelectedText())
        return {field.selectionStart(), int(field.selectedText().size())};
    return {field.cursorPosition(), 0};
}
} // namespace

class TestFrequencyEdit : public QObject
{
    Q_OBJECT

    int beeps_ = 0;

private slots:
    void init()
    {
        beeps_ = 0;
        SetBeepHook([this] { ++beeps_; });
    }
    void cleanup() { SetBeepHook(nullptr); }

    void writing_data()
    {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("shown");
        // clang-format off
        QTest::newRow("in shape") << QByteArray("450.1250") << QByteArray("450.1250");
        QTest::newRow("short integer") << QByteArray("45.1250") << QByteArray("045.1250");
        QTest::newRow("short fraction") << QByteArray("450.125") << QByteArray("450.0125");
        QTest::newRow("long integer") << QByteArray("1450.1250") << QByteArray("450.1250");
        QTest::newRow("long fraction") << QByteArray("450.12345") << QByteArray("450.2345");
        QTest::newRow("blanks") << QByteArray("  1.5   ") << QByteArray("001.5000");
        QTest::newRow("blank inside") << QByteArray("4 0.1 50") << QByteArray("400.1050");
        QTest::newRow("no point") << QByteArray("4501250") << QByteArray("250.0000");
        QTest::newRow("no point, short") << QByteArray("45") << QByteArray("045.0000");
        QTest::newRow("empty") << QByteArray() << QByteArray("000.0000");
        QTest::newRow("point only") << QByteArray(".") << QByteArray("000.0000");
        QTest::newRow("letters kept") << QByteArray("4A0.1x50") << QByteArray("4A0.1x50");
        QTest::newRow("second point kept") << QByteArray("1.2.3") << QByteArray("001.02.3");
        QTest::newRow("8-bit byte") << QByteArray("\xE9.1") << QByteArray("00\xE9.0001");
        QTest::newRow("zero byte last") << QByteArray("450.125\0", 8) << QByteArray("450.125");
        QTest::newRow("zero byte first") << QByteArray("\0" "50.1250", 8) << QByteArray();
        QTest::newRow("zero byte in group") << QByteArray("4\0" "0.1250", 8) << QByteArray("4");
        QTest::newRow("zero byte cut off") << QByteArray("450.1250\0", 9)
                                           << QByteArray("450.250");
        // clang-format on
    }
    void writing()
    {
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, shown);
        FrequencyEdit field;
        field.SetText(written);
        QCOMPARE(field.EditText(), shown);
        QCOMPARE(field.text(), QString::fromLatin1(shown)); // one character per byte
    }

    void editing_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QString>("entry"); // "tab", or "click:N" on character N (0-based)
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QByteArray>("result");
        QTest::addColumn<int>("caret");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("beeps");
        const QByteArray f = "450.1250";
        const QByteArray g = "456.1259";
        // clang-format off
        QTest::newRow("tab, type all") << f << "tab" << "4331250" << QByteArray("433.1250") << 8 << 0 << 0;
        QTest::newRow("tab selects all") << f << "tab" << "" << f << 0 << 8 << 0;
        QTest::newRow("tab clears on first digit") << f << "tab" << "46" << QByteArray("460.0000") << 2 << 1 << 0;
        QTest::newRow("click overwrites") << f << "click:0" << "46" << QByteArray("460.1250") << 2 << 1 << 0;
        QTest::newRow("click on a digit") << f << "click:5" << "" << f << 5 << 1 << 0;
        QTest::newRow("select all, Delete") << f << "click:2" << "<All><Del>" << QByteArray("000.0000") << 0 << 1 << 0;
        QTest::newRow("cleared, then typed") << f << "tab" << "<Del>433" << QByteArray("433.0000") << 4 << 1 << 0;
        QTest::newRow("letter on one") << f << "click:0" << "x" << f << 0 << 1 << 1;
        QTest::newRow("letter after tab") << f << "tab" << "x" << QByteArray("000.0000") << 0 << 1 << 1;
        QTest::newRow("blank refused") << f << "click:1" << " " << f << 1 << 1 << 1;
        QTest::newRow("point jumps") << f << "click:0" << "." << f << 4 << 1 << 0;
        QTest::newRow("point jumps, old digits stay") << f << "click:0" << "9.7" << QByteArray("950.7250") << 5 << 1 << 0;
        QTest::newRow("point after tab") << f << "tab" << "." << QByteArray("000.0000") << 4 << 1 << 0;
        QTest::newRow("point after point") << f << "click:4" << "." << f << 4 << 1 << 1;
        QTest::newRow("typing on the point") << f << "click:3" << "7" << f << 4 << 1 << 0;
        QTest::newRow("typing on the point, then on") << f << "click:3" << "78" << QByteArray("450.8250") << 5 << 1 << 0;
        QTest::newRow("last digit, then end") << f << "click:7" << "99" << QByteArray("450.1259") << 8 << 0 << 0;
        QTest::newRow("Backspace on first") << f << "click:0" << "<BS>" << f << 0 << 1 << 0;
        QTest::newRow("Backspace over point") << g << "click:4" << "<BS>" << QByteArray("450.1259") << 2 << 1 << 0;
        QTest::newRow("Backspace on point") << g << "click:3" << "<BS>" << QByteArray("450.1259") << 2 << 1 << 0;
        QTest::newRow("Backspace at end") << g << "click:2" << "<End><BS>" << QByteArray("456.1250") << 7 << 1 << 0;
        QTest::newRow("Backspace after tab") << g << "tab" << "<BS>" << QByteArray("000.0000") << 0 << 1 << 0;
        QTest::newRow("Delete stays") << g << "click:2" << "<Del><Del>" << QByteArray("450.1259") << 2 << 1 << 0;
        QTest::newRow("Delete on point") << g << "click:3" << "<Del>" << g << 3 << 1 << 0;
        QTest::newRow("Right steps over point") << f << "click:0" << "<Right><Right><Right>9" << QByteArray("450.9250") << 5 << 1 << 0;
        QTest::newRow("Left steps over point") << f << "click:4" << "<Left>9" << QByteArray("459.1250") << 4 << 1 << 0;
        QTest::newRow("Left stops at first") << f << "click:0" << "<Left>" << f << 0 << 1 << 0;
        QTest::newRow("Right stops at end") << f << "click:7" << "<Right><Right>" << f << 8 << 0 << 0;
        QTest::newRow("Left from all") << f << "tab" << "<Left>" << f << 0 << 1 << 0;
        QTest::newRow("Right from all") << f << "tab" << "<Right>" << f << 8 << 0 << 0;
        QTest::newRow("Shift+Right") << g << "click:1" << "<S-Right><Del>" << QByteArray("400.1259") << 1 << 1 << 0;
        QTest::newRow("Shift+Right over point") << g << "click:2" << "<S-Right><Del>" << QByteArray("450.0259") << 2 << 1 << 0;
        QTest::newRow("Shift+Left") << g << "click:5" << "<S-Left><Del>" << QByteArray("456.0059") << 4 << 1 << 0;
        QTest::newRow("Shift+Left twice") << g << "click:5" << "<S-Left><S-Left>" << g << 2 << 4 << 0;
        QTest::newRow("Home") << g << "click:6" << "<Home>9" << QByteArray("956.1259") << 1 << 1 << 0;
        QTest::newRow("End") << g << "click:1" << "<End>5" << g << 8 << 0 << 0;
        QTest::newRow("Shift+End") << g << "click:5" << "<S-End><Del>" << QByteArray("456.1000") << 5 << 1 << 0;
        QTest::newRow("Up and Down") << f << "click:2" << "<Up><Down>" << f << 2 << 1 << 0;
        QTest::newRow("Esc restores") << f << "tab" << "46<Esc>" << f << 0 << 8 << 0;
        QTest::newRow("Esc after clicks") << f << "click:5" << "9<Del><Left>7<Esc>" << f << 0 << 8 << 0;
        QTest::newRow("Esc after a menu and another window") << f << "click:0" << "46<Menu><Window><Esc>" << f << 0 << 8 << 0;
        QTest::newRow("Enter checks, never fails") << f << "tab" << "<Del><Enter>" << QByteArray("000.0000") << 0 << 1 << 0;
        QTest::newRow("short text read as is") << QByteArray("4\0" "0.1250", 8) << "tab" << "" << QByteArray("4") << 0 << 1 << 0;
        QTest::newRow("short text completed by edit") << QByteArray("4\0" "0.1250", 8) << "tab" << "5" << QByteArray("500.0000") << 1 << 1 << 0;
        // clang-format on
    }
    void editing()
    {
        QFETCH(QByteArray, start);
        QFETCH(QString, entry);
        QFETCH(QString, keys);
        QFETCH(QByteArray, result);
        QFETCH(int, caret);
        QFETCH(int, selected);
        QFETCH(int, beeps);
        Form form;
        form.field->SetText(start);
        Enter(form, entry);
        TypeScript(form.field, keys);
        QCOMPARE(form.field->EditText(), result);
        QCOMPARE(Caret(*form.field), std::make_pair(caret, selected));
        QCOMPARE(beeps_, beeps);
    }

    void clipboard_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QByteArray>("result");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("clipboardAfter");
        // clang-format off
        QTest::newRow("paste digits") << "click:0" << "123" << "<Paste>" << QByteArray("123.1250") << 4 << "123";
        QTest::newRow("paste over all") << "tab" << "12" << "<Paste>" << QByteArray("120.0000") << 2 << "12";
        QTest::newRow("paste point") << "click:2" << "9.5" << "<Paste>" << QByteArray("459.5250") << 5 << "9.5";
        QTest::newRow("paste moves on over point") << "click:0" << "4601234" << "<Paste>" << QByteArray("460.1234") << 8 << "4601234";
        QTest::newRow("paste beyond end dropped") << "click:0" << "460.12345678" << "<Paste>" << QByteArray("460.1234") << 8 << "460.12345678";
        QTest::newRow("paste refused to zero") << "click:1" << "a5" << "<Paste>" << QByteArray("405.1250") << 4 << "a5";
        QTest::newRow("paste on point") << "click:3" << ".77" << "<Paste>" << QByteArray("450.7750") << 6 << ".77";
        QTest::newRow("paste at end") << "click:0" << "1" << "<End><Paste>" << QByteArray("450.1250") << 8 << "1";
        QTest::newRow("paste nothing") << "tab" << "" << "<Paste>" << QByteArray("450.1250") << 0 << "";
        QTest::newRow("paste is the undo point") << "click:0" << "1" << "9<Paste><Esc>" << QByteArray("910.1250") << 2 << "1";
        QTest::newRow("cut one") << "click:1" << "" << "<Cut>" << QByteArray("400.1250") << 1 << "5";
        QTest::newRow("cut all") << "tab" << "" << "<Cut>" << QByteArray("000.0000") << 0 << "450.1250";
        QTest::newRow("copy") << "click:6" << "" << "<Copy>" << QByteArray("450.1250") << 6 << "5";
        // clang-format on
    }
    void clipboard()
    {
        QFETCH(QString, entry);
        QFETCH(QString, clipboard);
        QFETCH(QString, keys);
        QFETCH(QByteArray, result);
        QFETCH(int, caret);
        QFETCH(QString, clipboardAfter);
        Form form;
        form.field->SetText("450.1250");
        QGuiApplication::clipboard()->setText(clipboard);
        Enter(form, entry);
        TypeScript(form.field, keys);
        QCOMPARE(form.field->EditText(), result);
        QCOMPARE(Caret(*form.field).first, caret);
        QCOMPARE(QGuiApplication::clipboard()->text(), clipboardAfter);
        QCOMPARE(beeps_, 0);
    }

    void escBringsBackTheLastWrittenText()
    {
        Form form;
        form.field->SetText("450.1250");
        Enter(form, QStringLiteral("tab"));
        TypeScript(form.field, QStringLiteral("9"));
        form.field->SetText("123.4567");
        TypeScript(form.field, QStringLiteral("<Home>8<Esc>"));
        QCOMPARE(form.field->EditText(), QByteArray("123.4567"));
    }

    void leavingKeepsTheContent()
    {
        Form form;
        form.field->SetText("450.1250");
        Enter(form, QStringLiteral("click:0"));
        TypeScript(form.field, QStringLiteral("46<Tab>"));
        QVERIFY(form.after->hasFocus());
        QCOMPARE(form.field->EditText(), QByteArray("460.1250"));
        // Coming back with Shift+Tab makes this the text that Esc returns to.
        QTest::keyClick(form.after, Qt::Key_Backtab, Qt::ShiftModifier);
        TypeScript(form.field, QStringLiteral("1<Esc>"));
        QCOMPARE(form.field->EditText(), QByteArray("460.1250"));
        QCOMPARE(beeps_, 0);
    }
};

QTEST_MAIN(TestFrequencyEdit)
#include "test_frequency_edit.moc"

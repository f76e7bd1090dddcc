// The set command built from arbitrary control contents: written frequency texts, clicks on
// the tone check boxes, selector positions in and out of their lists, and a squelch text that
// is written, typed (with completion) or picked. The oracle assembles the command from what
// the controls show, by the command's layout; when a tone selector in force shows no item, SET
// refuses instead, since no code would match what it shows.
//
// Input: one byte with the check box clicks, four selector position bytes (transmit CTCSS,
// transmit CDCSS, receive CTCSS, receive CDCSS), one squelch byte (mode and position), the
// squelch text (length byte and bytes), then up to 32 frequency texts (length byte and bytes
// each; transmit channels 1-16, then receive 1-16). Missing texts keep the default record's.

#include "fuzz/FuzzSupport.h"
#include "fuzz/WindowSupport.h"

#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <stdexcept>
#include <string>
#include <string_view>

namespace {

// Bits of the first byte: a click on each check box, in order 1 to 4.
void ClickBoxes(TfrmMain &window, std::uint8_t clicks)
{
    QCheckBox *const boxes[] = {
        Control<QCheckBox>(window, "CheckBox1"), Control<QCheckBox>(window, "CheckBox2"),
        Control<QCheckBox>(window, "CheckBox3"), Control<QCheckBox>(window, "CheckBox4")};
    for (int i = 0; i < 4; ++i) {
        if (clicks & (1 << i))
            boxes[i]->click();
    }
}

// A position from one before the list to two past its end.
void Select(QComboBox *box, fuzz::ByteReader &input)
{
    box->setCurrentIndex(input.Below(box->count() + 3) - 1);
}

void TypeText(QComboBox *box, const std::string &text)
{
    for (const char byte : text) {
        const QString character(QChar(char16_t(static_cast<unsigned char>(byte))));
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, character);
        QCoreApplication::sendEvent(box->lineEdit(), &press);
    }
}

void SetSquelch(QComboBox *squelch, fuzz::ByteReader &input)
{
    const std::uint8_t mode = input.Byte();
    const std::string text = input.Text();
    switch (mode % 3) {
    case 0:
        squelch->setEditText(QString::fromLatin1(text));
        break;
    case 1:
        squelch->setEditText({});
        TypeText(squelch, text);
        break;
    default:
        squelch->setCurrentIndex(mode / 3 % (squelch->count() + 3) - 1);
        break;
    }
}

std::string ToneField(const QCheckBox *ctcssBox, const QComboBox *ctcss, const QComboBox *cdcss)
{
    const int code = ctcssBox->isChecked() ? ctcss->currentIndex() : cdcss->currentIndex() + 39;
    std::string text = std::to_string(code);
    while (text.size() < 3)
        text.insert(0, "0");
    return text + ",";
}

bool ShowsNoTone(const QCheckBox *ctcssBox, const QComboBox *ctcss, const QComboBox *cdcss)
{
    return (ctcssBox->isChecked() ? ctcss : cdcss)->currentIndex() < 0;
}

std::string ExpectedCommand(const TfrmMain &w)
{
    std::string command = "AAFA3";
    for (int i = 0; i < TfrmMain::ChannelCount; ++i) {
        command += Control<FrequencyEdit>(w, QStringLiteral("MEdChannel%1").arg(i + 1))
                       ->EditText()
                       .toStdString() +
                   ",";
        command += Control<FrequencyEdit>(w, QStringLiteral("MEDRChannel%1").arg(i + 1))
                       ->EditText()
                       .toStdString() +
                   ",";
    }
    command += ToneField(Control<QCheckBox>(w, "CheckBox1"), Control<QComboBox>(w, "CbxTxCT"),
                         Control<QComboBox>(w, "CbxTxCD"));
    command += ToneField(Control<QCheckBox>(w, "CheckBox3"), Control<QComboBox>(w, "CbxRxCT"),
                         Control<QComboBox>(w, "CbxRxCD"));
    command += Control<QComboBox>(w, "CbxSQ")->currentText().toLatin1().toStdString();
    return command + "\\r\\n";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::Window();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::ByteReader input(data, size);
    TfrmMain &window = fuzz::Window();
    window.LoadDefaults();
    window.EnableEditing(true);

    ClickBoxes(window, input.Byte());
    for (QComboBox *box :
         {Control<QComboBox>(window, "CbxTxCT"), Control<QComboBox>(window, "CbxTxCD"),
          Control<QComboBox>(window, "CbxRxCT"), Control<QComboBox>(window, "CbxRxCD")})
        Select(box, input);
    SetSquelch(Control<QComboBox>(window, "CbxSQ"), input);
    for (int i = 0; i < 2 * TfrmMain::ChannelCount && !input.AtEnd(); ++i) {
        FrequencyEdit *field =
            i < TfrmMain::ChannelCount
                ? Control<FrequencyEdit>(window, QStringLiteral("MEdChannel%1").arg(i + 1))
                : Control<FrequencyEdit>(
                      window, QStringLiteral("MEDRChannel%1").arg(i - TfrmMain::ChannelCount + 1));
        field->SetText(QByteArray::fromStdString(input.Text()));
    }

    FUZZ_CHECK(Control<QCheckBox>(window, "CheckBox1")->isChecked() !=
               Control<QCheckBox>(window, "CheckBox2")->isChecked());
    FUZZ_CHECK(Control<QCheckBox>(window, "CheckBox3")->isChecked() !=
               Control<QCheckBox>(window, "CheckBox4")->isChecked());
    const bool refused =
        ShowsNoTone(Control<QCheckBox>(window, "CheckBox1"), Control<QComboBox>(window, "CbxTxCT"),
                    Control<QComboBox>(window, "CbxTxCD")) ||
        ShowsNoTone(Control<QCheckBox>(window, "CheckBox3"), Control<QComboBox>(window, "CbxRxCT"),
                    Control<QComboBox>(window, "CbxRxCD"));
    try {
        const std::string command = window.BuildSetCommand();
        FUZZ_CHECK(!refused && command == ExpectedCommand(window));
    } catch (const std::runtime_error &error) {
        FUZZ_CHECK(refused && std::string_view(error.what())
                                  .ends_with("is not in the list; nothing "
                                             "was sent"));
    }
    return 0;
}

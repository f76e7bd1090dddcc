// A frequency field given an arbitrary byte string as its text, then worked on by a script of
// keys, clicks and clipboard contents. After the write and after every step the edit text read
// back must keep the field's shape.
//
// Input: a length byte and that many bytes of text to write; then one byte per step. Printable
// bytes and bytes from 0x80 up are typed as characters; bytes below 0x20 pick an editing key,
// a click, a focus change, a new clipboard text or a new written text (Steps below).

#include "fuzz/FuzzSupport.h"
#include "fuzz/WindowSupport.h"

#include "widgets/FrequencyEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <array>

namespace {

constexpr int Length = FrequencyEdit::Length;
constexpr int Point = FrequencyEdit::PointIndex;
const QByteArray EmptyField = QByteArrayLiteral("000.0000");

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsFullShape(const QByteArray &text)
{
    return text.size() == Length && text[Point] == '.';
}

// The content an edit works on: a text cut short by a zero byte is completed from the empty
// field first.
QByteArray Completed(const QByteArray &text)
{
    return text.size() >= Length ? text : text + EmptyField.mid(text.size());
}

FrequencyEdit &Field()
{
    // A field of the real window, so that it has its real font, size and parent.
    static FrequencyEdit *const field = Control<FrequencyEdit>(fuzz::Window(), "MEdChannel1");
    return *field;
}

void CheckReadBack(const FrequencyEdit &field)
{
    const QByteArray text = field.EditText();
    FUZZ_CHECK(text.size() <= Length);
    FUZZ_CHECK(!text.contains('\0'));
    FUZZ_CHECK(field.text() == QString::fromLatin1(text));
    FUZZ_CHECK(field.cursorPosition() >= 0 && field.cursorPosition() <= text.size());
    if (field.hasSelectedText()) {
        FUZZ_CHECK(field.selectionStart() >= 0);
        FUZZ_CHECK(field.selectionEnd() <= text.size());
    }
}

// Writing a text fits it to the shape: at most eight characters, cut at the first zero byte;
// with no zero byte in the way the "." stands at position 4 and no digit position is blank.
void CheckWritten(const QByteArray &written, FrequencyEdit &field)
{
    CheckReadBack(field);
    const QByteArray shown = field.EditText();
    if (!written.contains('\0'))
        FUZZ_CHECK(IsFullShape(shown));
    for (int i = 0; i < shown.size(); ++i) {
        if (i != Point) {
            FUZZ_CHECK(shown[i] != ' ');
            // Nothing is invented: a character is a padding "0" or one of the written ones.
            FUZZ_CHECK(shown[i] == '0' || written.contains(shown[i]));
        }
    }
    // A frequency already in shape is shown as it is, and a shown text written again stays.
    const bool inShape = IsFullShape(written) && std::all_of(written.begin(), written.end(),
                                                             [](char c) { return c != ' '; });
    if (inShape && std::all_of(written.begin(), written.begin() + Point, IsDigit) &&
        std::all_of(written.begin() + Point + 1, written.end(), IsDigit))
        FUZZ_CHECK(shown == written);
    if (shown.size() == Length) {
        field.SetText(shown);
        FUZZ_CHECK(field.EditText() == shown);
    }
}

void SendKey(FrequencyEdit &field, int key, Qt::KeyboardModifiers modifiers,
             const QString &text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(&field, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(&field, &release);
}

void SendFocusIn(FrequencyEdit &field, Qt::FocusReason reason)
{
    QFocusEvent out(QEvent::FocusOut, reason);
    QCoreApplication::sendEvent(&field, &out);
    QFocusEvent in(QEvent::FocusIn, reason);
    QCoreApplication::sendEvent(&field, &in);
}

void SendClick(FrequencyEdit &field, int x, bool twice)
{
    const QPointF at(x % std::max(1, field.width()), field.height() / 2.0);
    const QPointF global = field.mapToGlobal(at);
    auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, global, Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(&field, &event);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
    if (twice) {
        send(QEvent::MouseButtonDblClick, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, Qt::NoButton);
    }
}

// Steps that may bring back an earlier text as a whole; the others only edit.
enum class Kind
{
    Edit,
    Restore,
};

struct Key
{
    int key;
    Qt::KeyboardModifiers modifiers;
    Kind kind;
};

const std::array<Key, 19> Keys{{
    {Qt::Key_Backspace, Qt::NoModifier, Kind::Edit}, {Qt::Key_Delete, Qt::NoModifier, Kind::Edit},
    {Qt::Key_Left, Qt::NoModifier, Kind::Edit},      {Qt::Key_Right, Qt::NoModifier, Kind::Edit},
    {Qt::Key_Left, Qt::ShiftModifier, Kind::Edit},   {Qt::Key_Right, Qt::ShiftModifier, Kind::Edit},
    {Qt::Key_Home, Qt::NoModifier, Kind::Edit},      {Qt::Key_End, Qt::NoModifier, Kind::Edit},
    {Qt::Key_Home, Qt::ShiftModifier, Kind::Edit},   {Qt::Key_End, Qt::ShiftModifier, Kind::Edit},
    {Qt::Key_Escape, Qt::NoModifier, Kind::Restore}, {Qt::Key_Return, Qt::NoModifier, Kind::Edit},
    {Qt::Key_Up, Qt::NoModifier, Kind::Edit},        {Qt::Key_Insert, Qt::NoModifier, Kind::Edit},
    {Qt::Key_A, Qt::ControlModifier, Kind::Edit}, // select all
    {Qt::Key_Z, Qt::ControlModifier, Kind::Restore}, {Qt::Key_X, Qt::ControlModifier, Kind::Edit},
    {Qt::Key_C, Qt::ControlModifier, Kind::Edit},    {Qt::Key_V, Qt::ControlModifier, Kind::Edit},
}};

// The step picked by a byte below 0x20 past the keys above.
enum Step
{
    TabIn = Keys.size(),
    MouseIn,
    Click,
    DoubleClick,
    ClipboardText,
    WriteText,
    StepCount,
};

// Runs one step; tells whether it may have brought back an earlier text as a whole.
Kind RunStep(FrequencyEdit &field, std::uint8_t byte, fuzz::ByteReader &input)
{
    if (byte >= 0x20) {
        const QChar character{char16_t(byte)}; // the byte as a Latin-1 character
        const int key = byte < 0x80 ? int(character.toUpper().unicode()) : int(Qt::Key_unknown);
        SendKey(field, key, Qt::NoModifier, QString(character));
        return Kind::Edit;
    }
    const int step = byte % StepCount;
    if (step < int(Keys.size())) {
        const Key &key = Keys[std::size_t(step)];
        SendKey(field, key.key, key.modifiers);
        return key.kind;
    }
    switch (step) {
    case TabIn:
        SendFocusIn(field, Qt::TabFocusReason);
        return Kind::Restore; // entering sets the point Esc goes back to
    case MouseIn:
        SendFocusIn(field, Qt::MouseFocusReason);
        return Kind::Restore;
    case Click:
        SendClick(field, input.Byte(), false);
        return Kind::Edit;
    case DoubleClick:
        SendClick(field, input.Byte(), true);
        return Kind::Edit;
    case ClipboardText:
        QGuiApplication::clipboard()->setText(QString::fromLatin1(input.Text()));
        return Kind::Edit;
    default: {
        const QByteArray written = QByteArray::fromStdString(input.Text());
        field.SetText(written);
        CheckWritten(written, field);
        return Kind::Restore;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::Window().EnableEditing(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::ByteReader input(data, size);
    FrequencyEdit &field = Field();
    QGuiApplication::clipboard()->clear();

    const QByteArray written = QByteArray::fromStdString(input.Text());
    field.SetText(written);
    CheckWritten(written, field);
    // Every input starts with the caret on the first character, whatever the last one left.
    SendKey(field, Qt::Key_Home, Qt::NoModifier);

    while (!input.AtEnd()) {
        const QByteArray before = field.EditText();
        const Kind kind = RunStep(field, input.Byte(), input);
        CheckReadBack(field);
        if (kind == Kind::Restore)
            continue;
        // An edit keeps the shape, completes a short text to the full shape or leaves it as it
        // was, and puts nothing but digits where it changes a character.
        const QByteArray after = field.EditText();
        if (IsFullShape(before))
            FUZZ_CHECK(IsFullShape(after));
        FUZZ_CHECK(after == before || IsFullShape(after));
        const QByteArray base = Completed(before);
        for (int i = 0; i < after.size(); ++i) {
            if (after[i] != base[i])
                FUZZ_CHECK(i != Point && IsDigit(after[i]));
        }
    }
    return 0;
}

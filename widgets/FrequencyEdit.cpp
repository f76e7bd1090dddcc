#include "widgets/FrequencyEdit.h"

#include "widgets/Beep.h"

#include <QApplication>
#include <QClipboard>

#include <algorithm>

namespace {
constexpr int PointIndex = FrequencyEdit::PointIndex;
constexpr char EmptyDigit = '0';
const QByteArray EmptyField = QByteArrayLiteral("000.0000");

bool IsDigitPosition(int index)
{
    return index != PointIndex;
}
bool IsDigit(QChar character)
{
    return character >= u'0' && character <= u'9';
}

// The caret never rests on the point when moved by the keyboard.
int DigitAtOrAfter(int index)
{
    return index == PointIndex ? index + 1 : index;
}

QByteArray FitGroup(const QByteArray &group, int width)
{
    if (group.size() < width)
        return QByteArray(width - group.size(), '0') + group;
    return group.right(width);
}
} // namespace

FrequencyEdit::FrequencyEdit(QWidget *parent)
    : QLineEdit(parent), text_(EmptyField), undoPoint_(EmptyField)
{
    setFrame(false);
    setMaxLength(Length);
    setAcceptDrops(false);
    setDragEnabled(false);
    // Keys arrive as plain key events; every character goes through TypeCharacter.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    Show();
}

QByteArray FrequencyEdit::EditText() const
{
    return text_;
}

void FrequencyEdit::SetText(const QByteArray &text)
{
    text_ = FitToMask(text);
    undoPoint_ = text_;
    Show();
}

QByteArray FrequencyEdit::FitToMask(const QByteArray &text)
{
    const qsizetype point = text.indexOf('.');
    const QByteArray integerGroup = point < 0 ? text : text.left(point);
    const QByteArray fractionGroup = point < 0 ? QByteArray() : text.mid(point + 1);
    QByteArray fitted =
        FitGroup(integerGroup, PointIndex) + '.' + FitGroup(fractionGroup, Length - PointIndex - 1);
    for (int index = 0; index < Length; ++index) {
        if (IsDigitPosition(index) && fitted[index] == ' ')
            fitted[index] = EmptyDigit;
    }
    // The display takes the text as a zero-terminated string.
    if (const qsizetype zero = fitted.indexOf('\0'); zero >= 0)
        fitted.truncate(zero);
    return fitted;
}

FrequencyEdit::Selection FrequencyEdit::CurrentSelection() const
{
    if (hasSelectedText())
        return {selectionStart(), selectionEnd()};
    return {cursorPosition(), cursorPosition()};
}

void FrequencyEdit::Show()
{
    QLineEdit::setText(QString::fromLatin1(text_));
}

void FrequencyEdit::SetUserText(const QByteArray &text)
{
    if (text == text_)
        return;
    text_ = text;
    Show();
    emit textEdited(QLineEdit::text());
}

void FrequencyEdit::PlaceCaret(int index)
{
    const int length = int(text_.size());
    index = std::clamp(index, 0, length);
    if (index < length)
        setSelection(index, 1); // overwrite mode: the character under the caret is selected
    else
        setCursorPosition(length);
}

void FrequencyEdit::SelectRange(int anchor, int cursor)
{
    const int length = int(text_.size());
    anchor = std::clamp(anchor, 0, length);
    cursor = std::clamp(cursor, 0, length);
    if (anchor == cursor)
        PlaceCaret(anchor);
    else
        setSelection(anchor, cursor - anchor);
}

// A text cut short by a zero byte is shown and read as it is until the user edits it; an edit
// first completes it to the field's full shape, keeping the characters it has.
void FrequencyEdit::PadToFullLength()
{
    if (text_.size() < Length)
        SetUserText(text_ + EmptyField.mid(text_.size()));
}

int FrequencyEdit::ClearSelectionToZeros(Selection selection)
{
    PadToFullLength();
    QByteArray cleared = text_;
    for (int index = selection.start; index < std::min(selection.end, Length); ++index) {
        if (IsDigitPosition(index))
            cleared[index] = EmptyDigit;
    }
    SetUserText(cleared);
    const int caret = DigitAtOrAfter(selection.start);
    PlaceCaret(caret);
    return caret;
}

void FrequencyEdit::TypeCharacter(QChar character)
{
    const Selection selection = CurrentSelection();
    const int caret =
        selection.end - selection.start > 1 ? ClearSelectionToZeros(selection) : selection.start;
    if (caret >= Length)
        return; // at the end of the field typing has no effect
    if (caret == PointIndex) {
        PlaceCaret(PointIndex + 1); // the point stays; the character is not stored
        return;
    }
    if (IsDigit(character)) {
        PadToFullLength();
        QByteArray typed = text_;
        typed[caret] = char(character.unicode());
        SetUserText(typed);
        PlaceCaret(DigitAtOrAfter(caret + 1));
        return;
    }
    if (character == u'.' && caret < PointIndex) {
        PlaceCaret(PointIndex + 1);
        return;
    }
    Beep();
}

void FrequencyEdit::DeleteForward()
{
    const Selection selection = CurrentSelection();
    if (selection.end - selection.start > 1) {
        ClearSelectionToZeros(selection);
        return;
    }
    const int caret = selection.start;
    if (caret >= text_.size() || !IsDigitPosition(caret))
        return;
    PadToFullLength();
    QByteArray deleted = text_;
    deleted[caret] = EmptyDigit;
    SetUserText(deleted);
    PlaceCaret(caret);
}

void FrequencyEdit::DeleteBackward()
{
    const Selection selection = CurrentSelection();
    if (selection.end - selection.start > 1) {
        ClearSelectionToZeros(selection);
        return;
    }
    if (selection.start == 0)
        return;
    int previous = selection.start - 1;
    if (!IsDigitPosition(previous))
        --previous;
    PadToFullLength();
    QByteArray deleted = text_;
    deleted[previous] = EmptyDigit;
    SetUserText(deleted);
    PlaceCaret(previous);
}

void FrequencyEdit::MoveCaret(int direction, bool extend)
{
    const int length = int(text_.size());
    const Selection selection = CurrentSelection();
    const bool several = selection.end - selection.start > 1;
    if (!extend) {
        if (several) {
            PlaceCaret(DigitAtOrAfter(direction < 0 ? selection.start : selection.end));
            return;
        }
        int caret = selection.start + direction;
        if (caret == PointIndex)
            caret += direction;
        PlaceCaret(std::clamp(caret, 0, length));
        return;
    }
    // A lone caret widens to take in the next character on the side of the move.
    int anchor = 0;
    int cursor = 0;
    if (several) {
        cursor = cursorPosition();
        anchor = cursor == selection.start ? selection.end : selection.start;
    } else {
        anchor = direction < 0 ? std::min(selection.start + 1, length) : selection.start;
        cursor = direction < 0 ? anchor - 1 : std::min(anchor + 1, length);
    }
    cursor += direction;
    // Stepping over the point takes the digit beyond it as well.
    if ((direction > 0 && cursor == PointIndex + 1) || (direction < 0 && cursor == PointIndex))
        cursor += direction;
    SelectRange(anchor, std::clamp(cursor, 0, length));
}

void FrequencyEdit::MoveTo(int index, bool extend)
{
    if (!extend) {
        PlaceCaret(index);
        return;
    }
    const Selection selection = CurrentSelection();
    int anchor = 0;
    if (selection.end - selection.start > 1)
        anchor = cursorPosition() == selection.start ? selection.end : selection.start;
    else
        anchor = index < selection.start ? std::min(selection.start + 1, int(text_.size()))
                                         : selection.start;
    SelectRange(anchor, index);
}

void FrequencyEdit::CopyToClipboard() const
{
    if (hasSelectedText())
        QGuiApplication::clipboard()->setText(selectedText());
}

void FrequencyEdit::CutToClipboard()
{
    if (!hasSelectedText())
        return;
    CopyToClipboard();
    DeleteForward();
}

void FrequencyEdit::PasteFromClipboard()
{
    const QString pasted = QGuiApplication::clipboard()->text();
    const Selection selection = CurrentSelection();
    if (pasted.isEmpty() || selection.start >= Length)
        return;
    PadToFullLength();
    QByteArray result = text_;
    for (int index = selection.start; index < std::max(selection.end, selection.start + 1);
         ++index) {
        if (index < Length && IsDigitPosition(index))
            result[index] = EmptyDigit;
    }
    int position = selection.start;
    for (const QChar character : pasted) {
        if (position >= Length)
            break; // beyond the field: dropped
        if (position == PointIndex) {
            ++position;
            if (character == u'.')
                continue; // taken as the point itself
        }
        result[position++] = IsDigit(character) ? char(character.unicode()) : EmptyDigit;
    }
    SetUserText(result);
    undoPoint_ = text_; // a paste sets the text as a whole
    PlaceCaret(DigitAtOrAfter(position));
}

bool FrequencyEdit::RestoreUndoPoint()
{
    if (text_ == undoPoint_)
        return false;
    SetUserText(undoPoint_);
    setSelection(0, int(text_.size()));
    return true;
}

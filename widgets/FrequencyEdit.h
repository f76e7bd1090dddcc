#pragma once

#include <QByteArray>
#include <QLineEdit>

// A frequency field with the fixed shape "ddd.dddd": three digits, a fixed point, four digits.
// Every digit is optional and an empty digit shows (and reads back) as "0". It works in
// overwrite mode: the caret stands on one character, shown selected; only at the end of the
// field is nothing selected. Characters are 8-bit bytes, shown through Latin-1.
//
// QLineEdit::inputMask is not used: it neither fits a written text with right-aligned groups
// nor clears a selection to zeros the way this field does, so all editing is done here and
// QLineEdit only displays the characters and the selection.
//
// FrequencyEdit.cpp holds the editing rules: fitting a text to the shape, the caret, typing,
// deleting, the clipboard and undo. FrequencyEditEvents.cpp turns Qt's key, focus, mouse, menu
// and input-method events into those rules.
class FrequencyEdit : public QLineEdit
{
    Q_OBJECT

public:
    static constexpr int Length = 8;
    static constexpr int PointIndex = 3; // 0-based index of the fixed "."

    explicit FrequencyEdit(QWidget *parent = nullptr);

    // The characters as displayed; normally eight, fewer after a written text with a zero byte.
    QByteArray EditText() const;
    // Fits `text` to the field's shape (groups right-aligned, blanks to "0", other characters
    // kept), cuts the result at its first zero byte, shows it, and makes it the point that Esc
    // returns to.
    void SetText(const QByteArray &text);

    // The fitting alone, without showing anything.
    static QByteArray FitToMask(const QByteArray &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    // QLineEdit's own editing calls would bypass the field's rules and its byte text.
    using QLineEdit::backspace;
    using QLineEdit::clear;
    using QLineEdit::cut;
    using QLineEdit::del;
    using QLineEdit::insert;
    using QLineEdit::paste;
    using QLineEdit::redo;
    using QLineEdit::setText;
    using QLineEdit::undo;

    struct Selection
    {
        int start = 0; // first selected index
        int end = 0;   // one past the last selected index; start == end: nothing selected
    };

    Selection CurrentSelection() const;
    void Show();
    void PlaceCaret(int index);
    void SelectRange(int anchor, int cursor);
    void PadToFullLength();
    int ClearSelectionToZeros(Selection selection);

    void TypeCharacter(QChar character);
    void DeleteForward();
    void DeleteBackward();
    void MoveCaret(int direction, bool extend);
    void MoveTo(int index, bool extend);
    void CutToClipboard();
    void CopyToClipboard() const;
    void PasteFromClipboard();
    bool RestoreUndoPoint();
    void SetUserText(const QByteArray &text);

    QByteArray text_;      // the displayed characters
    QByteArray undoPoint_; // what Esc brings back
};

// How Qt's events reach the field: keys, focus, mouse, the context menu and the input method,
// each turned into the field's own editing rules (FrequencyEdit.cpp) so that none of QLineEdit's
// own editing slips past them.

#include "widgets/FrequencyEdit.h"
#include "widgets/TypedCharacter.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>

#include <algorithm>

void FrequencyEdit::keyPressEvent(QKeyEvent *event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    event->accept();
    if (event->matches(QKeySequence::Cut)) {
        CutToClipboard();
    } else if (event->matches(QKeySequence::Copy)) {
        CopyToClipboard();
    } else if (event->matches(QKeySequence::Paste)) {
        PasteFromClipboard();
    } else if (event->matches(QKeySequence::SelectAll)) {
        setSelection(0, int(text_.size()));
    } else if (event->matches(QKeySequence::Undo)) {
        RestoreUndoPoint();
    } else {
        switch (event->key()) {
        case Qt::Key_Escape:
            if (!RestoreUndoPoint())
                event->ignore(); // nothing to undo: let a dialog see the key
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // The check of the content accepts every content; the key goes on to the parent.
            emit returnPressed();
            emit editingFinished();
            event->ignore();
            break;
        case Qt::Key_Backspace:
            DeleteBackward();
            break;
        case Qt::Key_Delete:
            DeleteForward();
            break;
        case Qt::Key_Left:
        case Qt::Key_Right:
            MoveCaret(event->key() == Qt::Key_Left ? -1 : 1, shift);
            break;
        case Qt::Key_Home:
            MoveTo(0, shift);
            break;
        case Qt::Key_End:
            MoveTo(int(text_.size()), shift);
            break;
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Insert:
            break; // the field has one line and is always in overwrite mode
        default:
            if (IsTypedCharacter(*event)) {
                for (const QChar character : event->text())
                    TypeCharacter(character);
            } else {
                event->ignore();
            }
        }
    }
}

void FrequencyEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    const Qt::FocusReason reason = event->reason();
    // Focus coming back from a menu or from another application is not a new entry.
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason)
        return;
    undoPoint_ = text_;
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
        reason == Qt::ShortcutFocusReason)
        setSelection(0, int(text_.size()));
}

void FrequencyEdit::mousePressEvent(QMouseEvent *event)
{
    QLineEdit::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || hasSelectedText())
        return;
    // Qt puts the cursor on the nearest character boundary; the caret goes onto the character
    // that was clicked, the one to the left of that boundary when the click was on its half.
    const int boundary = cursorPosition();
    const bool leftOfBoundary = event->position().x() < cursorRect().center().x();
    PlaceCaret(leftOfBoundary && boundary > 0 ? boundary - 1 : boundary);
}

void FrequencyEdit::mouseReleaseEvent(QMouseEvent *event)
{
    // A middle click would insert the selection clipboard past the field's rules.
    if (event->button() == Qt::MiddleButton) {
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
    if (!hasSelectedText())
        PlaceCaret(cursorPosition());
}

void FrequencyEdit::mouseDoubleClickEvent(QMouseEvent *event)
{
    QLineEdit::mouseDoubleClickEvent(event);
    if (!hasSelectedText())
        PlaceCaret(cursorPosition());
}

void FrequencyEdit::contextMenuEvent(QContextMenuEvent *event)
{
    // QLineEdit's own menu edits the text directly; this one goes through the field's rules.
    QPointer<FrequencyEdit> self(this);
    QMenu menu;
    const bool selected = hasSelectedText();
    menu.addAction(tr("&Undo"), this, [this] { RestoreUndoPoint(); })
        ->setEnabled(text_ != undoPoint_);
    menu.addSeparator();
    menu.addAction(tr("Cu&t"), this, [this] { CutToClipboard(); })->setEnabled(selected);
    menu.addAction(tr("&Copy"), this, [this] { CopyToClipboard(); })->setEnabled(selected);
    menu.addAction(tr("&Paste"), this, [this] { PasteFromClipboard(); })
        ->setEnabled(!QGuiApplication::clipboard()->text().isEmpty());
    menu.addAction(tr("Delete"), this, [this] { DeleteForward(); })->setEnabled(selected);
    menu.addSeparator();
    menu.addAction(tr("Select All"), this, [this] { setSelection(0, int(text_.size())); });
    menu.exec(event->globalPos());
    if (self)
        event->accept();
}

void FrequencyEdit::inputMethodEvent(QInputMethodEvent *event)
{
    for (const QChar character : event->commitString())
        TypeCharacter(character);
    event->accept();
}

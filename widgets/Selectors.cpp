#include "widgets/Selectors.h"
#include "widgets/TypedCharacter.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <utility>

namespace {
std::chrono::milliseconds SteadyNow()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}
} // namespace

int FindFirstItemStartingWith(const QComboBox &box, const QString &prefix)
{
    if (prefix.isEmpty())
        return -1;
    for (int row = 0; row < box.count(); ++row) {
        if (box.itemText(row).startsWith(prefix, Qt::CaseInsensitive))
            return row;
    }
    return -1;
}

// The edit part of a CompletingComboBox: it tells typed characters apart from other edits, so
// that only typing completes the text.
class CompletingLineEdit : public QLineEdit
{
public:
    explicit CompletingLineEdit(CompletingComboBox *owner) : QLineEdit(owner), owner_(owner)
    {
        // Edits that come without a key (paste or cut from the context menu) still select.
        connect(this, &QLineEdit::textEdited, this, [this] {
            if (!inKeyPress_)
                owner_->SelectItemForText();
        });
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const QString before = text();
        const bool typing = IsTypedCharacter(*event);
        inKeyPress_ = true;
        QLineEdit::keyPressEvent(event);
        inKeyPress_ = false;
        if (text() == before)
            return;
        if (typing && cursorPosition() == text().size())
            owner_->CompleteTypedText();
        else
            owner_->SelectItemForText();
    }

private:
    CompletingComboBox *owner_;
    bool inKeyPress_ = false;
};

CompletingComboBox::CompletingComboBox(QWidget *parent) : QComboBox(parent)
{
    setLineEdit(new CompletingLineEdit(this));
    // Qt's completer keeps the typed letter case and selects only on Enter; ours does neither.
    setCompleter(nullptr);
    setInsertPolicy(QComboBox::NoInsert);
}

void CompletingComboBox::CompleteTypedText()
{
    QLineEdit *edit = lineEdit();
    const QString typed = edit->text();
    const int row = FindFirstItemStartingWith(*this, typed);
    if (row < 0) {
        SelectItemForText();
        return;
    }
    const QString item = itemText(row);
    edit->setText(item);
    // The item's text is already shown, so the combo box leaves the edit part alone.
    setCurrentIndex(row);
    edit->setSelection(int(typed.size()), int(item.size() - typed.size()));
}

void CompletingComboBox::SelectItemForText()
{
    QLineEdit *edit = lineEdit();
    const QString shown = edit->text();
    const int cursor = edit->cursorPosition();
    const int selectionStart = edit->selectionStart();
    const int selectionLength = int(edit->selectedText().size());
    const int row = FindFirstItemStartingWith(*this, shown);
    if (row == currentIndex())
        return;
    {
        // Selecting an item rewrites the edit part; the user's text stays as it is.
        const QSignalBlocker blocker(edit);
        setCurrentIndex(row);
        edit->setText(shown);
        if (selectionLength > 0 && selectionStart == cursor)
            edit->setSelection(selectionStart + selectionLength, -selectionLength);
        else if (selectionLength > 0)
            edit->setSelection(selectionStart, selectionLength);
        else
            edit->setCursorPosition(cursor);
    }
}

PortComboBox::PortComboBox(QWidget *parent) : QComboBox(parent), clock_(SteadyNow)
{
    setEditable(false);
    view()->installEventFilter(this);
}

void PortComboBox::SetClock(Clock clock)
{
    clock_ = clock ? std::move(clock) : Clock(SteadyNow);
}

int PortComboBox::Search(const QString &text)
{
    const std::chrono::milliseconds now = clock_();
    if (!searching_ || now - lastKey_ >= SearchInterval)
        searchText_.clear();
    searching_ = true;
    lastKey_ = now;
    searchText_ += text;
    return FindFirstItemStartingWith(*this, searchText_);
}

void PortComboBox::keyPressEvent(QKeyEvent *event)
{
    // Qt's own search starts below the current row and would find "COM10" before "COM1".
    if (!IsTypedCharacter(*event) || event->text() == QStringLiteral(" ")) {
        QComboBox::keyPressEvent(event);
        return;
    }
    event->accept();
    const int row = Search(event->text());
    if (row < 0 || row == currentIndex())
        return;
    setCurrentIndex(row);
    emit activated(row);
    emit textActivated(itemText(row));
}

bool PortComboBox::eventFilter(QObject *watched, QEvent *event)
{
    // The open list searches the same way, moving its highlight; Enter then takes the row.
    if (watched == view() && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (IsTypedCharacter(*key) && key->text() != QStringLiteral(" ")) {
            const int row = Search(key->text());
            if (row >= 0)
                view()->setCurrentIndex(model()->index(row, modelColumn(), rootModelIndex()));
            return true;
        }
    }
    return QComboBox::eventFilter(watched, event);
}

void PortComboBox::paintEvent(QPaintEvent *)
{
    // The styles draw a selection-only selector as a raised button; this one is a flat box.
    QPainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.fillRect(rect(), palette().color(QPalette::Base));

    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    QColor textColour = palette().color(QPalette::Text);
    if (hasFocus() && !view()->isVisible()) {
        painter.fillRect(field, palette().color(QPalette::Highlight));
        textColour = palette().color(QPalette::HighlightedText);
    }
    painter.setPen(textColour);
    painter.drawText(field.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, currentText());

    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, this);
    style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &arrow, &painter, this);
}

void PortComboBox::changeEvent(QEvent *event)
{
    // The list is a window of its own and does not inherit the box's colours; some styles draw
    // its items as menu entries, on the Window colour.
    if (event->type() == QEvent::PaletteChange) {
        QPalette colours = view()->palette();
        colours.setColor(QPalette::Base, palette().color(QPalette::Base));
        colours.setColor(QPalette::Window, palette().color(QPalette::Base));
        view()->setPalette(colours);
    }
    QComboBox::changeEvent(event);
}

#pragma once

#include <QComboBox>

#include <chrono>
#include <functional>

// Index of the first item of `box` from the top whose text begins with `prefix`, letter case
// ignored; -1 when none does or `prefix` is empty.
int FindFirstItemStartingWith(const QComboBox &box, const QString &prefix);

// An editable selector. Each typed character selects, at once, the first item that begins with
// the text typed so far (case ignored) and completes the shown text with the rest of that item,
// the completion selected. A text that begins no item is kept as typed and leaves no item
// selected (currentIndex -1), so the selected position never disagrees with the shown text.
class CompletingComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit CompletingComboBox(QWidget *parent = nullptr);

private:
    friend class CompletingLineEdit;
    void CompleteTypedText();
    void SelectItemForText();
};

// A selection-only selector with a keyboard search: keys typed less than SearchIntervalMs after
// the previous one extend the search text, a longer pause starts a new one, and the first item
// from the top that begins with the search text (case ignored) is selected. It is drawn flat:
// its box and its list filled with the palette's Base colour, no bevel, no gradient.
class PortComboBox : public QComboBox
{
    Q_OBJECT

public:
    using Clock = std::function<std::chrono::milliseconds()>;
    static constexpr std::chrono::milliseconds SearchInterval{500};

    explicit PortComboBox(QWidget *parent = nullptr);

    // Test seam: replaces the monotonic clock that times the pauses between keys.
    void SetClock(Clock clock);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Adds `text` to the search text (or starts anew after a pause); returns the matching row.
    int Search(const QString &text);

    Clock clock_;
    QString searchText_;
    std::chrono::milliseconds lastKey_{0};
    bool searching_ = false;
};

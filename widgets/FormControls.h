#pragma once
// Two small controls the window needs that Qt lacks: a panel with the classic bevels and a
// label that reacts to a click.

#include <QLabel>
#include <QWidget>

// A panel filled with its colour, with an optional outer and inner bevel of one pixel each.
// Its children are placed relative to its top-left corner, the bevels included.
class BevelPanel : public QWidget
{
    Q_OBJECT

public:
    enum class Bevel
    {
        None,
        Lowered,
        Raised
    };

    BevelPanel(QWidget *parent, const QColor &color, Bevel outer, Bevel inner);

    Bevel OuterBevel() const { return outer_; }
    Bevel InnerBevel() const { return inner_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Bevel outer_;
    Bevel inner_;
};

// A label that emits clicked() when the left mouse button is pressed and released on it.
class ClickLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool pressed_ = false;
};

#pragma once

#include <QColor>
#include <QWidget>

// Paints the largest circle that fits its box, centred in it: a filled disc with an outline
// of PenWidth pixels drawn inside the circle's edge. A pen width of 0 draws no outline.
class CircleShape : public QWidget
{
    Q_OBJECT

public:
    explicit CircleShape(QWidget *parent = nullptr);

    QColor BrushColor() const { return brushColor_; }
    void SetBrushColor(const QColor &color);
    QColor PenColor() const { return penColor_; }
    void SetPenColor(const QColor &color);
    int PenWidth() const { return penWidth_; }
    void SetPenWidth(int width);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor brushColor_{Qt::white};
    QColor penColor_{Qt::black};
    int penWidth_ = 1;
};

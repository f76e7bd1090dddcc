#include "widgets/CircleShape.h"

#include <QPainter>

#include <algorithm>

CircleShape::CircleShape(QWidget *parent) : QWidget(parent) {}

void CircleShape::SetBrushColor(const QColor &color)
{
    if (color == brushColor_)
        return;
    brushColor_ = color;
    update();
}

void CircleShape::SetPenColor(const QColor &color)
{
    if (color == penColor_)
        return;
    penColor_ = color;
    update();
}

void CircleShape::SetPenWidth(int width)
{
    width = std::max(width, 0);
    if (width == penWidth_)
        return;
    penWidth_ = width;
    update();
}

void CircleShape::paintEvent(QPaintEvent *)
{
    const qreal diameter = std::min(width(), height());
    if (diameter <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (penWidth_ > 0) {
        QPen pen(penColor_, penWidth_);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
    } else {
        painter.setPen(Qt::NoPen);
    }
    painter.setBrush(brushColor_);
    // The stroke is centred on the path, so the path runs half a pen inside the edge.
    const qreal radius = std::max<qreal>(diameter / 2 - qreal(penWidth_) / 2, 0);
    painter.drawEllipse(QRectF(rect()).center(), radius, radius);
}

#include "widgets/FormControls.h"

#include <QMouseEvent>
#include <QPainter>

BevelPanel::BevelPanel(QWidget *parent, const QColor &color, Bevel outer, Bevel inner)
    : QWidget(parent), outer_(outer), inner_(inner)
{
    QPalette colours = palette();
    colours.setColor(QPalette::Window, color);
    setPalette(colours);
    setAutoFillBackground(true);
}

void BevelPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QRect edge = rect().adjusted(0, 0, -1, -1);
    for (const Bevel bevel : {outer_, inner_}) {
        if (bevel == Bevel::None)
            continue;
        // A lowered bevel is shadowed at the top and left, lit at the bottom and right.
        const QColor shadow = palette().color(QPalette::Dark);
        const QColor light = palette().color(QPalette::Light);
        const QColor &topLeft = bevel == Bevel::Lowered ? shadow : light;
        const QColor &bottomRight = bevel == Bevel::Lowered ? light : shadow;
        painter.setPen(topLeft);
        painter.drawLine(edge.topLeft(), edge.topRight());
        painter.drawLine(edge.topLeft(), edge.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(edge.bottomLeft(), edge.bottomRight());
        painter.drawLine(edge.topRight(), edge.bottomRight());
        edge.adjust(1, 1, -1, -1);
    }
}

void ClickLabel::mousePressEvent(QMouseEvent *event)
{
    pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}

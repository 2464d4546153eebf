#include "controls/FocusRingStyle.h"

#include <QPainter>
#include <QStyleOption>

void drawFocusRing(QPainter *painter, const QRect &rect)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setBrush(Qt::NoBrush);
    QPen pen(QColor::fromRgb(focusRingOuterRgb));
    pen.setWidth(1);
    for (int inset = 0; inset < 3; ++inset) {
        pen.setColor(QColor::fromRgb(inset < 2 ? focusRingOuterRgb : focusRingInnerRgb));
        painter->setPen(pen);
        painter->drawRect(rect.adjusted(inset, inset, -inset - 1, -inset - 1));
    }
    painter->restore();
}

void FocusRingStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                                 const QWidget *widget) const
{
    QProxyStyle::drawControl(element, option, painter, widget);
    if (element == CE_PushButton && (option->state & State_HasFocus))
        drawFocusRing(painter, option->rect);
}

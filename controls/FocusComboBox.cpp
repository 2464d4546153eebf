#include "controls/FocusComboBox.h"

#include "controls/FocusRingStyle.h"

#include <QPainter>

void FocusComboBox::paintEvent(QPaintEvent *event)
{
    QComboBox::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(this);
        drawFocusRing(&painter, rect());
    }
}

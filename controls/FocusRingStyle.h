#pragma once

#include <QProxyStyle>

// A focus ring that can be seen: a 2 px yellow ring with a black line inside
// it around the control that has the focus, drawn whenever it has it (the
// style's own thin frame appears only after Tab has been pressed).
void drawFocusRing(QPainter *painter, const QRect &rect);

// The application's style with that ring around a focused push button. Set
// on the buttons that the keyboard works (the mode list draws its own, see
// FocusComboBox).
class FocusRingStyle : public QProxyStyle
{
    Q_OBJECT

public:
    FocusRingStyle() = default;

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override;
};

// Colours of the ring: yellow stands out on the window's black strips, the
// black line inside it on a light control.
inline constexpr quint32 focusRingOuterRgb = 0xffffd400;
inline constexpr quint32 focusRingInnerRgb = 0xff000000;

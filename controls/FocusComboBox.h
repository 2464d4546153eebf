#pragma once

#include <QComboBox>

// A combo box that draws the focus ring (drawFocusRing) itself while it has
// the focus. Given the ring through setStyle(), as the buttons are, it would
// have Qt build its drop-down list at once, before the window's first frame
// (a style change asks for the list's item delegate): a list view with its
// frame and scroll bars, over half a megabyte that now waits until the list
// is first opened.
class FocusComboBox : public QComboBox
{
    Q_OBJECT

public:
    using QComboBox::QComboBox;

protected:
    void paintEvent(QPaintEvent *event) override;
};

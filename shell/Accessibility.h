#pragma once

#include <QAccessible>

class QLabel;
class QString;
class QWidget;

// Shows text in a label whose text is a value that changes while the player
// watches (the answer, a score, a statistic). Its accessible name becomes
// its caption, which the window definition keeps in the label's "caption"
// property, followed by the text ("答え 5"), and exactly one NameChanged
// event announces it, also when the text repeats the last one.
void showSpokenText(QLabel *label, const QString &text);

// Presents the widget to screen readers as a plain widget of the given role
// instead of what Qt makes of its class: a message box of good news as a
// dialog rather than an alert, a gauge as a progress bar without a value
// (which a screen reader would otherwise read out at every step). Call it
// before the widget is first shown or asked about.
void setAccessibleRole(QWidget *widget, QAccessible::Role role);

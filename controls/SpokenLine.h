#pragma once

#include <QString>
#include <QWidget>

// An unseen line of a focused control that a screen reader says each time
// it is given one: the next question, the time left, the mode chosen by Up
// or Down. Qt 6.4 sends a name or description change without its text and
// gives a combo box no selection interface, so Orca says none of those;
// what it does say is text put into an editable part of the focused
// control, as with an editable combo box, when it is the part's selection.
//
// To the screen reader the line is an editable text, never focused, whose
// whole text is selected; it is no child in the control's tree, so Orca
// never moves to it, and on screen it is nothing.
class SpokenLine : public QWidget
{
    Q_OBJECT

public:
    explicit SpokenLine(QWidget *control);

    // Replaces the line and has it said while its control has the focus;
    // a line equal to the last is said again.
    void say(const QString &line);
    const QString &line() const { return m_line; }

private:
    QString m_line;
};

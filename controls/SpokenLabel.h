#pragma once

#include <QLabel>
#include <QString>

// A label that a screen reader reads out each time it is given a new line
// to say, while it holds the focus. Screen readers act on text inserted into
// the focused text object, where Qt 6.4 sends the new text along; a change
// of a label's name or description reaches them without the text, and Orca
// drops name changes of labels altogether.
//
// To the screen reader the label is a paragraph whose text is the spoken
// line (the shown text, perhaps with more said before it), given as
// selected: Orca speaks inserted text only when it is also selected. A
// selection is read out as "selected" whenever the label is presented, so a
// line that is only set (to be read as the label takes the focus) is not.
class SpokenLabel : public QLabel
{
    Q_OBJECT

public:
    explicit SpokenLabel(QWidget *parent = nullptr);

    // Replaces the line and has it said; a line equal to the last is said
    // again. Shows nothing: the label's text stays as it is.
    void say(const QString &line);
    const QString &line() const { return m_line; }
    // Replaces the line without having it said: a screen reader reads it as
    // the label takes the focus.
    void setLine(const QString &line)
    {
        m_line = line;
        m_said = false;
    }
    bool lineSaid() const { return m_said; }

protected:
    void focusInEvent(QFocusEvent *event) override;

private:
    QString m_line;
    bool m_said = false;
};

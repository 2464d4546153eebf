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
// selected: Orca presents inserted text that is also selected.
class SpokenLabel : public QLabel
{
    Q_OBJECT

public:
    explicit SpokenLabel(QWidget *parent = nullptr);

    // Replaces the line and has it said; a line equal to the last is said
    // again. Shows nothing: the label's text stays as it is.
    void say(const QString &line);
    const QString &line() const { return m_line; }

protected:
    void focusInEvent(QFocusEvent *event) override;

private:
    QString m_line;
};

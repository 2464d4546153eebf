#pragma once

#include <QLabel>
#include <QString>

class SpokenLine;

// A label that a screen reader reads out each time it is given a new line
// to say, while it holds the focus; the line is said through an unseen
// SpokenLine of the label.
//
// To the screen reader the label is a paragraph whose text is the last
// line given (the shown text, perhaps with more said before it), read as
// the focus arrives and by Where Am I: no selection and not read-only, so
// that nothing but the line is said.
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
    SpokenLine *m_spoken = nullptr;
};

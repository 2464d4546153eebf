#pragma once

#include <QString>
#include <QWidget>

class QComboBox;

// The line a screen reader says each time the selection of a drop-down
// list changes from the keyboard. Qt 6.4 gives a combo box no selection
// interface and sends its name change without the text, so Orca says
// nothing on Up and Down; what it does say is text put into an editable
// part of the focused combo box then, as with an editable combo box.
//
// The line is an invisible child of the combo box: to the screen reader an
// editable text, never focused, holding the line; on screen nothing.
class SpokenComboLine : public QWidget
{
    Q_OBJECT

public:
    explicit SpokenComboLine(QComboBox *comboBox);

    // Replaces the line and has it said while the combo box has the focus.
    void say(const QString &line);
    const QString &line() const { return m_line; }

private:
    QString m_line;
};

#include "shell/MessageBoxes.h"

#include "shell/Accessibility.h"
#include "shell/AppTitle.h"

#include <QMessageBox>

void QtMessageBoxes::inform(QWidget *parent, Icon icon, const QString &text)
{
    QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::Information,
                    appTitle(), text, QMessageBox::Ok, parent);
    box.setDefaultButton(QMessageBox::Ok);
    // Qt presents every message box as an alert, which a screen reader
    // announces as a warning; news that is good or plain is a dialog.
    if (icon != Icon::Error)
        setAccessibleRole(&box, QAccessible::Dialog);
    box.exec();
}

bool QtMessageBoxes::askYesNo(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Question, appTitle(), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

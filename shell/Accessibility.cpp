#include "shell/Accessibility.h"

#include <QLabel>
#include <QString>
#include <QVariant>

void showSpokenText(QLabel *label, const QString &text)
{
    const QString caption = label->property("caption").toString();
    QString name = caption;
    if (!text.isEmpty())
        name = caption.isEmpty() ? text : caption + u' ' + text;
    // The name first: setAccessibleName raises the one NameChanged event
    // each time it is called, and a label with a name of its own raises
    // none of its own when its text changes.
    // Never empty: an empty name would hand the announcing back to QLabel.
    label->setAccessibleName(name.isEmpty() ? QStringLiteral(" ") : name);
    label->setText(text);
}

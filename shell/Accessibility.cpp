#include "shell/Accessibility.h"

#include <QLabel>
#include <QString>
#include <QVariant>

namespace {

QString captioned(const QLabel *label, const QString &text)
{
    const QString caption = label->property("caption").toString();
    if (text.isEmpty())
        return caption;
    return caption.isEmpty() ? text : caption + u' ' + text;
}

} // namespace

void showSpokenText(QLabel *label, const QString &text)
{
    const QString name = captioned(label, text);
    // The name first: setAccessibleName raises the one NameChanged event
    // each time it is called, and a label with a name of its own raises
    // none of its own when its text changes.
    // Never empty: an empty name would hand the announcing back to QLabel.
    label->setAccessibleName(name.isEmpty() ? QStringLiteral(" ") : name);
    label->setText(text);
}

#include "shell/Accessibility.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QString>
#include <QVariant>

namespace {

constexpr char roleProperty[] = "tovrikaAccessibleRole";

class RoleAccessible : public QAccessibleWidget
{
public:
    RoleAccessible(QWidget *widget, QAccessible::Role role)
        : QAccessibleWidget(widget, role)
    {
    }
};

QAccessibleInterface *roleFactory(const QString &, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    const QVariant role = object->property(roleProperty);
    if (!role.isValid())
        return nullptr;
    return new RoleAccessible(static_cast<QWidget *>(object), QAccessible::Role(role.toInt()));
}

} // namespace

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

void setAccessibleRole(QWidget *widget, QAccessible::Role role)
{
    static const bool installed = [] {
        QAccessible::installFactory(roleFactory);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(roleProperty, int(role));
    // Qt keeps the interface it made for the widget once a screen reader
    // asked for it (setting up a widget can do that): it is made anew.
    QAccessibleInterface *made = QAccessible::queryAccessibleInterface(widget);
    if (made && !dynamic_cast<RoleAccessible *>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

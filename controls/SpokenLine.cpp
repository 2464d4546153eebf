#include "controls/SpokenLine.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

class SpokenLineAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit SpokenLineAccessible(SpokenLine *line)
        : QAccessibleWidget(line, QAccessible::EditableText)
    {
    }

    // Editable and unfocusable: Orca then takes text put into it as its
    // focused control's own and says it.
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = true;
        state.focusable = false;
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // The whole line is the one selection.
    void selection(int index, int *start, int *end) const override
    {
        *start = 0;
        *end = index == 0 ? characterCount() : 0;
    }
    int selectionCount() const override { return characterCount() > 0 ? 1 : 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override { return line().mid(start, end - start); }
    int characterCount() const override { return int(line().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int *start, int *end) const override
    {
        *start = *end = offset;
        return {};
    }

private:
    QString line() const
    {
        const auto *owner = qobject_cast<const SpokenLine *>(object());
        return owner ? owner->line() : QString();
    }
};

QAccessibleInterface *spokenLineFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("SpokenLine"))
        return new SpokenLineAccessible(static_cast<SpokenLine *>(object));
    return nullptr;
}

} // namespace

SpokenLine::SpokenLine(QWidget *control)
    : QWidget(control)
{
    static const bool installed = [] {
        QAccessible::installFactory(spokenLineFactory);
        return true;
    }();
    Q_UNUSED(installed);
    // Shown, so that it counts as showing, but with no size and no input.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 0, 0);
}

void SpokenLine::say(const QString &line)
{
    m_line = line;
    // Inserted as a whole, so that a repeated line is news too. The old line
    // is not reported as removed: Orca would say "selection deleted" first.
    QAccessibleTextInsertEvent event(this, 0, m_line);
    QAccessible::updateAccessibility(&event);
}

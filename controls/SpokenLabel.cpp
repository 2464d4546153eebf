#include "controls/SpokenLabel.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

class SpokenLabelAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit SpokenLabelAccessible(SpokenLabel *label)
        : QAccessibleWidget(label, QAccessible::Paragraph)
    {
    }

    // Focusable although neither Tab nor a click gives it the focus: the
    // game does, and Orca's Qt support trusts a focus event only from an
    // object that says it can take the focus.
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.focusable = true;
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
    // Every character is somewhere in the label, which is all a magnifier
    // needs to follow it.
    QRect characterRect(int) const override { return rect(); }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int *start, int *end) const override
    {
        *start = offset;
        *end = offset;
        return {};
    }

private:
    // Nothing once the label is being destroyed and only a QWidget is left.
    QString line() const
    {
        const auto *label = qobject_cast<const SpokenLabel *>(object());
        return label ? label->line() : QString();
    }
};

QAccessibleInterface *spokenLabelFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("SpokenLabel"))
        return new SpokenLabelAccessible(static_cast<SpokenLabel *>(object));
    return nullptr;
}

} // namespace

SpokenLabel::SpokenLabel(QWidget *parent)
    : QLabel(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(spokenLabelFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void SpokenLabel::focusInEvent(QFocusEvent *event)
{
    // A focused QLabel makes itself a text control, which then paints the
    // text its own way and announces each new text on its own, without the
    // rest of the line: this label is only shown, never edited or selected.
    QFrame::focusInEvent(event);
}

void SpokenLabel::say(const QString &line)
{
    m_line = line;
    // Inserted as a whole, so that a repeated line is news too. The old line
    // is not reported as removed: Orca would say "selection deleted" first.
    QAccessibleTextInsertEvent event(this, 0, m_line);
    QAccessible::updateAccessibility(&event);
}

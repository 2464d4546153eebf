#include "controls/SpokenLabel.h"

#include "controls/SpokenLine.h"

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

    // Not focusable to the screen reader, although the game gives it the
    // focus: Orca says "read only" of a focusable text that cannot be
    // edited, and its Qt support takes the focus event all the same.
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.focusable = false;
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // The spoken line is no child: Orca would move to it.
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    // No selection: Orca would say "selected" after the line.
    void selection(int, int *start, int *end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
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
    , m_spoken(new SpokenLine(this))
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
    m_spoken->say(line);
}

#include "controls/WPTextBox.h"

#include "controls/CharPattern.h"
#include "controls/PropertyBag.h"
#include "controls/SystemColor.h"
#include "ui_WPTextBox.h"

#include <QApplication>
#include <QFocusEvent>
#include <QInputMethod>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>

#include <algorithm>
#include <climits>

namespace {

// QLineEdit has no "no limit"; its largest limit stands for MaxLength 0.
constexpr int NoLimit = INT_MAX;
constexpr int IMEDisable = 3;
constexpr int LastIMEMode = 10;
const QString DesignedText = QStringLiteral("WPTextBox");

// Gives txtOld the chosen masking character (QLineEdit asks its style).
class MaskStyle final : public QProxyStyle
{
public:
    explicit MaskStyle(const QString &baseStyleKey) : QProxyStyle(baseStyleKey) {}

    QChar mask;

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return mask.unicode();
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

int shiftState(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0)
         | (modifiers & Qt::AltModifier ? 4 : 0);
}

// The character a key's text starts with: one UTF-16 unit, or a whole pair.
char32_t firstCharacter(const QString &text)
{
    if (text.size() >= 2 && text[0].isHighSurrogate() && text[1].isLowSurrogate())
        return QChar::surrogateToUcs4(text[0], text[1]);
    return text[0].unicode();
}

bool isMargin(int value)
{
    return value >= 0 && value <= SHRT_MAX;
}

// A restored margin is taken as stored, untested, but it is a 16-bit value:
// one past 16 bits (a hand-edited definition) restores as no margin.
int restoredMargin(const PropertyBag &bag, const QString &name)
{
    bool ok = false;
    const qlonglong value = bag.read(name, 0).toLongLong(&ok);
    return ok && value >= SHRT_MIN && value <= SHRT_MAX ? int(value) : 0;
}

} // namespace

WPTextBox::WPTextBox(QWidget *parent)
    : QWidget(parent),
      m_beep(&QApplication::beep),
      m_closeInputMethod([] {
          QGuiApplication::inputMethod()->commit();
          QGuiApplication::inputMethod()->hide();
      })
{
    Ui::WPTextBox ui;
    ui.setupUi(this);
    m_edit = ui.txtOld;
    m_edit->setMaxLength(NoLimit);
    m_edit->setCursorPosition(0);
    m_edit->setMouseTracking(true);  // MouseMove is raised without a button too
    m_edit->installEventFilter(this);
    setFocusProxy(m_edit);
    setFocusPolicy(Qt::StrongFocus);  // so a container's tab order can name the control
    applyForeColor();
    connect(m_edit, &QLineEdit::textChanged, this, &WPTextBox::testChange);
    InitProperties();
}

WPTextBox::~WPTextBox() = default;

void WPTextBox::setBeep(std::function<void()> beep)
{
    m_beep = beep ? std::move(beep) : [] {};
}

void WPTextBox::setInputMethodCloser(std::function<void()> close)
{
    m_closeInputMethod = close ? std::move(close) : [] {};
}

QString WPTextBox::activePattern() const
{
    switch (m_checkMode) {
    case CheckDigits:
        return QStringLiteral("#");
    case CheckAlpha:
        return QStringLiteral("[a-zA-Z]");
    case CheckAlphaNumeric:
        return QStringLiteral("[a-zA-Z0-9]");
    case CheckPrintable:
        return QStringLiteral("[ -~]");
    case CheckCustom:
        return m_checkPattern;
    default:
        return {};
    }
}

// ---- Input checking --------------------------------------------------------

bool WPTextBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_edit)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress:
        // A key the control changed itself goes straight to txtOld.
        return !m_forwardingKey && filterKey(static_cast<QKeyEvent *>(event));
    case QEvent::KeyRelease: {
        const auto *key = static_cast<QKeyEvent *>(event);
        int keyCode = key->key();
        int shift = shiftState(key->modifiers());
        emit KeyUp(keyCode, shift);
        return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        return filterMouse(static_cast<QMouseEvent *>(event));
    case QEvent::FocusIn:
        focusIn(static_cast<QFocusEvent *>(event));
        return true;
    case QEvent::InputMethodQuery:
        // QLineEdit answers ImEnabled without looking at its attribute.
        if (m_imeMode == IMEDisable) {
            auto *query = static_cast<QInputMethodQueryEvent *>(event);
            static_cast<QObject *>(m_edit)->event(query);
            if (query->queries() & Qt::ImEnabled)
                query->setValue(Qt::ImEnabled, false);
            return true;
        }
        return false;
    case QEvent::FocusOut: {
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::PopupFocusReason)
            m_closeInputMethod();
        // Focus lost to a popup or with the window stays the window's focus
        // widget and comes back the same way: remember that it only left.
        m_focusAway = reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason;
        return false;
    }
    default:
        return false;
    }
}

// Returns true when txtOld must not see the event.
bool WPTextBox::filterKey(QKeyEvent *event)
{
    int keyCode = event->key();
    int shift = shiftState(event->modifiers());
    emit KeyDown(keyCode, shift);
    if (keyCode == 0 && event->key() != 0)
        return true;

    const QString typed = event->text();
    // Tab moves the focus before any text box sees it as a character.
    const bool navigation = (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)
                         && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (typed.isEmpty() || navigation)
        return false;

    const int original = typed[0].unicode();
    int keyAscii = original;
    emit KeyPress(keyAscii);
    keyAscii &= 0xFFFF;
    const char32_t character = keyAscii == original ? firstCharacter(typed) : char32_t(keyAscii);
    testKey(keyAscii, event->modifiers() & Qt::ControlModifier, character);

    if (keyAscii == original)
        return false;
    if (keyAscii == 0) {
        event->ignore();  // nothing for txtOld; the container may still act on it
        return true;
    }
    QKeyEvent changed(QEvent::KeyPress, keyAscii == 8 ? Qt::Key_Backspace : Qt::Key_unknown,
                      event->modifiers(), QString(QChar(char16_t(keyAscii))),
                      event->isAutoRepeat());
    m_forwardingKey = true;
    QCoreApplication::sendEvent(m_edit, &changed);
    m_forwardingKey = false;
    return true;
}

void WPTextBox::testKey(int &keyAscii, bool ctrlDown, char32_t typed)
{
    if (ctrlDown)
        return;  // Ctrl+V and the like: the change test sees what they do
    if (keyAscii == 13) {
        keyAscii = 0;
        return;
    }
    if (keyAscii == 32 || keyAscii == 8)
        return;
    const QString pattern = activePattern();
    if (pattern.isEmpty())
        return;
    if (!CharPattern(pattern).matches(typed)) {
        m_beep();
        keyAscii = 0;
    }
}

// Runs after every change of txtOld's text, and again, nested, when it
// replaces the text itself.
void WPTextBox::testChange()
{
    emit Change();
    const QString pattern = activePattern();
    if (pattern.isEmpty())
        return;
    QString text = m_edit->text();
    if (!RemoveInvalidChars(text, pattern))
        m_beep();
}

bool WPTextBox::RemoveInvalidChars(QString &text, const QString &pattern)
{
    const QString kept = CharPattern(pattern).filtered(text);
    if (kept.size() == text.size())
        return true;
    text = kept;
    m_edit->setText(text);
    return false;
}

// ---- Events, focus ---------------------------------------------------------

bool WPTextBox::filterMouse(QMouseEvent *event)
{
    const bool move = event->type() == QEvent::MouseMove;
    int button = int(move ? event->buttons() : event->button()) & 7;
    int shift = shiftState(event->modifiers());
    float x = float(event->position().x());
    float y = float(event->position().y());
    const bool left = event->button() == Qt::LeftButton;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        emit MouseDown(button, shift, x, y);
        break;
    case QEvent::MouseMove:
        emit MouseMove(button, shift, x, y);
        break;
    case QEvent::MouseButtonRelease:
        emit MouseUp(button, shift, x, y);
        // The release that ends a double click is not a second click.
        if (left && !m_afterDblClick && m_edit->rect().contains(event->position().toPoint()))
            emit Click();
        m_afterDblClick = false;
        break;
    case QEvent::MouseButtonDblClick:
        if (left) {
            m_afterDblClick = true;
            emit DblClick();
        }
        break;
    default:
        break;
    }
    return false;
}

// Lets txtOld take the focus its own way, then applies SelectOnFocus:
// select everything, or put back the selection QLineEdit may have changed.
void WPTextBox::focusIn(QFocusEvent *event)
{
    applyIMEMode();
    const bool hadSelection = m_edit->hasSelectedText();
    const int start = m_edit->selectionStart();
    const int length = m_edit->selectionLength();
    const int cursor = m_edit->cursorPosition();
    static_cast<QObject *>(m_edit)->event(event);
    // Focus that comes back from the box's own context menu or with its
    // window is no move into the box: a paste from that menu must go where
    // the caret was, and the next key after a window switch must not replace
    // the whole name.
    const bool returning = m_focusAway
                        && (event->reason() == Qt::PopupFocusReason
                            || event->reason() == Qt::ActiveWindowFocusReason);
    m_focusAway = false;
    if (m_selectOnFocus && !returning) {
        m_edit->selectAll();
    } else if (hadSelection) {
        if (cursor == start)
            m_edit->setSelection(start + length, -length);
        else
            m_edit->setSelection(start, length);
    } else {
        m_edit->setCursorPosition(cursor);
    }
}

// ---- Layout and painting ---------------------------------------------------

void WPTextBox::layoutPass()
{
    // Margins are 16-bit, the size is a widget's: in 64 bits nothing here
    // can overflow, whatever was restored.
    const qint64 w = width();
    const qint64 h = height();
    m_edit->resize(int(std::max<qint64>(0, w - 4 - m_leftMargin - m_rightMargin)),
                   int(std::max<qint64>(0, h - 4 - m_topMargin)));
    m_edit->move(m_leftMargin + 2, int(h - m_edit->height() - 2));
    QColor fill;
    if (isControlEnabled()) {
        fill = SystemColor::toColor(m_backColor);
        applyBackgroundRule();
    } else {
        fill = SystemColor::toColor(SystemColor::ButtonFace);
    }
    m_surface = {int(w), int(h), fill, SystemColor::toColor(SystemColor::ButtonShadow),
                 SystemColor::toColor(SystemColor::Light3D)};
    update();
}

void WPTextBox::paintEvent(QPaintEvent *)
{
    const int w = m_surface.width;
    const int h = m_surface.height;
    QPainter painter(this);
    painter.fillRect(0, 0, w, h, m_surface.fill);
    // A one-pixel line from (x, y) along (dx, dy), its end point left out.
    const auto line = [&painter](int x, int y, int dx, int dy, const QColor &color) {
        if (dx > 0)
            painter.fillRect(x, y, dx, 1, color);
        else if (dy > 0)
            painter.fillRect(x, y, 1, dy, color);
    };
    const QColor black = SystemColor::toColor(SystemColor::Black);
    const QColor white = SystemColor::toColor(SystemColor::White);
    line(0, 0, w - 1, 0, m_surface.shadow);
    line(0, 0, 0, h - 1, m_surface.shadow);
    line(1, 1, w - 2, 0, black);
    line(1, 1, 0, h - 2, black);
    line(0, h - 1, w, 0, white);
    line(w - 1, 0, 0, h, white);
    line(1, h - 2, w - 2, 0, m_surface.light);
    line(w - 2, 1, 0, h - 2, m_surface.light);
}

void WPTextBox::resizeEvent(QResizeEvent *)
{
    layoutPass();
}

void WPTextBox::showEvent(QShowEvent *)
{
    setBackColor(m_backColor);
}

// A plain QWidget::setEnabled() gets the disabled look too (without the
// change report of the Enabled property); restoring applies the state alone.
void WPTextBox::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange && !m_restoring) {
        applyBackgroundRule();
        layoutPass();
    }
    QWidget::changeEvent(event);
}

void WPTextBox::applyBackgroundRule()
{
    const QColor color = SystemColor::toColor(isControlEnabled() ? m_backColor
                                                                 : SystemColor::ButtonFace);
    QPalette palette = m_edit->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, color);
        palette.setColor(group, QPalette::Window, color);
    }
    m_edit->setPalette(palette);
}

// In every colour group, so a disabled control keeps its text colour.
void WPTextBox::applyForeColor()
{
    const QColor color = SystemColor::toColor(m_foreColor);
    QPalette palette = m_edit->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Text, color);
    m_edit->setPalette(palette);
}

void WPTextBox::Refresh()
{
    m_edit->repaint();
}

// ---- Properties ------------------------------------------------------------

void WPTextBox::report(const char *name)
{
    emit propertyChanged(QString::fromLatin1(name));
}

void WPTextBox::setForeColor(uint color)
{
    m_foreColor = color;
    applyForeColor();
    report("ForeColor");
}

QFont WPTextBox::textFont() const
{
    return m_edit->font();
}

void WPTextBox::setTextFont(const QFont &font)
{
    m_edit->setFont(font);
    report("Font");
}

int WPTextBox::alignment() const
{
    const Qt::Alignment horizontal = m_edit->alignment() & Qt::AlignHorizontal_Mask;
    if (horizontal & Qt::AlignRight)
        return 1;
    if (horizontal & Qt::AlignHCenter)
        return 2;
    return 0;
}

bool WPTextBox::applyAlignment(int alignment)
{
    static constexpr Qt::AlignmentFlag horizontal[] = {Qt::AlignLeft, Qt::AlignRight,
                                                       Qt::AlignHCenter};
    if (alignment < 0 || alignment > 2)
        return false;
    m_edit->setAlignment(horizontal[alignment] | Qt::AlignVCenter);
    return true;
}

bool WPTextBox::setAlignment(int alignment)
{
    if (!applyAlignment(alignment))
        return false;
    report("Alignment");
    return true;
}

bool WPTextBox::setIMEMode(int mode)
{
    if (mode < 0 || mode > LastIMEMode)
        return false;
    m_imeMode = mode;
    applyIMEMode();
    report("IMEMode");
    return true;
}

void WPTextBox::applyIMEMode()
{
    const bool enabled = m_imeMode != IMEDisable && !m_edit->isReadOnly();
    if (m_edit->testAttribute(Qt::WA_InputMethodEnabled) == enabled)
        return;
    m_edit->setAttribute(Qt::WA_InputMethodEnabled, enabled);
    if (m_edit->hasFocus())
        QGuiApplication::inputMethod()->update(Qt::ImEnabled);
}

QString WPTextBox::text() const
{
    return m_edit->text();
}

void WPTextBox::setText(const QString &text)
{
    m_edit->setText(text);
    report("Text");
}

QString WPTextBox::toolTipText() const
{
    return m_edit->toolTip();
}

void WPTextBox::setToolTipText(const QString &tip)
{
    m_edit->setToolTip(tip);
    report("ToolTipText");
}

int WPTextBox::selStart() const
{
    return m_edit->hasSelectedText() ? m_edit->selectionStart() : m_edit->cursorPosition();
}

bool WPTextBox::setSelStart(int start)
{
    if (start < 0 || start > m_edit->text().size())
        return false;
    m_edit->setCursorPosition(start);
    report("SelStart");
    return true;
}

int WPTextBox::selLength() const
{
    return m_edit->selectionLength();
}

bool WPTextBox::setSelLength(int length)
{
    if (length < 0)
        return false;
    const int start = selStart();
    m_edit->setSelection(start, std::min(length, int(m_edit->text().size()) - start));
    report("SelLength");
    return true;
}

int WPTextBox::maxLength() const
{
    return m_edit->maxLength() == NoLimit ? 0 : m_edit->maxLength();
}

// QLineEdit re-assigns its text when the limit changes, which drops the
// selection; the limit alone should not move it.
void WPTextBox::applyMaxLength(int length)
{
    const int start = selStart();
    const int selected = selLength();
    const int cursor = m_edit->cursorPosition();
    m_edit->setMaxLength(length == 0 ? NoLimit : length);
    const int size = int(m_edit->text().size());
    if (selected > 0 && start + selected <= size)
        m_edit->setSelection(cursor == start ? start + selected : start,
                             cursor == start ? -selected : selected);
    else
        m_edit->setCursorPosition(std::min(cursor, size));
}

bool WPTextBox::setMaxLength(int length)
{
    if (length < 0)
        return false;
    applyMaxLength(length);
    report("MaxLength");
    return true;
}

void WPTextBox::setSelectOnFocus(bool select)
{
    m_selectOnFocus = select;
    report("SelectOnFocus");
}

bool WPTextBox::isControlEnabled() const
{
    return !testAttribute(Qt::WA_ForceDisabled);  // set by setEnabled(false) alone
}

void WPTextBox::setControlEnabled(bool enabled)
{
    setEnabled(enabled);
    report("Enabled");
    setBackColor(m_backColor);
    layoutPass();
}

QString WPTextBox::passwordChar() const
{
    if (m_edit->echoMode() == QLineEdit::Normal || !m_maskStyle)
        return {};
    return QString(static_cast<MaskStyle *>(m_maskStyle)->mask);
}

void WPTextBox::applyPasswordChar(const QString &mask)
{
    if (mask.isEmpty()) {
        m_edit->setEchoMode(QLineEdit::Normal);
    } else {
        // QLineEdit asks its style for the mask only when the style changes.
        const bool first = !m_maskStyle;
        if (first) {
            // Based on a copy of the application's own style, so the box looks
            // like every other control; without a base, QProxyStyle falls
            // back to the platform's default style.
            m_maskStyle = new MaskStyle(QApplication::style()->name());
            m_maskStyle->setParent(this);
        }
        static_cast<MaskStyle *>(m_maskStyle)->mask = mask[0];
        if (first) {
            m_edit->setStyle(m_maskStyle);
        } else {
            QEvent styleChange(QEvent::StyleChange);
            QCoreApplication::sendEvent(m_edit, &styleChange);
        }
        m_edit->setEchoMode(QLineEdit::Password);
    }
    applyIMEMode();  // QLineEdit resets the input-method attribute with the echo mode
}

void WPTextBox::setPasswordChar(const QString &mask)
{
    applyPasswordChar(mask);
    report("PasswordChar");
}

void WPTextBox::setCheckMode(int mode)
{
    m_checkMode = mode;
    report("CheckMode");
}

void WPTextBox::setCheckPattern(const QString &pattern)
{
    m_checkPattern = pattern;
    report("CheckPattern");
}

void WPTextBox::setLeftMargin(int margin)
{
    if (!isMargin(margin))
        return;
    m_leftMargin = margin;
    report("LeftMargin");
    layoutPass();
}

void WPTextBox::setTopMargin(int margin)
{
    if (!isMargin(margin))
        return;
    m_topMargin = margin;
    report("TopMargin");
    layoutPass();
}

void WPTextBox::setBackColor(uint color)
{
    m_backColor = color;
    applyBackgroundRule();
    layoutPass();
    report("BackColor");
}

void WPTextBox::setRightMargin(int margin)
{
    if (!isMargin(margin))
        return;
    m_rightMargin = margin;
    report("RightMargin");
    layoutPass();
}

// ---- Persistence -----------------------------------------------------------

QFont WPTextBox::ambientFont() const
{
    return parentWidget() ? parentWidget()->font() : font();
}

void WPTextBox::InitProperties()
{
    m_backColor = SystemColor::WindowBackground;
    m_selectOnFocus = true;
    m_checkMode = CheckNone;
    m_checkPattern.clear();
    m_leftMargin = 0;
    m_topMargin = 0;
    m_rightMargin = 0;
}

// Values go straight to where they live, without the setters' side effects:
// no change reports, no layout pass, Enabled without its colours, margins
// untested. Text comes before the check settings (and the check is off while
// it is assigned), so a stored text is shown unfiltered.
void WPTextBox::ReadProperties(const PropertyBag &bag)
{
    m_restoring = true;
    m_backColor = bag.read(QStringLiteral("BackColor"), SystemColor::WindowBackground).toUInt();

    m_foreColor = bag.read(QStringLiteral("ForeColor"), SystemColor::WindowText).toUInt();
    applyForeColor();
    m_edit->setFont(bag.read(QStringLiteral("Font"), ambientFont()).value<QFont>());
    applyAlignment(bag.read(QStringLiteral("Alignment"), 0).toInt());
    const int ime = bag.read(QStringLiteral("IMEMode"), 0).toInt();
    if (ime >= 0 && ime <= LastIMEMode)
        m_imeMode = ime;
    applyIMEMode();
    m_checkMode = CheckNone;
    m_checkPattern.clear();
    m_edit->setMaxLength(NoLimit);  // the stored limit comes after the text
    m_edit->setText(bag.read(QStringLiteral("Text"), DesignedText).toString());
    m_edit->setToolTip(bag.read(QStringLiteral("ToolTipText"), QString()).toString());
    const int length = int(m_edit->text().size());
    const int start = std::clamp(bag.read(QStringLiteral("SelStart"), 0).toInt(), 0, length);
    const int selected = std::clamp(bag.read(QStringLiteral("SelLength"), 0).toInt(), 0, length - start);
    m_edit->setSelection(start, selected);
    const int maxLength = bag.read(QStringLiteral("MaxLength"), 0).toInt();
    if (maxLength >= 0)
        applyMaxLength(maxLength);

    m_selectOnFocus = bag.read(QStringLiteral("SelectOnFocus"), true).toBool();
    setEnabled(bag.read(QStringLiteral("Enabled"), true).toBool());
    applyPasswordChar(bag.read(QStringLiteral("PasswordChar"), QString()).toString());
    m_checkMode = bag.read(QStringLiteral("CheckMode"), 0).toInt();
    m_checkPattern = bag.read(QStringLiteral("CheckPattern"), QString()).toString();
    m_leftMargin = restoredMargin(bag, QStringLiteral("LeftMargin"));
    m_topMargin = restoredMargin(bag, QStringLiteral("TopMargin"));
    m_rightMargin = restoredMargin(bag, QStringLiteral("RightMargin"));
    m_restoring = false;
}

void WPTextBox::WriteProperties(PropertyBag &bag) const
{
    bag.write(QStringLiteral("ForeColor"), m_foreColor, SystemColor::WindowText);
    bag.write(QStringLiteral("Font"), textFont(), ambientFont());
    bag.write(QStringLiteral("Alignment"), alignment(), 0);
    bag.write(QStringLiteral("IMEMode"), m_imeMode, 0);
    bag.write(QStringLiteral("Text"), text(), DesignedText);
    bag.write(QStringLiteral("ToolTipText"), toolTipText(), QString());
    bag.write(QStringLiteral("SelStart"), selStart(), 0);
    bag.write(QStringLiteral("SelLength"), selLength(), 0);
    bag.write(QStringLiteral("MaxLength"), maxLength(), 0);
    bag.write(QStringLiteral("SelectOnFocus"), m_selectOnFocus, true);
    bag.write(QStringLiteral("Enabled"), isControlEnabled(), true);
    bag.write(QStringLiteral("PasswordChar"), passwordChar(), QString());
    bag.write(QStringLiteral("CheckMode"), m_checkMode, 0);
    bag.write(QStringLiteral("CheckPattern"), m_checkPattern, QString());
    bag.write(QStringLiteral("LeftMargin"), m_leftMargin, 0);
    bag.write(QStringLiteral("TopMargin"), m_topMargin, 0);
    bag.write(QStringLiteral("BackColor"), m_backColor, SystemColor::WindowBackground);
    bag.write(QStringLiteral("RightMargin"), m_rightMargin, 0);
}

bool WPTextBox::restoreFromDefinition()
{
    const QVariant stored = property(DefinitionProperty);
    if (!stored.isValid())
        return false;
    ReadProperties(PropertyBag::fromStringList(stored.toStringList()));
    return true;
}

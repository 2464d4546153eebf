#pragma once

// WPTextBox: a single-line text box that filters what is typed character by
// character, paints its own sunken frame with inner margins, and saves and
// restores its properties through a PropertyBag.
//
// Composition: the widget paints its background and a two-pixel sunken edge,
// and holds one child, the borderless QLineEdit "txtOld", which does the
// editing. Its design surface is ui/WPTextBox.ui.
//
// Input checking. CheckMode selects a one-character pattern (CharPattern.h):
//   CheckNone 0          no filtering
//   CheckDigits 1        "#"
//   CheckAlpha 2         "[a-zA-Z]"
//   CheckAlphaNumeric 3  "[a-zA-Z0-9]"
//   CheckPrintable 4     "[ -~]"
//   CheckCustom 9        CheckPattern (empty: no filtering)
//   any other value      no filtering
// Every key that carries text reaches the key test before txtOld sees it:
//   1. KeyPress(keyAscii) is emitted; a handler may change or zero the code.
//   2. With Ctrl held down the key passes untested.
//   3. Enter (13) becomes 0, without a beep, in every mode.
//   4. Space (32) and Backspace (8) pass.
//   5. Otherwise a character the pattern rejects beeps and becomes 0.
// Tab and Shift+Tab move the focus and are not tested.
// A code of 0 means txtOld inserts nothing; the key event is then left
// ignored so the container's own handling (a dialog's default button on
// Enter, for one) still gets it. A changed code is delivered to txtOld as a
// new key event carrying the new character. Codes are 16-bit: a handler's
// value is taken modulo 65536.
// Keys a window takes as shortcuts (QShortcut, QAction) never reach the key
// test. A QDialog handles Escape only after its focused child, so in modes 1
// to 4 Escape beeps before it closes the dialog; a dialog that wants a silent
// Escape gives it a QShortcut.
// After every change of the text, however it came (typing, paste, Text), the
// change test runs: Change() is emitted first, then the characters the
// pattern rejects are removed and the cleaned text is assigned, which emits
// Change() a second time from inside the first, then one beep sounds. The
// caret ends where QLineEdit::setText puts it (at the end).
//
// Layout and painting. On every resize, margin or BackColor assignment,
// Enabled assignment and show, txtOld is placed bottom-aligned inside the
// edge: left LeftMargin + 2, width W - 4 - LeftMargin - RightMargin, height
// H - 4 - TopMargin (both clamped at 0), its bottom two pixels above the
// control's. The surface is filled with BackColor (button face when the
// control is disabled) and edged: button shadow and black along the top and
// left, white and 3-D light along the bottom and right. paintEvent repeats
// the last layout pass, so the picture survives being covered.
// Colour values are 32-bit: 0x800000nn is system colour nn of the running
// palette (see SystemColor.h), anything else is RGB stored as 0x00BBGGRR.
// The disabled look is the button-face background on the surface and on
// txtOld; the text keeps its colour and txtOld's own enabled state is never
// touched. Enabled is the control's own state: a disabled parent does not
// grey it. A plain QWidget::setEnabled() gets the look too, without the
// change report. Showing re-assigns BackColor, and so reports it.
//
// Focus. The control hands its focus to txtOld. With SelectOnFocus the whole
// text is selected when txtOld gets the focus; without it the selection is
// left as it was (QLineEdit itself drops the selection when it loses the
// focus). Losing the focus closes the input method.
//
// Errors. Setters that can refuse a value return false and keep the old
// value: Alignment and IMEMode outside 16 bits or outside their values,
// negative SelStart, SelLength or MaxLength, and a SelStart past the end of
// the text (the inner box's own error: nothing changes, nothing is
// reported). Through QObject::setProperty a
// refusal shows only as the unchanged value. Negative margins are ignored
// silently and run no layout pass.
//
// Events are signals whose arguments are non-const references, so a slot's
// change reaches the control. Connect them directly (the default on the
// widget's own thread); queued connections cannot carry references.
//
// Persistence. The constructor leaves a new instance (InitProperties).
// A container that keeps the control's properties in its window definition
// stores them as a QStringList dynamic property named "propertyBag" holding
// lower-case "name=value" entries, e.g. in a .ui file:
//   <property name="propertyBag" stdset="0"><stringlist>
//     <string>imemode=3</string><string>text=</string>
//     <string>maxlength=15</string> ...
//   </stringlist></property>
// and calls restoreFromDefinition() after setupUi(). Fonts are stored as
// QFont::toString() (a family and a point size, "ＭＳ Ｐゴシック,9", is enough).
//
// Limits that QLineEdit sets:
// - It cannot hold more than MaxLength characters: a longer text is cut to
//   the limit when the text or the limit is set (a restore sets the stored
//   text before the stored limit, so only that limit can cut it).
// - Font is a value, not a shared object: assign Font to change it.
// - IMEMode 3 switches the input method off for txtOld; the other values
//   (0 to 10) are kept and saved, but Qt has no portable way to preset an
//   input method's state, so they act like 0.

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

#include <functional>

class PropertyBag;
class QFocusEvent;
class QKeyEvent;
class QLineEdit;
class QMouseEvent;
class QProxyStyle;

class WPTextBox : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(uint ForeColor READ foreColor WRITE setForeColor)
    Q_PROPERTY(QFont Font READ textFont WRITE setTextFont)
    Q_PROPERTY(int Alignment READ alignment WRITE setAlignment)
    Q_PROPERTY(int IMEMode READ imeMode WRITE setIMEMode)
    Q_PROPERTY(QString Text READ text WRITE setText USER true)
    Q_PROPERTY(QString ToolTipText READ toolTipText WRITE setToolTipText)
    Q_PROPERTY(int SelStart READ selStart WRITE setSelStart)
    Q_PROPERTY(int SelLength READ selLength WRITE setSelLength)
    Q_PROPERTY(int MaxLength READ maxLength WRITE setMaxLength)
    Q_PROPERTY(bool SelectOnFocus READ selectOnFocus WRITE setSelectOnFocus)
    Q_PROPERTY(bool Enabled READ isControlEnabled WRITE setControlEnabled)
    Q_PROPERTY(QString PasswordChar READ passwordChar WRITE setPasswordChar)
    Q_PROPERTY(int CheckMode READ checkMode WRITE setCheckMode)
    Q_PROPERTY(QString CheckPattern READ checkPattern WRITE setCheckPattern)
    Q_PROPERTY(int LeftMargin READ leftMargin WRITE setLeftMargin)
    Q_PROPERTY(int TopMargin READ topMargin WRITE setTopMargin)
    Q_PROPERTY(uint BackColor READ backColor WRITE setBackColor)
    Q_PROPERTY(int RightMargin READ rightMargin WRITE setRightMargin)

public:
    enum CheckModes {
        CheckNone = 0,
        CheckDigits = 1,
        CheckAlpha = 2,
        CheckAlphaNumeric = 3,
        CheckPrintable = 4,
        CheckCustom = 9,
    };
    Q_ENUM(CheckModes)

    // The dynamic property in which window definitions keep the bag.
    static constexpr const char *DefinitionProperty = "propertyBag";

    explicit WPTextBox(QWidget *parent = nullptr);
    ~WPTextBox() override;

    // The inner editor, for reading state that has no property of its own.
    QLineEdit *editor() const { return m_edit; }

    // How the control beeps on rejected input (default QApplication::beep).
    void setBeep(std::function<void()> beep);
    // How it closes the input method when it loses the focus (default: commit
    // any composition and hide the input panel).
    void setInputMethodCloser(std::function<void()> close);

    // The pattern the current CheckMode stands for; empty = no filtering.
    QString activePattern() const;

    // Properties, in the order of the control's interface.
    uint foreColor() const { return m_foreColor; }
    void setForeColor(uint color);
    QFont textFont() const;
    void setTextFont(const QFont &font);
    void Refresh();  // repaints txtOld only, not the surface
    int alignment() const;             // 0 left, 1 right, 2 centre
    bool setAlignment(int alignment);  // false: not 0 to 2, value kept
    int imeMode() const { return m_imeMode; }
    bool setIMEMode(int mode);  // false: not 0 to 10, value kept
    QString text() const;
    void setText(const QString &text);
    QString toolTipText() const;
    void setToolTipText(const QString &tip);
    int selStart() const;
    bool setSelStart(int start);  // collapses the selection; refuses a place past the end
    int selLength() const;
    bool setSelLength(int length);  // from SelStart; clamps at the end
    int maxLength() const;          // 0 = no limit
    bool setMaxLength(int length);
    bool selectOnFocus() const { return m_selectOnFocus; }
    void setSelectOnFocus(bool select);
    bool isControlEnabled() const;  // the control's own state, not its parents'
    void setControlEnabled(bool enabled);
    QString passwordChar() const;  // empty: text shown as typed
    void setPasswordChar(const QString &mask);  // first character is used
    int checkMode() const { return m_checkMode; }
    void setCheckMode(int mode);
    QString checkPattern() const { return m_checkPattern; }
    void setCheckPattern(const QString &pattern);
    // Margins in pixels. A negative value (or one beyond 16 bits) is ignored.
    int leftMargin() const { return m_leftMargin; }
    void setLeftMargin(int margin);
    int topMargin() const { return m_topMargin; }
    void setTopMargin(int margin);
    uint backColor() const { return m_backColor; }
    void setBackColor(uint color);
    int rightMargin() const { return m_rightMargin; }
    void setRightMargin(int margin);

    // Persistence. Names in the bag are matched without regard to case.
    void InitProperties();  // a new instance's values of the control's own fields
    void ReadProperties(const PropertyBag &bag);  // restore, reports nothing
    void WriteProperties(PropertyBag &bag) const;  // the eighteen entries
    // Restores from the DefinitionProperty dynamic property when present.
    // Returns false (and changes nothing) when the widget has none.
    bool restoreFromDefinition();
    // The default of Font: the parent's font, or the control's own without one.
    QFont ambientFont() const;

signals:
    // The stored value of the named property changed (exact property name).
    void propertyChanged(const QString &name);

    // Left button on txtOld (a double click raises Click once, then DblClick).
    void Click();
    void DblClick();
    // keyCode is the Qt::Key, shift the mask 1 Shift, 2 Ctrl, 4 Alt. Setting
    // keyCode to 0 swallows the key.
    void KeyDown(int &keyCode, int &shift);
    // Every key with text, before the key test: keyAscii is the first UTF-16
    // unit of the text. Change it to insert another character, 0 to discard.
    void KeyPress(int &keyAscii);
    void KeyUp(int &keyCode, int &shift);
    // button: 1 left, 2 right, 4 middle (MouseMove: the buttons held); x and
    // y in txtOld's own pixels.
    void MouseDown(int &button, int &shift, float &x, float &y);
    void MouseMove(int &button, int &shift, float &x, float &y);
    void MouseUp(int &button, int &shift, float &x, float &y);
    // After every change of the text, before the change test.
    void Change();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // What the last layout pass painted, so paintEvent can paint it again.
    struct Surface {
        int width = 0;
        int height = 0;
        QColor fill, shadow, light;
    };

    bool filterKey(QKeyEvent *event);
    void testKey(int &keyAscii, bool ctrlDown, char32_t typed);
    void testChange();
    bool RemoveInvalidChars(QString &text, const QString &pattern);
    bool filterMouse(QMouseEvent *event);
    void focusIn(QFocusEvent *event);
    void layoutPass();
    void applyBackgroundRule();
    void applyForeColor();
    void applyIMEMode();
    bool applyAlignment(int alignment);
    void applyPasswordChar(const QString &mask);
    void applyMaxLength(int length);
    void report(const char *name);

    QLineEdit *m_edit = nullptr;
    QProxyStyle *m_maskStyle = nullptr;  // created with the first PasswordChar
    std::function<void()> m_beep;
    std::function<void()> m_closeInputMethod;
    Surface m_surface;
    bool m_forwardingKey = false;
    bool m_restoring = false;
    bool m_afterDblClick = false;
    bool m_focusAway = false;  // lost to a popup or with the window, may return

    // The control's own fields; everything else lives in txtOld.
    int m_rightMargin = 0;
    uint m_backColor = 0;
    int m_leftMargin = 0;
    int m_topMargin = 0;
    QString m_checkPattern;
    int m_checkMode = 0;
    bool m_selectOnFocus = false;
    // Kept here because QLineEdit has no place for them.
    uint m_foreColor = 0x80000008;
    int m_imeMode = 0;
};

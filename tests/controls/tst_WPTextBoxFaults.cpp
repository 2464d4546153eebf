// Checks the text box against faults a player or a damaged window definition
// could reach: SelectOnFocus firing when the focus only comes back (from the
// box's own menu, or with its window), margins past 16 bits restored from a
// definition, the masking style ignoring the application's style, and a
// SelStart past the end of the text.

#include "controls/PropertyBag.h"
#include "controls/WPTextBox.h"
#include "support/TestMain.h"

#include <QClipboard>
#include <QLineEdit>
#include <QProxyStyle>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>

#include <memory>

class tst_WPTextBoxFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void selectOnFocus_data();
    void selectOnFocus();
    void returningFocusKeepsCaretForPaste();
    void hugeRestoredMarginsAreRefused();
    void maskStyleFollowsApplicationStyle();
    void selStartPastEndIsRefused();

private:
    void sendFocus(QEvent::Type type, Qt::FocusReason reason);

    std::unique_ptr<QWidget> m_window;
    WPTextBox *m_box = nullptr;
};

void tst_WPTextBoxFaults::init()
{
    m_window = std::make_unique<QWidget>();
    m_window->resize(300, 100);
    m_box = new WPTextBox(m_window.get());
    m_box->setGeometry(10, 10, 145, 21);
    m_box->setText(QStringLiteral("abc"));
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_WPTextBoxFaults::cleanup()
{
    m_window.reset();
}

void tst_WPTextBoxFaults::sendFocus(QEvent::Type type, Qt::FocusReason reason)
{
    QFocusEvent event(type, reason);
    QCoreApplication::sendEvent(m_box->editor(), &event);
}

void tst_WPTextBoxFaults::selectOnFocus_data()
{
    QTest::addColumn<int>("leftWith");   // -1: the box never had the focus
    QTest::addColumn<int>("cameWith");
    QTest::addColumn<bool>("selectsAll");

    QTest::newRow("tab in") << -1 << int(Qt::TabFocusReason) << true;
    QTest::newRow("backtab in") << int(Qt::TabFocusReason) << int(Qt::BacktabFocusReason) << true;
    QTest::newRow("click in") << int(Qt::TabFocusReason) << int(Qt::MouseFocusReason) << true;
    QTest::newRow("shortcut in") << int(Qt::TabFocusReason) << int(Qt::ShortcutFocusReason) << true;
    QTest::newRow("program SetFocus") << int(Qt::TabFocusReason) << int(Qt::OtherFocusReason) << true;
    QTest::newRow("window opens on it") << -1 << int(Qt::ActiveWindowFocusReason) << true;
    QTest::newRow("back from its menu") << int(Qt::PopupFocusReason) << int(Qt::PopupFocusReason) << false;
    QTest::newRow("back with the window") << int(Qt::ActiveWindowFocusReason)
                                          << int(Qt::ActiveWindowFocusReason) << false;
}

void tst_WPTextBoxFaults::selectOnFocus()
{
    QFETCH(int, leftWith);
    QFETCH(int, cameWith);
    QFETCH(bool, selectsAll);
    if (leftWith >= 0) {
        sendFocus(QEvent::FocusIn, Qt::TabFocusReason);
        sendFocus(QEvent::FocusOut, Qt::FocusReason(leftWith));
    }
    m_box->editor()->setCursorPosition(1);
    sendFocus(QEvent::FocusIn, Qt::FocusReason(cameWith));
    QCOMPARE(m_box->editor()->selectedText(), selectsAll ? QStringLiteral("abc") : QString());
    if (!selectsAll)
        QCOMPARE(m_box->editor()->cursorPosition(), 1);
}

void tst_WPTextBoxFaults::returningFocusKeepsCaretForPaste()
{
    // What the context menu's Paste does: the menu takes the focus, gives it
    // back, then the box pastes where its caret was.
    sendFocus(QEvent::FocusIn, Qt::TabFocusReason);
    m_box->editor()->setCursorPosition(3);
    sendFocus(QEvent::FocusOut, Qt::PopupFocusReason);
    sendFocus(QEvent::FocusIn, Qt::PopupFocusReason);
    QApplication::clipboard()->setText(QStringLiteral("XY"));
    m_box->editor()->paste();
    QCOMPARE(m_box->text(), QStringLiteral("abcXY"));
}

void tst_WPTextBoxFaults::hugeRestoredMarginsAreRefused()
{
    const PropertyBag bag = PropertyBag::fromStringList(
        {"leftmargin=2147483647", "rightmargin=2147483647", "topmargin=99999999999",
         "text=abc"});
    m_box->ReadProperties(bag);
    m_box->resize(200, 30);
    QCOMPARE(m_box->leftMargin(), 0);
    QCOMPARE(m_box->rightMargin(), 0);
    QCOMPARE(m_box->topMargin(), 0);
    QCOMPARE(m_box->editor()->geometry(), QRect(2, 2, 196, 26));

    // Values the setters take restore as they are.
    m_box->ReadProperties(PropertyBag::fromStringList({"leftmargin=32767", "topmargin=3"}));
    QCOMPARE(m_box->leftMargin(), 32767);
    QCOMPARE(m_box->topMargin(), 3);
}

void tst_WPTextBoxFaults::maskStyleFollowsApplicationStyle()
{
    // The offscreen platform's default style is Fusion: choose another one.
    const QString previous = QApplication::style()->name();
    QApplication::setStyle(QStringLiteral("Windows"));
    m_box->setPasswordChar(QStringLiteral("*"));
    const auto *proxy = qobject_cast<QProxyStyle *>(m_box->editor()->style());
    QVERIFY(proxy);
    QCOMPARE(proxy->baseStyle()->name().toLower(), QStringLiteral("windows"));
    QCOMPARE(m_box->editor()->echoMode(), QLineEdit::Password);
    m_window.reset();
    QApplication::setStyle(previous);
}

void tst_WPTextBoxFaults::selStartPastEndIsRefused()
{
    m_box->editor()->setCursorPosition(1);
    QSignalSpy changes(m_box, &WPTextBox::propertyChanged);
    QVERIFY(!m_box->setSelStart(4));
    QCOMPARE(m_box->selStart(), 1);
    QVERIFY(!m_box->setProperty("SelStart", 99) || m_box->selStart() == 1);
    QCOMPARE(m_box->selStart(), 1);
    QCOMPARE(changes.count(), 0);
    QVERIFY(m_box->setSelStart(3));
    QCOMPARE(changes.count(), 1);
}

TOVRIKA_TEST_MAIN(tst_WPTextBoxFaults)
#include "tst_WPTextBoxFaults.moc"

// Checks WPTextBox's properties and events as a container uses them: the
// change report of every setter with the property's exact name, the refused
// Alignment and IMEMode values, selection and length limits, the masking
// character, the focus rules (focus handed to txtOld, SelectOnFocus, the input
// method closed on focus loss and kept off by IMEMode 3) and the re-raised
// key and mouse events.

#include "controls/WPTextBox.h"
#include "support/TestMain.h"

#include <QLineEdit>
#include <QMetaProperty>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_WPTextBoxProperties : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void eighteenPropertiesWithTextAsDefault();
    void settersReportTheirName_data();
    void settersReportTheirName();
    void enabledReportsEnabledAndBackColor();
    void alignmentAndIMEModeRefuseValues_data();
    void alignmentAndIMEModeRefuseValues();
    void alignmentReachesInnerBox();
    void selection();
    void maxLengthLimitsTyping();
    void passwordChar();
    void innerBoxCarriesTheValues();
    void tabbingInSelectsAll();
    void tabbingInWithoutSelectOnFocusKeepsSelection();
    void focusGoesToInnerBox();
    void losingFocusClosesInputMethod();
    void imeModeThreeKeepsInputMethodOff();
    void keyDownAndKeyUp();
    void keyDownHandlerCanSwallowKey();
    void mouseEvents();

private:
    std::unique_ptr<QWidget> m_window;
    QPushButton *m_button = nullptr;
    WPTextBox *m_box = nullptr;
    int m_closes = 0;
};

void tst_WPTextBoxProperties::init()
{
    m_window = std::make_unique<QWidget>();
    m_window->resize(300, 100);
    m_button = new QPushButton(QStringLiteral("OK"), m_window.get());
    m_button->setGeometry(10, 50, 80, 25);
    m_box = new WPTextBox(m_window.get());
    m_box->setGeometry(10, 10, 145, 21);
    m_box->setBeep([] {});
    m_closes = 0;
    m_box->setInputMethodCloser([this] { ++m_closes; });
    QWidget::setTabOrder(m_button, m_box);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void tst_WPTextBoxProperties::cleanup()
{
    m_window.reset();
}

void tst_WPTextBoxProperties::eighteenPropertiesWithTextAsDefault()
{
    const QStringList expected{"ForeColor", "Font", "Alignment", "IMEMode", "Text", "ToolTipText",
                               "SelStart", "SelLength", "MaxLength", "SelectOnFocus", "Enabled",
                               "PasswordChar", "CheckMode", "CheckPattern", "LeftMargin",
                               "TopMargin", "BackColor", "RightMargin"};
    const QMetaObject *meta = m_box->metaObject();
    QStringList own;
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        own.append(QString::fromLatin1(meta->property(i).name()));
    QCOMPARE(own, expected);
    QCOMPARE(QString::fromLatin1(meta->userProperty().name()), QStringLiteral("Text"));
}

void tst_WPTextBoxProperties::settersReportTheirName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("value");
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSize(9);
    QTest::newRow("ForeColor") << "ForeColor" << QVariant(uint(0x000000FF));
    QTest::newRow("Font") << "Font" << QVariant(font);
    QTest::newRow("Alignment") << "Alignment" << QVariant(2);
    QTest::newRow("IMEMode") << "IMEMode" << QVariant(3);
    QTest::newRow("Text") << "Text" << QVariant(QStringLiteral("abc"));
    QTest::newRow("ToolTipText") << "ToolTipText" << QVariant(QStringLiteral("tip"));
    QTest::newRow("SelStart") << "SelStart" << QVariant(2);
    QTest::newRow("SelLength") << "SelLength" << QVariant(3);
    QTest::newRow("MaxLength") << "MaxLength" << QVariant(15);
    QTest::newRow("SelectOnFocus") << "SelectOnFocus" << QVariant(false);
    QTest::newRow("PasswordChar") << "PasswordChar" << QVariant(QStringLiteral("*"));
    QTest::newRow("CheckMode") << "CheckMode" << QVariant(3);
    QTest::newRow("CheckPattern") << "CheckPattern" << QVariant(QStringLiteral("#"));
    QTest::newRow("LeftMargin") << "LeftMargin" << QVariant(2);
    QTest::newRow("TopMargin") << "TopMargin" << QVariant(2);
    QTest::newRow("BackColor") << "BackColor" << QVariant(uint(0x00FFFF00));
    QTest::newRow("RightMargin") << "RightMargin" << QVariant(1);
}

// Fonts read back resolved against the container's, so compare what was set.
static bool sameFont(const QFont &a, const QFont &b)
{
    return a.family() == b.family() && a.pointSizeF() == b.pointSizeF() && a.weight() == b.weight();
}

void tst_WPTextBoxProperties::settersReportTheirName()
{
    QFETCH(QString, name);
    QFETCH(QVariant, value);
    QSignalSpy reports(m_box, &WPTextBox::propertyChanged);
    QVERIFY(m_box->setProperty(qPrintable(name), value));
    QCOMPARE(reports.count(), 1);
    QCOMPARE(reports[0][0].toString(), name);
    const QVariant stored = m_box->property(qPrintable(name));
    if (name == "Font")
        QVERIFY(sameFont(stored.value<QFont>(), value.value<QFont>()));
    else
        QCOMPARE(stored, value);
}

void tst_WPTextBoxProperties::enabledReportsEnabledAndBackColor()
{
    QSignalSpy reports(m_box, &WPTextBox::propertyChanged);
    m_box->setProperty("Enabled", false);
    QCOMPARE(reports.count(), 2);
    QCOMPARE(reports[0][0].toString(), QStringLiteral("Enabled"));
    QCOMPARE(reports[1][0].toString(), QStringLiteral("BackColor"));
    QCOMPARE(m_box->property("Enabled").toBool(), false);
    QVERIFY(!m_box->editor()->isEnabled());  // out of reach through its container
}

void tst_WPTextBoxProperties::alignmentAndIMEModeRefuseValues_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("value");
    QTest::newRow("Alignment beyond 16 bits") << "Alignment" << 70000;
    QTest::newRow("Alignment below 16 bits") << "Alignment" << -40000;
    QTest::newRow("Alignment 3") << "Alignment" << 3;
    QTest::newRow("IMEMode beyond 16 bits") << "IMEMode" << 65536;
    QTest::newRow("IMEMode negative") << "IMEMode" << -1;
}

void tst_WPTextBoxProperties::alignmentAndIMEModeRefuseValues()
{
    QFETCH(QString, name);
    QFETCH(int, value);
    QVERIFY(m_box->setAlignment(1));
    QVERIFY(m_box->setIMEMode(2));
    const int before = m_box->property(qPrintable(name)).toInt();
    QSignalSpy reports(m_box, &WPTextBox::propertyChanged);
    const bool accepted = name == "Alignment" ? m_box->setAlignment(value) : m_box->setIMEMode(value);
    QVERIFY(!accepted);
    m_box->setProperty(qPrintable(name), value);
    QCOMPARE(m_box->property(qPrintable(name)).toInt(), before);
    QCOMPARE(reports.count(), 0);
}

void tst_WPTextBoxProperties::alignmentReachesInnerBox()
{
    m_box->setAlignment(1);
    QVERIFY(m_box->editor()->alignment() & Qt::AlignRight);
    m_box->setAlignment(2);
    QVERIFY(m_box->editor()->alignment() & Qt::AlignHCenter);
    QCOMPARE(m_box->alignment(), 2);
}

void tst_WPTextBoxProperties::selection()
{
    m_box->setText(QStringLiteral("hello"));
    QVERIFY(m_box->setSelStart(1));
    QCOMPARE(m_box->selLength(), 0);
    QVERIFY(m_box->setSelLength(3));
    QCOMPARE(m_box->editor()->selectedText(), QStringLiteral("ell"));
    QCOMPARE(m_box->selStart(), 1);
    QVERIFY(m_box->setMaxLength(10));  // QLineEdit alone would drop the selection
    QCOMPARE(m_box->editor()->selectedText(), QStringLiteral("ell"));
    QVERIFY(m_box->setSelLength(99));  // clamped at the end
    QCOMPARE(m_box->editor()->selectedText(), QStringLiteral("ello"));
    QVERIFY(m_box->setSelStart(5));  // the end itself is a place
    QCOMPARE(m_box->selStart(), 5);
    QVERIFY(!m_box->setSelStart(-1));
    QVERIFY(!m_box->setSelLength(-1));
    QCOMPARE(m_box->selStart(), 5);
}

void tst_WPTextBoxProperties::maxLengthLimitsTyping()
{
    m_box->setText(QString());
    QCOMPARE(m_box->maxLength(), 0);
    m_box->setMaxLength(3);
    QTest::keyClicks(m_box->editor(), QStringLiteral("abcd"));
    QCOMPARE(m_box->text(), QStringLiteral("abc"));
    QVERIFY(!m_box->setMaxLength(-1));
    QCOMPARE(m_box->maxLength(), 3);
    m_box->setMaxLength(0);
    QTest::keyClicks(m_box->editor(), QString(100, QLatin1Char('x')));
    QCOMPARE(m_box->text().size(), 103);
}

void tst_WPTextBoxProperties::passwordChar()
{
    m_box->setText(QStringLiteral("abc"));
    m_box->setPasswordChar(QStringLiteral("#?"));
    QCOMPARE(m_box->passwordChar(), QStringLiteral("#"));
    QCOMPARE(m_box->editor()->displayText(), QStringLiteral("###"));
    QCOMPARE(m_box->text(), QStringLiteral("abc"));
    m_box->setPasswordChar(QString());
    QCOMPARE(m_box->editor()->displayText(), QStringLiteral("abc"));
    QCOMPARE(m_box->passwordChar(), QString());
}

void tst_WPTextBoxProperties::innerBoxCarriesTheValues()
{
    m_box->setForeColor(0x00FF0000);
    QCOMPARE(m_box->editor()->palette().color(QPalette::Text), QColor(0, 0, 255));
    m_box->setToolTipText(QStringLiteral("名前"));
    QCOMPARE(m_box->editor()->toolTip(), QStringLiteral("名前"));
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSizeF(9);
    m_box->setTextFont(font);
    QVERIFY(sameFont(m_box->editor()->font(), font));
    QVERIFY(sameFont(m_box->textFont(), font));
}

void tst_WPTextBoxProperties::tabbingInSelectsAll()
{
    m_box->setText(QStringLiteral("abc"));
    m_box->editor()->setCursorPosition(1);
    m_button->setFocus();
    QTest::keyClick(m_button, Qt::Key_Tab);
    QVERIFY(m_box->editor()->hasFocus());
    QCOMPARE(m_box->selStart(), 0);
    QCOMPARE(m_box->selLength(), 3);
}

void tst_WPTextBoxProperties::tabbingInWithoutSelectOnFocusKeepsSelection()
{
    m_box->setSelectOnFocus(false);
    m_box->setText(QStringLiteral("abc"));
    m_box->editor()->setCursorPosition(1);
    m_button->setFocus();
    QTest::keyClick(m_button, Qt::Key_Tab);
    QVERIFY(m_box->editor()->hasFocus());
    QCOMPARE(m_box->selLength(), 0);
    QCOMPARE(m_box->selStart(), 1);

    m_button->setFocus();
    m_box->editor()->setSelection(2, -2);  // selected backwards, caret at 0
    QTest::keyClick(m_button, Qt::Key_Tab);
    QCOMPARE(m_box->selStart(), 0);
    QCOMPARE(m_box->selLength(), 2);
    QCOMPARE(m_box->editor()->cursorPosition(), 0);
}

void tst_WPTextBoxProperties::focusGoesToInnerBox()
{
    m_button->setFocus();
    m_box->setFocus();
    QVERIFY(m_box->editor()->hasFocus());
    QCOMPARE(QApplication::focusWidget(), m_box->editor());
}

void tst_WPTextBoxProperties::losingFocusClosesInputMethod()
{
    m_box->setFocus();
    QCOMPARE(m_closes, 0);
    m_button->setFocus();
    QCOMPARE(m_closes, 1);
}

// Asks the focus object the way the platform input contexts do before they
// open an input method.
static bool inputMethodAccepted()
{
    QInputMethodQueryEvent query(Qt::ImEnabled);
    QCoreApplication::sendEvent(QGuiApplication::focusObject(), &query);
    return query.value(Qt::ImEnabled).toBool();
}

void tst_WPTextBoxProperties::imeModeThreeKeepsInputMethodOff()
{
    QVERIFY(m_box->editor()->testAttribute(Qt::WA_InputMethodEnabled));
    m_box->setIMEMode(3);
    m_box->setFocus();
    QVERIFY(!m_box->editor()->testAttribute(Qt::WA_InputMethodEnabled));
    QVERIFY(!inputMethodAccepted());
    m_box->setPasswordChar(QStringLiteral("*"));  // QLineEdit resets the attribute here
    m_box->setPasswordChar(QString());
    QVERIFY(!m_box->editor()->testAttribute(Qt::WA_InputMethodEnabled));
    m_box->setIMEMode(0);
    QVERIFY(m_box->editor()->testAttribute(Qt::WA_InputMethodEnabled));
    QVERIFY(inputMethodAccepted());
}

void tst_WPTextBoxProperties::keyDownAndKeyUp()
{
    QList<QPair<int, int>> downs, ups;
    // QTest presses the modifier keys too; those are left out here.
    const auto record = [](QList<QPair<int, int>> &list) {
        return [&list](int &code, int &shift) {
            if (code != Qt::Key_Shift && code != Qt::Key_Control)
                list.append({code, shift});
        };
    };
    connect(m_box, &WPTextBox::KeyDown, this, record(downs));
    connect(m_box, &WPTextBox::KeyUp, this, record(ups));
    QTest::keyClick(m_box->editor(), Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::keyClick(m_box->editor(), Qt::Key_A);
    const QList<QPair<int, int>> expected{{Qt::Key_Left, 3}, {Qt::Key_A, 0}};
    QCOMPARE(downs, expected);
    QCOMPARE(ups, expected);
}

void tst_WPTextBoxProperties::keyDownHandlerCanSwallowKey()
{
    m_box->setText(QString());
    int presses = 0;
    connect(m_box, &WPTextBox::KeyDown, this, [](int &code, int &) {
        if (code == Qt::Key_B)
            code = 0;
    });
    connect(m_box, &WPTextBox::KeyPress, this, [&presses](int &) { ++presses; });
    QTest::keyClicks(m_box->editor(), QStringLiteral("abc"));
    QCOMPARE(m_box->text(), QStringLiteral("ac"));
    QCOMPARE(presses, 2);
}

void tst_WPTextBoxProperties::mouseEvents()
{
    QStringList events;
    const auto record = [&events](const char *name) {
        return [&events, name](int &button, int &shift, float &x, float &y) {
            events.append(QStringLiteral("%1 %2 %3 %4,%5").arg(QLatin1String(name)).arg(button).arg(shift).arg(x).arg(y));
        };
    };
    connect(m_box, &WPTextBox::MouseDown, this, record("down"));
    connect(m_box, &WPTextBox::MouseUp, this, record("up"));
    connect(m_box, &WPTextBox::MouseMove, this, record("move"));
    connect(m_box, &WPTextBox::Click, this, [&events] { events.append(QStringLiteral("click")); });
    connect(m_box, &WPTextBox::DblClick, this, [&events] { events.append(QStringLiteral("dblclick")); });

    QTest::mouseMove(m_box->editor(), QPoint(7, 5));
    QTest::mouseClick(m_box->editor(), Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 5));
    QTest::mouseClick(m_box->editor(), Qt::RightButton, {}, QPoint(11, 6));
    QCOMPARE(events, (QStringList{"move 0 0 7,5", "down 1 1 10,5", "up 1 1 10,5", "click",
                                  "down 2 0 11,6", "up 2 0 11,6"}));
    events.clear();
    QTest::mouseDClick(m_box->editor(), Qt::LeftButton, {}, QPoint(10, 5));
    QVERIFY(events.contains(QStringLiteral("dblclick")));
    QCOMPARE(events.count(QStringLiteral("click")), events.indexOf(QStringLiteral("dblclick")) > 0 ? 1 : 0);
}

TOVRIKA_TEST_MAIN(tst_WPTextBoxProperties)
#include "tst_WPTextBoxProperties.moc"

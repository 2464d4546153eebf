// Checks WPTextBox's input filter through real key events, a real paste and
// real Text assignments: the order of the key test (the container's KeyPress
// first, Ctrl, Enter, space and Backspace), the change test with its nested
// second Change and its single beep, and every check mode.

#include "controls/WPTextBox.h"
#include "support/TestMain.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_WPTextBoxInput : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void typedKeys_data();
    void typedKeys();
    void pasteDigitsWithLetter();
    void pasteOnlyLetters();
    void spaceInAlphaModeIsInsertedThenRemoved();
    void enterIsDiscardedWithoutBeep_data();
    void enterIsDiscardedWithoutBeep();
    void enterReachesTheContainer();
    void containerZeroingTheCodeMakesControlBeep_data();
    void containerZeroingTheCodeMakesControlBeep();
    void containerChangingTheCodeChangesTheCharacter();
    void containerSeesEnterFirst();
    void ctrlKeysPassAndCtrlVPasteIsCleaned();
    void assignedTextIsFiltered();
    void modeChangeDoesNotRefilter();
    void storedInvalidTextGoesAtFirstChange();
    void japaneseCommittedByInputMethodIsRemoved();
    void tabIsNotAKeyToTest();

private:
    void type(const QString &keys);

    std::unique_ptr<QWidget> m_window;
    WPTextBox *m_box = nullptr;
    int m_beeps = 0;
    QStringList m_changes;  // the text at each Change
    QStringList m_log;      // Changes and beeps in their order
};

// Real key events; characters outside Latin-1 arrive as a key carrying only
// its text, as a keyboard layout or a direct-input method delivers them.
void tst_WPTextBoxInput::type(const QString &keys)
{
    for (const QChar c : keys) {
        if (c.unicode() < 0x100) {
            QTest::keyClick(m_box->editor(), c.toLatin1());
        } else {
            QTest::sendKeyEvent(QTest::Press, m_box->editor(), Qt::Key_unknown, QString(c), {});
            QTest::sendKeyEvent(QTest::Release, m_box->editor(), Qt::Key_unknown, QString(c), {});
        }
    }
}

void tst_WPTextBoxInput::init()
{
    m_window = std::make_unique<QWidget>();
    m_window->resize(300, 100);
    m_box = new WPTextBox(m_window.get());
    m_box->setGeometry(10, 10, 145, 21);
    m_box->setBeep([this] {
        ++m_beeps;
        m_log.append(QStringLiteral("beep"));
    });
    connect(m_box, &WPTextBox::Change, this, [this] {
        m_changes.append(m_box->text());
        m_log.append(QStringLiteral("Change ") + m_box->text());
    });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_box->editor()->setFocus();
    m_box->setText(QString());
    m_beeps = 0;
    m_changes.clear();
    m_log.clear();
}

void tst_WPTextBoxInput::cleanup()
{
    m_window.reset();
}

void tst_WPTextBoxInput::typedKeys_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("beeps");

    QTest::newRow("none") << 0 << "" << "a1 ~" << "a1 ~" << 0;
    QTest::newRow("digits, letter a") << 1 << "" << "a" << "" << 1;
    QTest::newRow("digits") << 1 << "" << "1x2y3" << "123" << 2;
    QTest::newRow("alpha") << 2 << "" << "aZ9_b" << "aZb" << 2;
    QTest::newRow("alphanumeric") << 3 << "" << "Ab9-_z" << "Ab9z" << 2;
    QTest::newRow("printable tilde") << 4 << "" << "~" << "~" << 0;
    QTest::newRow("printable space") << 4 << "" << "a b" << "a b" << 0;
    QTest::newRow("printable escape") << 4 << "" << "\x1b" << "" << 1;
    QTest::newRow("printable full width") << 4 << "" << "Ａあ" << "" << 2;
    QTest::newRow("alphanumeric Japanese") << 3 << "" << "漢a字" << "a" << 2;
    QTest::newRow("mode 7 filters nothing") << 7 << "" << "x!あ" << "x!あ" << 0;
    QTest::newRow("custom empty") << 9 << "" << "x!あ" << "x!あ" << 0;
    QTest::newRow("custom hex") << 9 << "[0-9A-F]" << "A7a" << "A7" << 1;
    QTest::newRow("custom admits space") << 9 << "[ a]" << "a a" << "a a" << 0;
    QTest::newRow("custom unclosed") << 9 << "[" << "[a" << "[" << 1;
}

void tst_WPTextBoxInput::typedKeys()
{
    QFETCH(int, mode);
    QFETCH(QString, pattern);
    QFETCH(QString, keys);
    QFETCH(QString, expected);
    QFETCH(int, beeps);
    m_box->setCheckMode(mode);
    m_box->setCheckPattern(pattern);
    type(keys);
    QCOMPARE(m_box->text(), expected);
    QCOMPARE(m_beeps, beeps);
    // A rejected key never reached txtOld: one Change per character kept.
    QCOMPARE(m_changes.size(), int(expected.size()));
}

void tst_WPTextBoxInput::pasteDigitsWithLetter()
{
    m_box->setCheckMode(WPTextBox::CheckDigits);
    QApplication::clipboard()->setText(QStringLiteral("12a3"));
    m_box->editor()->paste();
    QCOMPARE(m_box->text(), QStringLiteral("123"));
    QCOMPARE(m_log, (QStringList{"Change 12a3", "Change 123", "beep"}));
    QCOMPARE(m_box->editor()->cursorPosition(), 3);  // where setText leaves it
}

void tst_WPTextBoxInput::pasteOnlyLetters()
{
    m_box->setCheckMode(WPTextBox::CheckDigits);
    QApplication::clipboard()->setText(QStringLiteral("ab"));
    m_box->editor()->paste();
    QCOMPARE(m_box->text(), QString());
    QCOMPARE(m_changes, (QStringList{"ab", ""}));
    QCOMPARE(m_beeps, 1);
}

void tst_WPTextBoxInput::spaceInAlphaModeIsInsertedThenRemoved()
{
    m_box->setCheckMode(WPTextBox::CheckAlpha);
    type("ab");
    m_changes.clear();
    QTest::keyClick(m_box->editor(), Qt::Key_Space);
    QCOMPARE(m_changes, (QStringList{"ab ", "ab"}));
    QCOMPARE(m_box->text(), QStringLiteral("ab"));
    QCOMPARE(m_beeps, 1);
}

void tst_WPTextBoxInput::enterIsDiscardedWithoutBeep_data()
{
    QTest::addColumn<int>("mode");
    for (int mode : {0, 1, 2, 3, 4, 7, 9})
        QTest::addRow("mode %d", mode) << mode;
}

void tst_WPTextBoxInput::enterIsDiscardedWithoutBeep()
{
    QFETCH(int, mode);
    m_box->setCheckMode(mode);
    QSignalSpy returns(m_box->editor(), &QLineEdit::returnPressed);
    QTest::keyClick(m_box->editor(), Qt::Key_Return);
    QTest::keyClick(m_box->editor(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(m_beeps, 0);
    QCOMPARE(returns.count(), 0);  // txtOld never saw it
    QCOMPARE(m_box->text(), QString());
}

// A discarded key is left for the container, so a dialog's default button
// still answers Enter.
class KeyRecorder : public QWidget
{
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override { keys.append(event->key()); }
};

void tst_WPTextBoxInput::enterReachesTheContainer()
{
    KeyRecorder window;
    auto *box = new WPTextBox(&window);
    box->setBeep([this] { ++m_beeps; });
    box->setCheckMode(WPTextBox::CheckAlphaNumeric);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    box->setText(QString());
    QTest::keyClick(box->editor(), Qt::Key_Return);
    QTest::keyClick(box->editor(), Qt::Key_A);
    QCOMPARE(window.keys, QList<int>{Qt::Key_Return});
    QCOMPARE(box->text(), QStringLiteral("a"));
}

void tst_WPTextBoxInput::containerZeroingTheCodeMakesControlBeep_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("beeps");
    QTest::newRow("none") << 0 << 0;
    for (int mode = 1; mode <= 4; ++mode)
        QTest::addRow("mode %d", mode) << mode << 1;
    QTest::newRow("custom admitting anything") << 9 << 0;
}

void tst_WPTextBoxInput::containerZeroingTheCodeMakesControlBeep()
{
    QFETCH(int, mode);
    QFETCH(int, beeps);
    m_box->setCheckMode(mode);
    m_box->setCheckPattern(QStringLiteral("?"));
    connect(m_box, &WPTextBox::KeyPress, this, [](int &keyAscii) { keyAscii = 0; });
    QTest::keyClick(m_box->editor(), Qt::Key_1);
    QCOMPARE(m_beeps, beeps);
    QCOMPARE(m_box->text(), QString());  // code 0 inserts nothing in any mode
}

void tst_WPTextBoxInput::containerChangingTheCodeChangesTheCharacter()
{
    m_box->setCheckMode(WPTextBox::CheckDigits);
    connect(m_box, &WPTextBox::KeyPress, this, [](int &keyAscii) {
        if (keyAscii == 'o')
            keyAscii = '0';
        else if (keyAscii == 'x')
            keyAscii = 'y';
        else if (keyAscii == '-')
            keyAscii = 8;  // Backspace
    });
    type("1o");
    QCOMPARE(m_box->text(), QStringLiteral("10"));
    QCOMPARE(m_beeps, 0);
    type("x");  // changed to y, which the digits mode rejects
    QCOMPARE(m_box->text(), QStringLiteral("10"));
    QCOMPARE(m_beeps, 1);
    type("-");
    QCOMPARE(m_box->text(), QStringLiteral("1"));
}

void tst_WPTextBoxInput::containerSeesEnterFirst()
{
    QList<int> seen;
    connect(m_box, &WPTextBox::KeyPress, this, [&seen](int &keyAscii) { seen.append(keyAscii); });
    m_box->setCheckMode(WPTextBox::CheckDigits);
    QTest::keyClick(m_box->editor(), Qt::Key_Return);
    QTest::keyClick(m_box->editor(), Qt::Key_A);
    QTest::keyClick(m_box->editor(), Qt::Key_Left);  // no character: no KeyPress
    QCOMPARE(seen, (QList<int>{13, 'a'}));
}

void tst_WPTextBoxInput::ctrlKeysPassAndCtrlVPasteIsCleaned()
{
    m_box->setCheckMode(WPTextBox::CheckDigits);
    QApplication::clipboard()->setText(QStringLiteral("x1y2"));
    QTest::keyClick(m_box->editor(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(m_box->text(), QStringLiteral("12"));
    QCOMPARE(m_changes, (QStringList{"x1y2", "12"}));
    QCOMPARE(m_beeps, 1);
    QTest::keyClick(m_box->editor(), Qt::Key_A, Qt::ControlModifier);  // select all, no beep
    QCOMPARE(m_beeps, 1);
    QCOMPARE(m_box->editor()->selectedText(), QStringLiteral("12"));
}

void tst_WPTextBoxInput::assignedTextIsFiltered()
{
    m_box->setCheckMode(WPTextBox::CheckDigits);
    m_box->setText(QStringLiteral("x1y2"));
    QCOMPARE(m_box->text(), QStringLiteral("12"));
    QCOMPARE(m_changes, (QStringList{"x1y2", "12"}));
    QCOMPARE(m_beeps, 1);
    m_box->setProperty("Text", QStringLiteral("3a"));
    QCOMPARE(m_box->property("Text").toString(), QStringLiteral("3"));
    QCOMPARE(m_beeps, 2);
}

void tst_WPTextBoxInput::modeChangeDoesNotRefilter()
{
    m_box->setText(QStringLiteral("ab1"));
    m_box->setCheckMode(WPTextBox::CheckDigits);
    QCOMPARE(m_box->text(), QStringLiteral("ab1"));
    QCOMPARE(m_beeps, 0);
}

void tst_WPTextBoxInput::storedInvalidTextGoesAtFirstChange()
{
    m_box->setText(QStringLiteral("a1b2c"));
    m_box->setCheckMode(WPTextBox::CheckDigits);
    m_changes.clear();
    m_box->editor()->setCursorPosition(5);
    QTest::keyClick(m_box->editor(), Qt::Key_Backspace);
    QCOMPARE(m_box->text(), QStringLiteral("12"));
    QCOMPARE(m_changes, (QStringList{"a1b2", "12"}));
    QCOMPARE(m_beeps, 1);
}

void tst_WPTextBoxInput::japaneseCommittedByInputMethodIsRemoved()
{
    m_box->setCheckMode(WPTextBox::CheckAlphaNumeric);
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("かな"));
    QCoreApplication::sendEvent(m_box->editor(), &commit);
    QCOMPARE(m_box->text(), QString());
    QCOMPARE(m_beeps, 1);
}

void tst_WPTextBoxInput::tabIsNotAKeyToTest()
{
    auto *next = new QLineEdit(m_window.get());
    next->move(10, 50);
    next->show();
    m_box->setCheckMode(WPTextBox::CheckAlphaNumeric);
    int presses = 0;
    connect(m_box, &WPTextBox::KeyPress, this, [&presses](int &) { ++presses; });
    QTest::keyClick(m_box->editor(), Qt::Key_Tab);
    QCOMPARE(m_beeps, 0);
    QCOMPARE(presses, 0);
    QVERIFY(next->hasFocus());
}

TOVRIKA_TEST_MAIN(tst_WPTextBoxInput)
#include "tst_WPTextBoxInput.moc"

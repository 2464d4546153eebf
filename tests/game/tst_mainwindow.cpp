// Checks the main window as defined and as loaded: every control's initial
// state, the ready state, the mode list with its high scores, clearing a
// high score, the two web pages (and the error box with the address when no
// browser starts), and the key preview with real key events.

#include "game/frmMain.h"
#include "controls/FocusRingStyle.h"
#include "shell/WindowDefinition.h"
#include "shell/modCommon.h"
#include "shell/modMain.h"
#include "support/TestMain.h"
#include "support/TestPlatform.h"

#include "ui_frmMain.h"

#include <QAbstractItemView>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void definitionAsCreated()
    {
        QWidget window;
        Ui::frmMain ui;
        ui.setupUi(&window);
        applyExactPointSizes(&window);

        QCOMPARE(window.windowTitle(), QStringLiteral("Tovrika？"));
        QCOMPARE(window.size(), QSize(324, 156));
        QVERIFY(!ui.btnClear->isEnabled());
        QVERIFY(ui.btnRanking->isEnabled());
        QVERIFY(ui.btnWuppet->isEnabled());
        QCOMPARE(ui.cmbMode->count(), 0);
        QVERIFY(ui.cmbMode->isEnabled());
        QVERIFY(!ui.cmbMode->isEditable());
        QCOMPARE(ui.lblHiScore->text(), QStringLiteral("000"));
        QCOMPARE(ui.lblQuestion->text(), QStringLiteral("Hit any key～"));
        QCOMPARE(ui.lblAnswer->text(), QStringLiteral("5"));
        QCOMPARE(ui.lblHiCaption->text(), QStringLiteral("Hi-Score:"));
        QCOMPARE(ui.lblMessage2->text(), QStringLiteral("ESCを押すと途中で棄権します。"));
        QCOMPARE(ui.lblTitle->text(), QStringLiteral("The Tovrika ?  Ver.0.9.3"));
        QCOMPARE(ui.PB1->minimum(), 0);
        QCOMPARE(ui.PB1->maximum(), 100);

        // Twips / 15: the high score ends at the same right edge whatever its width.
        QCOMPARE(ui.lblHiScore->geometry(), QRect(192, 8, 25, 13));
        QCOMPARE(ui.lblHiScore->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        QCOMPARE(ui.lblQuestion->geometry(), QRect(80, 74, 153, 29));
        QCOMPARE(ui.lblAnswer->geometry(), QRect(260, 72, 37, 33));
        QCOMPARE(ui.PB1->geometry(), QRect(44, 36, 270, 17));
        QCOMPARE(ui.cmbMode->geometry(), QRect(4, 4, 121, 20));
        QCOMPARE(ui.btnClear->geometry(), QRect(228, 0, 33, 29));
        QCOMPARE(ui.btnWuppet->geometry(), QRect(292, 0, 33, 29));

        QCOMPARE(ui.lblQuestion->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(ui.lblQuestion->font().pointSizeF(), 18.0);
        QCOMPARE(ui.lblQuestion->font().weight(), QFont::Bold);
        QCOMPARE(ui.lblAnswer->font().pointSizeF(), 24.0);
        QCOMPARE(ui.lblHiScore->font().pointSizeF(), 9.75);
        QCOMPARE(ui.lblTitle->font().pointSizeF(), 8.25);
        QCOMPARE(foreColor(ui.lblMessage2), QColor(0x00, 0x00, 0x40));
        QCOMPARE(foreColor(ui.lblHiCaption), QColor(0xE0, 0xE0, 0xE0));

        QCOMPARE(ui.btnClear->toolTip(), QStringLiteral("ハイスコアをクリア。"));
        QCOMPARE(ui.btnRanking->toolTip(), QStringLiteral("インターネット上のランキングを表示。"));
        QVERIFY(ui.btnWuppet->toolTip().endsWith(QStringLiteral("のホームページを表示。")));

        // Exactly the four controls of Group1 carry a tag.
        QStringList tagged;
        for (QWidget *child : window.findChildren<QWidget *>()) {
            if (!tagOf(child).isEmpty()) {
                QCOMPARE(tagOf(child), QStringLiteral("Group1;"));
                tagged << child->objectName();
            }
        }
        tagged.sort();
        QCOMPARE(tagged, QStringList({"btnClear", "btnRanking", "btnWuppet", "cmbMode"}));

        // Front to back: child windows over everything, the labels over the
        // strips that the window paints behind them.
        QStringList backToFront;
        for (QObject *child : window.children())
            backToFront << child->objectName();
        QCOMPARE(backToFront,
                 QStringList({"lblQuestion", "lblAnswer", "lblHiCaption", "lblTitle", "lblMessage2",
                              "lblHiScore", "PB1", "btnClear", "cmbMode", "btnRanking", "btnWuppet"}));

        // Tab order: mode list, clear, ranking, home page; labels take no focus.
        QCOMPARE(ui.cmbMode->nextInFocusChain(), ui.btnClear);
        QCOMPARE(ui.btnClear->nextInFocusChain(), ui.btnRanking);
        QCOMPARE(ui.btnRanking->nextInFocusChain(), ui.btnWuppet);
        QCOMPARE(ui.lblQuestion->focusPolicy(), Qt::NoFocus);
        QCOMPARE(ui.PB1->focusPolicy(), Qt::NoFocus);
    }

    void readyStateAfterLoad()
    {
        TestPlatform t;
        frmMain w(t.platform);
        auto &ui = w.controls();

        QCOMPARE(ui.cmbMode->count(), 6);
        QCOMPARE(ui.cmbMode->itemText(0), QStringLiteral("30秒間激走モード"));
        QCOMPARE(ui.cmbMode->itemText(1), QStringLiteral("90秒間耐久モード"));
        QCOMPARE(ui.cmbMode->itemText(2), QStringLiteral("Tovrika養成マシン"));
        QCOMPARE(ui.cmbMode->itemText(3), QStringLiteral("足し算マシン"));
        QCOMPARE(ui.cmbMode->itemText(4), QStringLiteral("引き算マシン"));
        QCOMPARE(ui.cmbMode->itemText(5), QStringLiteral("掛け算マシン"));
        QCOMPARE(ui.cmbMode->currentIndex(), 0);
        QCOMPARE(w.nMode, qint16(0));
        QCOMPARE(ui.lblHiScore->text(), QStringLiteral("0"));
        QVERIFY(ui.btnClear->isEnabled());
        QVERIFY(!w.gameTimer().isActive());
        QVERIFY(!w.isPlaying());
        QCOMPARE(ui.PB1->value(), ui.PB1->maximum());
        QCOMPARE(ui.lblQuestion->text(), QStringLiteral("Hit any key～"));
        QCOMPARE(ui.lblAnswer->text(), QStringLiteral("!!"));
        QCOMPARE(foreColor(ui.lblAnswer), QColor(Qt::black));
        QCOMPARE(ui.lblMessage2->text(), QStringLiteral("何かキーを押すと突然開始します。"));
        QVERIFY(ui.lblTitle->text().startsWith(QStringLiteral("Tovrika？ Ver.1.0.0  ")));
        QVERIFY(ui.lblTitle->text().size() > QStringLiteral("Tovrika？ Ver.1.0.0  ").size());
        QCOMPARE(foreColor(ui.lblTitle), QColor(Qt::white));
        QCOMPARE(foreColor(ui.lblHiScore), QColor(Qt::white));
        QCOMPARE(foreColor(ui.lblHiCaption), QColor(Qt::white));
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!w.testAttribute(Qt::WA_InputMethodEnabled));
        QVERIFY(!ui.cmbMode->testAttribute(Qt::WA_InputMethodEnabled));

        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), ui.cmbMode);

        // The strips: grey behind the mode list, black along the top and
        // the bottom, the backdrop between them.
        const QImage shown = w.grab().toImage();
        QCOMPARE(shown.pixelColor(1, 1), QColor(0x40, 0x40, 0x40));
        QCOMPARE(shown.pixelColor(132, 2), QColor(Qt::black));
        QCOMPARE(shown.pixelColor(1, 150), QColor(Qt::black));
        QVERIFY(shown.pixelColor(1, 60) != QColor(Qt::black));
    }

    void modeSwitching()
    {
        TestPlatform t;
        t.store("mode0", "12");
        t.store("mode1", "34");
        frmMain w(t.platform);
        auto &ui = w.controls();
        QCOMPARE(ui.lblHiScore->text(), QStringLiteral("12"));

        for (int mode = 2; mode <= 5; ++mode) {
            ui.cmbMode->setCurrentIndex(mode);
            QCOMPARE(w.nMode, qint16(mode));
            QCOMPARE(ui.lblHiScore->text(), QStringLiteral("---"));
            QVERIFY(!ui.btnClear->isEnabled());
        }
        ui.cmbMode->setCurrentIndex(1);
        QCOMPARE(ui.lblHiScore->text(), QStringLiteral("34"));
        QVERIFY(ui.btnClear->isEnabled());
        ui.cmbMode->setCurrentIndex(0);
        QCOMPARE(ui.lblHiScore->text(), QStringLiteral("12"));
        QVERIFY(ui.btnClear->isEnabled());
    }

    void freshSettingsShowZero()
    {
        TestPlatform t;
        frmMain w(t.platform);
        QCOMPARE(w.controls().lblHiScore->text(), QStringLiteral("0"));
        w.controls().cmbMode->setCurrentIndex(1);
        QCOMPARE(w.controls().lblHiScore->text(), QStringLiteral("0"));
    }

    void clearing_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Yes clears") << true;
        QTest::newRow("No keeps") << false;
    }

    void clearing()
    {
        QFETCH(bool, yes);
        TestPlatform t;
        t.store("mode1", "88");
        frmMain w(t.platform);
        w.controls().cmbMode->setCurrentIndex(1);
        t.messages.setNextAnswer(yes);
        w.controls().btnClear->click();

        QCOMPARE(t.messages.shown.size(), 1);
        QCOMPARE(t.messages.shown[0].kind, PresetMessageBoxes::Shown::Ask);
        QCOMPARE(t.messages.shown[0].text,
                 QStringLiteral("ハイスコアをクリアします。間違えてクリアするととても残念です。\r\n"
                                "本当にクリアしますか？"));
        const QString expected = yes ? QStringLiteral("0") : QStringLiteral("88");
        QCOMPARE(w.controls().lblHiScore->text(), expected);
        QCOMPARE(t.stored("mode1"), expected);
        QCOMPARE(t.stored("mode0"), QString());
    }

    void clearingFreshSettingsWritesZero()
    {
        TestPlatform t;
        frmMain w(t.platform);
        t.messages.setNextAnswer(true);
        w.controls().btnClear->click();
        QCOMPARE(t.stored("mode0"), QStringLiteral("0"));
    }

    void webPages()
    {
        TestPlatform t;
        strUserID = QStringLiteral("-123456789");
        frmMain w(t.platform);
        w.controls().btnRanking->click();
        w.controls().btnWuppet->click();
        QCOMPARE(t.browser.opened.size(), 2);
        QCOMPARE(t.browser.opened[0].toString(QUrl::FullyEncoded),
                 QStringLiteral("http://maker.test/wuppet/wpbrand/tovrika/?id=-123456789"));
        QCOMPARE(t.browser.opened[1].toString(QUrl::FullyEncoded), QStringLiteral("http://maker.test/"));
        QVERIFY(t.messages.shown.isEmpty());
    }

    void webPageWithoutBrowser_data()
    {
        QTest::addColumn<bool>("ranking");
        QTest::addColumn<QString>("address");
        QTest::newRow("crown") << true << QStringLiteral("http://maker.test/wuppet/wpbrand/tovrika/?id=-123456789");
        QTest::newRow("home page") << false << QStringLiteral("http://maker.test/");
    }

    void webPageWithoutBrowser()
    {
        QFETCH(bool, ranking);
        QFETCH(QString, address);
        TestPlatform t;
        t.browser.starts = false;
        strUserID = QStringLiteral("-123456789");
        frmMain w(t.platform);
        (ranking ? w.controls().btnRanking : w.controls().btnWuppet)->click();
        QCOMPARE(t.browser.opened.size(), 1);
        QCOMPARE(t.messages.shown.size(), 1);
        QCOMPARE(t.messages.shown[0].kind, PresetMessageBoxes::Shown::Inform);
        QCOMPARE(t.messages.shown[0].icon, MessageBoxes::Icon::Error);
        QCOMPARE(t.messages.shown[0].text, QStringLiteral("ブラウザを起動できませんでした。\r\n"
                                                          "次のアドレスをブラウザで開いてください。\r\n")
                                               + address);
    }

    void modeListShowsItsFocusAndBuildsItsListWhenOpened()
    {
        TestPlatform t;
        frmMain w(t.platform);
        auto &ui = w.controls();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTRY_COMPARE(QApplication::focusWidget(), ui.cmbMode);
        QVERIFY(!ui.cmbMode->findChild<QAbstractItemView *>());
        const QImage shot = ui.cmbMode->grab().toImage();
        QCOMPARE(shot.pixel(0, shot.height() / 2), focusRingOuterRgb);
        QCOMPARE(shot.pixel(2, shot.height() / 2), focusRingInnerRgb);
        ui.cmbMode->showPopup();
        QVERIFY(ui.cmbMode->findChild<QAbstractItemView *>());
        ui.cmbMode->hidePopup();
    }

    void keyPreviewWithRealKeys()
    {
        TestPlatform t;
        frmMain w(t.platform);
        auto &ui = w.controls();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));

        // Arrows make no character: they reach the mode list and start nothing.
        QTest::keyClick(ui.cmbMode, Qt::Key_Down);
        QCOMPARE(ui.cmbMode->currentIndex(), 1);
        QVERIFY(!w.isPlaying());
        QTest::keyClick(ui.cmbMode, Qt::Key_Up);
        QCOMPARE(ui.cmbMode->currentIndex(), 0);

        // "T" would select "Tovrika養成マシン" if the list saw it.
        QTest::keyClick(ui.cmbMode, Qt::Key_T);
        QVERIFY(w.isPlaying());
        QCOMPARE(ui.cmbMode->currentIndex(), 0);
        QVERIFY(!ui.cmbMode->isEnabled());
        QVERIFY(!ui.btnRanking->isEnabled());

        // A keypad digit answers like a main-row digit.
        const int expected = w.expectedAnswer();
        QTest::keyClick(&w, Qt::Key(Qt::Key_0 + expected), Qt::KeypadModifier);
        QCOMPARE(w.nAnswerCnt, qint16(1));
        QCOMPARE(w.nScore, qint16(1));
        QCOMPARE(ui.lblAnswer->text(), QString::number(expected));

        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.isPlaying());
        QVERIFY(ui.cmbMode->isEnabled());
        QTRY_COMPARE(QApplication::focusWidget(), ui.cmbMode);

        QTest::keyClick(ui.cmbMode, Qt::Key_Escape);
        QVERIFY(!w.isVisible());
    }
};

TOVRIKA_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

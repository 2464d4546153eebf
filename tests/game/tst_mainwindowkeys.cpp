// Checks the main window by keyboard beyond single answers: Tab and
// Shift+Tab walk the controls in the ready state and start nothing, Space
// and Return press a focused button, a Tab during a game is no answer but
// says the time left (the pace in practice), keys typed into the dropped-down mode list
// reach the window (Esc only closes it), and a clearing that cannot be
// saved keeps showing the stored score and says so.
#include "game/frmMain.h"
#include "support/ReadOnlySettings.h"
#include "support/TestMain.h"
#include "support/TestPlatform.h"

#include "ui_frmMain.h"

#include <QAbstractItemView>

class TestMainWindowKeys : public QObject
{
    Q_OBJECT

private slots:
    void tabWalksTheControlsInTheReadyState()
    {
        TestPlatform t;
        frmMain w(t.platform);
        auto &ui = w.controls();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        ui.cmbMode->setFocus(Qt::OtherFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), ui.cmbMode);

        const QList<QWidget *> order{ui.btnClear, ui.btnRanking, ui.btnWuppet, ui.cmbMode};
        for (QWidget *next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY(!w.isPlaying());
            QCOMPARE(QApplication::focusWidget(), next);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(!w.isPlaying());
        QCOMPARE(QApplication::focusWidget(), ui.btnWuppet);

        // Space and Return press the focused button and start no game.
        QTest::keyClick(ui.btnWuppet, Qt::Key_Space);
        QVERIFY(!w.isPlaying());
        QCOMPARE(t.browser.opened.size(), 1);
        ui.btnRanking->setFocus(Qt::BacktabFocusReason);
        QTest::keyClick(ui.btnRanking, Qt::Key_Return);
        QVERIFY(!w.isPlaying());
        QCOMPARE(t.browser.opened.size(), 2);
        ui.btnClear->setFocus(Qt::BacktabFocusReason);
        QTest::keyClick(ui.btnClear, Qt::Key_Enter);
        QVERIFY(!w.isPlaying());
        QCOMPARE(t.messages.shown.size(), 1);
        QCOMPARE(t.messages.shown.at(0).kind, PresetMessageBoxes::Shown::Ask);

        // Any other key on a button starts a game.
        QTest::keyClick(ui.btnClear, Qt::Key_X);
        QVERIFY(w.isPlaying());
        QCOMPARE(t.browser.opened.size(), 2);

        // During a game a Tab is no answer and moves nothing; it says the
        // time left.
        QWidget *focused = QApplication::focusWidget();
        QTest::keyClick(focused, Qt::Key_Tab);
        QVERIFY(w.isPlaying());
        QCOMPARE(w.nAnswerCnt, qint16(0));
        QCOMPARE(QApplication::focusWidget(), focused);
        QCOMPARE(ui.lblQuestion->line(), QStringLiteral("残り 30 秒"));
        t.clock.advance(12150); // 17.8 s left: said as 18
        QTest::keyClick(focused, Qt::Key_Tab);
        QCOMPARE(ui.lblQuestion->line(), QStringLiteral("残り 18 秒"));
    }

    void timeLeftKeySaysThePaceInPractice()
    {
        TestPlatform t;
        frmMain w(t.platform);
        auto &ui = w.controls();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        ui.cmbMode->setCurrentIndex(3);
        QTest::keyClick(ui.cmbMode, Qt::Key_X);
        t.clock.advance(1500);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_0);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(ui.lblQuestion->line(), QStringLiteral("1500ミリ秒 < 30秒：20回ペース >"));
    }

    void keysInTheDroppedDownModeList()
    {
        TestPlatform t;
        frmMain w(t.platform);
        auto &ui = w.controls();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        ui.cmbMode->setCurrentIndex(1);

        // Esc closes the list and does nothing more: the game stays open.
        ui.cmbMode->showPopup();
        QTRY_VERIFY(ui.cmbMode->view()->isVisible());
        QTest::keyClick(ui.cmbMode->view(), Qt::Key_Escape);
        QTRY_VERIFY(!ui.cmbMode->view()->isVisible());
        QVERIFY(w.isVisible());
        QVERIFY(!w.isPlaying());

        // A character key closes it and starts a game of the selected mode.
        ui.cmbMode->showPopup();
        QTRY_VERIFY(ui.cmbMode->view()->isVisible());
        QTest::keyClick(ui.cmbMode->view(), Qt::Key_5);
        QTRY_VERIFY(!ui.cmbMode->view()->isVisible());
        QVERIFY(w.isPlaying());
        QCOMPARE(w.nMode, qint16(1));
        QCOMPARE(ui.cmbMode->currentIndex(), 1);
        QCOMPARE(w.nAnswerCnt, qint16(0)); // the starting key is not an answer
    }

    void clearingThatCannotBeSavedKeepsTheStoredScore()
    {
        TestPlatform t;
        t.store("mode1", "88");
        frmMain w(t.platform);
        auto &ui = w.controls();
        ui.cmbMode->setCurrentIndex(1);
        QCOMPARE(ui.lblHiScore->text(), QStringLiteral("88"));
        {
            ReadOnlySettings readOnly(t.iniFile());
            t.messages.setNextAnswer(true);
            ui.btnClear->click();
            QCOMPARE(ui.lblHiScore->text(), QStringLiteral("88"));
            QCOMPARE(t.messages.shown.size(), 2);
            QCOMPARE(t.messages.shown[1].kind, PresetMessageBoxes::Shown::Inform);
            QCOMPARE(t.messages.shown[1].icon, MessageBoxes::Icon::Error);
            QCOMPARE(t.messages.shown[1].text,
                     QStringLiteral("ハイスコアをクリアできませんでした。\r\n設定ファイルに保存できません。"));
            // Switching modes reads the store again: it still agrees.
            ui.cmbMode->setCurrentIndex(0);
            ui.cmbMode->setCurrentIndex(1);
            QCOMPARE(ui.lblHiScore->text(), QStringLiteral("88"));
        }
        QCOMPARE(t.stored("mode1"), QStringLiteral("88"));
    }
};

TOVRIKA_TEST_MAIN(TestMainWindowKeys)
#include "tst_mainwindowkeys.moc"

// Plays games against a fake clock: the end of a timed game, the penalties,
// the shortest and longest answers, new high scores (stored, congratulated,
// or reported as not saved), abandoning with ESC, the 301-answer record, and
// the practice modes' pace line. A 30-second game takes milliseconds here.

#include "game/frmMain.h"
#include "shell/WindowDefinition.h"
#include "support/NoResultMain.h"
#include "support/TestMain.h"
#include "support/TestPlatform.h"

#include "ui_frmMain.h"

#include <QFile>

namespace {

using PlayedMain = NoResultMain;

char16_t rightKey(const frmMain &w)
{
    return char16_t(u'0' + w.expectedAnswer());
}

char16_t wrongKey(const frmMain &w)
{
    return char16_t(u'0' + (w.expectedAnswer() + 1) % 10);
}

} // namespace

class TestGameLoop : public QObject
{
    Q_OBJECT

private slots:
    void thirtySecondGameWithoutKeys()
    {
        TestPlatform t;
        PlayedMain w(t.platform);
        w.Form_KeyPress(u'x');
        QVERIFY(w.isPlaying());
        QVERIFY(w.gameTimer().isActive());
        QCOMPARE(w.gameTimer().interval(), 100);
        QCOMPARE(w.gameTimer().timerType(), Qt::PreciseTimer);
        QCOMPARE(w.nTime, qint16(30));
        QCOMPARE(w.controls().PB1->maximum(), 300);
        QCOMPARE(w.nAnswerCnt, qint16(0)); // the starting key is no answer
        QCOMPARE(w.controls().lblMessage2->text(), QStringLiteral("ESCキーを押すと途中で棄権します。"));
        QCOMPARE(foreColor(w.controls().lblTitle), QColor(0x40, 0x40, 0x40));
        QVERIFY(!w.controls().cmbMode->isEnabled());

        t.clock.advance(15000);
        w.Timer1_Timer();
        QCOMPARE(w.controls().PB1->value(), 150);
        t.clock.advance(14949);
        w.Timer1_Timer();
        QVERIFY(w.isPlaying());
        QCOMPARE(w.controls().PB1->value(), 1);
        t.clock.advance(1);
        w.Timer1_Timer();

        QVERIFY(!w.isPlaying());
        QCOMPARE(w.resultsShown, 1);
        QVERIFY(!w.playingWhileResultShown);
        QVERIFY(!w.timerRunningWhileResultShown);
        QCOMPARE(w.lRealTime, 29950);
        QCOMPARE(w.nScore, qint16(0));
        QCOMPARE(w.nAnswerCnt, qint16(0));
        QCOMPARE(w.lMaxInt, 0);
        QCOMPARE(w.lMinInt, 0);
        QVERIFY(!w.bHiScore);
        QVERIFY(t.messages.shown.isEmpty());
        QVERIFY(t.settings.read("Tovrika", "UserData", "mode0").isEmpty());
        // Back in the ready state.
        QVERIFY(!w.gameTimer().isActive());
        QCOMPARE(w.controls().lblQuestion->text(), QStringLiteral("Hit any key～"));
        QVERIFY(w.controls().cmbMode->isEnabled());
    }

    void ninetySecondGameLength()
    {
        TestPlatform t;
        PlayedMain w(t.platform);
        w.controls().cmbMode->setCurrentIndex(1);
        w.Form_KeyPress(u' ');
        QCOMPARE(w.nTime, qint16(90));
        QCOMPARE(w.controls().PB1->maximum(), 900);
        t.clock.advance(89949);
        w.Timer1_Timer();
        QVERIFY(w.isPlaying());
        t.clock.advance(1);
        w.Timer1_Timer();
        QCOMPARE(w.resultsShown, 1);
    }

    void penaltyRuns()
    {
        TestPlatform t;
        PlayedMain w(t.platform);
        w.controls().cmbMode->setCurrentIndex(1); // 90 s: room for the long run
        w.Form_KeyPress(u'a');

        const int expectedAfter[] = {1, 2, 3, 4, 34, 84, 134};
        for (int units : expectedAfter) {
            w.Form_KeyPress(wrongKey(w));
            QCOMPARE(w.nWrong, qint16(units));
        }
        QCOMPARE(t.sound.beeps, 7);
        QCOMPARE(w.controls().lblAnswer->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        // 134 units are 67 s of the 90: the gauge shows what is left.
        QCOMPARE(w.controls().PB1->value(), 900 - 5 * 134);

        w.Form_KeyPress(rightKey(w));
        QCOMPARE(w.nWrong, qint16(134)); // penalties already given stay
        QCOMPARE(w.controls().lblAnswer->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        w.Form_KeyPress(wrongKey(w));
        QCOMPARE(w.nWrong, qint16(135)); // the run starts again
        QCOMPARE(w.nScore, qint16(1));
        QCOMPARE(w.nAnswerCnt, qint16(9));
        QVERIFY(!w.bAnswerOk[0]);
        QVERIFY(w.bAnswerOk[7]);
        QVERIFY(!w.bAnswerOk[8]);
    }

    void sixWrongAnswersEndThirtySecondsAtOnce()
    {
        TestPlatform t;
        PlayedMain w(t.platform);
        w.Form_KeyPress(u'a');
        w.Form_KeyPress(u'q'); // a letter is a wrong answer too
        QCOMPARE(w.controls().lblAnswer->text(), QStringLiteral("あ"));
        QCOMPARE(w.nWrong, qint16(1));
        for (int i = 0; i < 4; ++i)
            w.Form_KeyPress(wrongKey(w));
        QVERIFY(w.isPlaying()); // 34 units: 17 s gone
        w.Form_KeyPress(wrongKey(w));
        QVERIFY(!w.isPlaying());
        QCOMPARE(w.resultsShown, 1);
        QCOMPARE(w.nAnswerCnt, qint16(6));
        QCOMPARE(w.nWrong, qint16(84));
    }

    void shortestAndLongestAnswers()
    {
        TestPlatform t;
        PlayedMain w(t.platform);
        w.controls().cmbMode->setCurrentIndex(1);
        w.Form_KeyPress(u'a');

        // The first answer is timed from the start and may be the shortest.
        t.clock.advance(700);
        QString question = w.controls().lblQuestion->text();
        w.Form_KeyPress(rightKey(w));
        QCOMPARE(w.lMinInt, 700);
        QCOMPARE(w.strMinQt, question);
        QCOMPARE(w.lAnswerInt[0], 700);

        // A right answer right after a wrong one never counts as shortest.
        t.clock.advance(3000);
        const QString slowQuestion = w.controls().lblQuestion->text();
        w.Form_KeyPress(wrongKey(w));
        QCOMPARE(w.lMaxInt, 3000); // wrong answers count for the longest
        QCOMPARE(w.strMaxQt, slowQuestion);
        t.clock.advance(100);
        w.Form_KeyPress(rightKey(w));
        QCOMPARE(w.lMinInt, 700);

        t.clock.advance(500);
        question = w.controls().lblQuestion->text();
        w.Form_KeyPress(rightKey(w));
        QCOMPARE(w.lMinInt, 500);
        QCOMPARE(w.strMinQt, question);

        // Ties keep the earlier question.
        t.clock.advance(500);
        w.Form_KeyPress(rightKey(w));
        QCOMPARE(w.strMinQt, question);
        t.clock.advance(3000);
        w.Form_KeyPress(rightKey(w));
        QCOMPARE(w.strMaxQt, slowQuestion);

        // 0 ms counts as none: the next qualifying answer replaces it.
        w.Form_KeyPress(rightKey(w));
        QCOMPARE(w.lMinInt, 0);
        t.clock.advance(900);
        question = w.controls().lblQuestion->text();
        w.Form_KeyPress(rightKey(w));
        QCOMPARE(w.lMinInt, 900);
        QCOMPARE(w.strMinQt, question);
    }

    void newHighScoreIsStoredAndCongratulated()
    {
        TestPlatform t;
        t.store("mode0", "2");
        PlayedMain w(t.platform);
        w.Form_KeyPress(u'a');
        for (int i = 0; i < 3; ++i)
            w.Form_KeyPress(rightKey(w));
        t.messages.onShow = [&] { QCOMPARE(t.stored("mode0"), QStringLiteral("3")); };
        t.clock.advance(30000);
        w.Timer1_Timer();

        QVERIFY(w.bHiScore);
        QCOMPARE(w.controls().lblHiScore->text(), QStringLiteral("3"));
        QCOMPARE(t.stored("mode0"), QStringLiteral("3"));
        QCOMPARE(t.messages.shown.size(), 1);
        QCOMPARE(t.messages.shown[0].icon, MessageBoxes::Icon::Information);
        QCOMPARE(t.messages.shown[0].text,
                 QStringLiteral("おめでとうございます！！！\r\n"
                                "最高得点が記録されました。\r\n"
                                "あなたのスコアは 3 です。\r\n"
                                "この後表示される画面中のエントリーボタンでインターネットランキングにエントリーできます。\r\n"
                                "※今しかエントリーできませんので要注意。"));
        QCOMPARE(w.resultsShown, 1);
    }

    void equalScoreIsNoRecord()
    {
        TestPlatform t;
        t.store("mode1", "3");
        PlayedMain w(t.platform);
        w.controls().cmbMode->setCurrentIndex(1);
        w.Form_KeyPress(u'a');
        for (int i = 0; i < 3; ++i)
            w.Form_KeyPress(rightKey(w));
        t.clock.advance(90000);
        w.Timer1_Timer();
        QVERIFY(!w.bHiScore);
        QVERIFY(t.messages.shown.isEmpty());
        QCOMPARE(t.stored("mode1"), QStringLiteral("3"));
        QCOMPARE(w.resultsShown, 1);
    }

    void storedScoreThatIsNoNumberCountsAsZero()
    {
        TestPlatform t;
        t.store("mode0", "lots");
        PlayedMain w(t.platform);
        QCOMPARE(w.controls().lblHiScore->text(), QStringLiteral("lots"));
        w.Form_KeyPress(u'a');
        w.Form_KeyPress(rightKey(w));
        t.clock.advance(30000);
        w.Timer1_Timer();
        QVERIFY(w.bHiScore);
        QCOMPARE(t.stored("mode0"), QStringLiteral("1"));
    }

    void recordThatCannotBeSavedIsNotCalledRecorded()
    {
        TestPlatform t;
        QFile blocker(t.dir.filePath("Tovrika")); // a file where the folder belongs
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        PlayedMain w(t.platform);
        w.Form_KeyPress(u'a');
        w.Form_KeyPress(rightKey(w));
        t.clock.advance(30000);
        w.Timer1_Timer();

        QVERIFY(w.bHiScore); // it beat the shown score: entry is still offered
        QCOMPARE(t.messages.shown.size(), 1);
        QCOMPARE(t.messages.shown[0].icon, MessageBoxes::Icon::Error);
        QVERIFY(!t.messages.shown[0].text.contains(QStringLiteral("記録されました")));
        QVERIFY(t.messages.shown[0].text.contains(QStringLiteral("保存できませんでした")));
        QVERIFY(t.messages.shown[0].text.contains(QStringLiteral("あなたのスコアは 1 です。")));
        QCOMPARE(w.resultsShown, 1);
    }

    void lastGameIsKeptUntilTheNextEnds()
    {
        TestPlatform t;
        PlayedMain w(t.platform);
        w.Form_KeyPress(u'a');
        w.Form_KeyPress(rightKey(w));
        t.clock.advance(30000);
        w.Timer1_Timer();
        QVERIFY(w.bHiScore);
        QCOMPARE(w.lRealTime, 30000);

        // A new game, abandoned: the last result stays.
        w.Form_KeyPress(u'a');
        QVERIFY(w.bHiScore);
        QCOMPARE(w.lRealTime, 30000);
        t.clock.advance(1000);
        w.Form_KeyPress(u'\x1b');
        QVERIFY(!w.isPlaying());
        QCOMPARE(w.resultsShown, 1); // no result window for an abandoned game
        QVERIFY(w.bHiScore);
        QCOMPARE(w.lRealTime, 30000);
        QCOMPARE(w.controls().lblHiScore->text(), QStringLiteral("1"));
        QCOMPARE(w.controls().lblAnswer->text(), QStringLiteral("!!"));

        // A game that ends without a record clears the flag.
        w.Form_KeyPress(u'a');
        t.clock.advance(29950);
        w.Timer1_Timer();
        QVERIFY(!w.bHiScore);
        QCOMPARE(w.lRealTime, 29950);
        QCOMPARE(w.resultsShown, 2);
    }

    void theRecordHoldsAtMost301Answers()
    {
        TestPlatform t;
        PlayedMain w(t.platform);
        w.controls().cmbMode->setCurrentIndex(1);
        w.Form_KeyPress(u'a');
        for (int i = 0; i < 301; ++i) {
            t.clock.advance(10);
            w.Form_KeyPress(i % 2 ? rightKey(w) : char16_t(u'7'));
        }
        QCOMPARE(w.nAnswerCnt, qint16(301));
        const QString question = w.controls().lblQuestion->text();
        const qint16 score = w.nScore;
        const int beeps = t.sound.beeps;
        for (int i = 0; i < 5; ++i)
            w.Form_KeyPress(wrongKey(w));
        QCOMPARE(w.nAnswerCnt, qint16(301));
        QCOMPARE(w.nScore, score);
        QCOMPARE(t.sound.beeps, beeps);
        QCOMPARE(w.controls().lblQuestion->text(), question);
        QVERIFY(w.isPlaying());

        w.Form_KeyPress(u'\x1b'); // ESC still abandons
        QVERIFY(!w.isPlaying());
    }

    void practicePace()
    {
        TestPlatform t;
        PlayedMain w(t.platform);
        w.controls().cmbMode->setCurrentIndex(3);
        w.Form_KeyPress(u'a');
        QCOMPARE(w.nTime, qint16(90));
        QCOMPARE(foreColor(w.controls().lblTitle), QColor(Qt::white)); // the pace shows there
        QCOMPARE(foreColor(w.controls().lblHiScore), QColor(0x40, 0x40, 0x40));

        t.clock.advance(1234);
        w.Form_KeyPress(rightKey(w));
        QCOMPARE(w.controls().lblTitle->text(), QStringLiteral("1234ミリ秒 < 30秒：24回ペース >"));
        w.Form_KeyPress(wrongKey(w));
        QCOMPARE(w.controls().lblTitle->text(), QStringLiteral("いや～ん。"));
        t.clock.advance(60001);
        w.Form_KeyPress(rightKey(w));
        QCOMPARE(w.controls().lblTitle->text(), QStringLiteral("60001ミリ秒 < 30秒：回ペース >"));

        // No penalty, no end, the gauge stays full.
        for (int i = 0; i < 10; ++i)
            w.Form_KeyPress(wrongKey(w));
        t.clock.advance(10 * 60 * 1000);
        w.Timer1_Timer();
        QVERIFY(w.isPlaying());
        QCOMPARE(w.nWrong, qint16(0));
        QCOMPARE(w.controls().PB1->value(), w.controls().PB1->maximum());
        QCOMPARE(w.resultsShown, 0);
        QCOMPARE(t.sound.beeps, 11);
        // Addition only in mode 3.
        QVERIFY(w.controls().lblQuestion->text().contains(QStringLiteral("＋")));

        w.Form_KeyPress(u'\x1b');
        QVERIFY(!w.isPlaying());
        QVERIFY(w.controls().lblTitle->text().startsWith(QStringLiteral("Tovrika？ Ver.")));
        QVERIFY(!w.controls().btnClear->isEnabled()); // practice modes keep no score
        QVERIFY(w.controls().btnRanking->isEnabled());
    }
};

TOVRIKA_TEST_MAIN(TestGameLoop)
#include "tst_gameloop.moc"

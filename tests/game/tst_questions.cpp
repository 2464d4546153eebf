// Checks the question generator: the text and the expected digit of worked
// questions, the distribution of operands and operators over many draws with
// the time of day frozen (which a plain reseed from the clock would ruin),
// the fixed operator of modes 3 to 5, and the game rules that turn time into
// the gauge and the pace line.

#include "game/GameRules.h"
#include "game/QuestionGenerator.h"
#include "shell/RandomSource.h"
#include "support/Fakes.h"
#include "support/TestMain.h"

#include <array>

using namespace QuestionGenerator;

class TestQuestions : public QObject
{
    Q_OBJECT

private slots:
    void workedAnswers_data()
    {
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("b");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("digit");

        QTest::newRow("7+8") << 7 << 0 << 8 << "7 ＋ 8 ?" << 5;
        QTest::newRow("2-9") << 2 << 1 << 9 << "2 － 9 ?" << 7;
        QTest::newRow("3-8") << 3 << 1 << 8 << "3 － 8 ?" << 5;
        QTest::newRow("10x10") << 10 << 2 << 10 << "10 × 10 ?" << 0;
        QTest::newRow("10x3") << 10 << 2 << 3 << "10 × 3 ?" << 0;
        QTest::newRow("4-4") << 4 << 1 << 4 << "4 － 4 ?" << 0;
        QTest::newRow("0x6") << 0 << 2 << 6 << "0 × 6 ?" << 0;
        QTest::newRow("10+10") << 10 << 0 << 10 << "10 ＋ 10 ?" << 0;
        QTest::newRow("0-10") << 0 << 1 << 10 << "0 － 10 ?" << 0;
        QTest::newRow("9x9") << 9 << 2 << 9 << "9 × 9 ?" << 1;
    }

    void workedAnswers()
    {
        QFETCH(int, a);
        QFETCH(int, op);
        QFETCH(int, b);
        QFETCH(QString, text);
        QFETCH(int, digit);
        QCOMPARE(questionText(qint16(a), op, qint16(b)), text);
        QCOMPARE(expectedDigit(qint16(a), op, qint16(b)), qint16(digit));
    }

    void drawsGoThroughHalfEvenRounding()
    {
        // r = 0.05 gives 0.5 -> 0; 0.15 gives 1.5 -> 2; 0.25 picks "＋", 0.75 "×".
        FakeRandom random;
        random.queued = {0.05, 0.25, 0.15};
        Question q = drawQuestion(0, random, 0);
        QCOMPARE(q.text, QStringLiteral("0 ＋ 2 ?"));
        QCOMPARE(q.answer, qint16(2));
        random.queued = {0.95, 0.75, 0.999};
        q = drawQuestion(1, random, 0);
        QCOMPARE(q.text, QStringLiteral("10 × 10 ?"));
        random.queued = {0.35, 0.26, 0.74};
        q = drawQuestion(2, random, 0);
        QCOMPARE(q.text, QStringLiteral("4 － 7 ?"));
        QCOMPARE(q.answer, qint16(3));
        // Three reseeds per question: 3t, t, t*t with t the fraction of the day.
        random.seeds.clear();
        random.queued = {0.5, 0.5};
        drawQuestion(4, random, 43200);
        QCOMPARE(random.seeds, QList<double>({1.5, 0.5, 0.25}));
    }

    void distributionWithTheClockFrozen()
    {
        MixingRandomSource random(2026);
        constexpr int draws = 200000;
        std::array<int, 11> operands{};
        std::array<int, 3> operators{};
        QSet<QString> texts;
        for (int i = 0; i < draws; ++i) {
            const Question q = drawQuestion(0, random, 37000); // one and the same second
            ++operands[q.a];
            ++operands[q.b];
            ++operators[q.op];
            if (i < 200)
                texts << q.text;
        }
        const double n = 2.0 * draws;
        QVERIFY(qAbs(operands[0] / n - 0.05) < 0.003);
        QVERIFY(qAbs(operands[10] / n - 0.05) < 0.003);
        for (int v = 1; v <= 9; ++v)
            QVERIFY2(qAbs(operands[v] / n - 0.10) < 0.004, qPrintable(QString::number(v)));
        QVERIFY(qAbs(operators[0] / double(draws) - 0.25) < 0.005);
        QVERIFY(qAbs(operators[1] / double(draws) - 0.50) < 0.005);
        QVERIFY(qAbs(operators[2] / double(draws) - 0.25) < 0.005);
        // Within one second the questions still vary.
        QVERIFY(texts.size() > 100);
    }

    void singleOperatorModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("sign");
        QTest::newRow("mode 3 adds") << 3 << "＋";
        QTest::newRow("mode 4 subtracts") << 4 << "－";
        QTest::newRow("mode 5 multiplies") << 5 << "×";
    }

    void singleOperatorModes()
    {
        QFETCH(int, mode);
        QFETCH(QString, sign);
        MixingRandomSource random(7);
        for (int i = 0; i < 2000; ++i) {
            const Question q = drawQuestion(mode, random, i);
            QCOMPARE(q.op, mode - 3);
            QVERIFY(q.text.contains(sign));
            QVERIFY(q.a >= 0 && q.a <= 10 && q.b >= 0 && q.b <= 10);
        }
    }

    void seededSequenceIsStable()
    {
        // A fixed seed and clock give a fixed game: pins the draw so that a
        // change of the generator is a deliberate one.
        MixingRandomSource random(42);
        QStringList texts;
        for (int i = 0; i < 5; ++i)
            texts << drawQuestion(0, random, 3600).text;
        MixingRandomSource again(42);
        QStringList textsAgain;
        for (int i = 0; i < 5; ++i)
            textsAgain << drawQuestion(0, again, 3600).text;
        QCOMPARE(texts, textsAgain);
        QCOMPARE(texts, QStringList({"9 － 3 ?", "3 － 1 ?", "3 － 4 ?", "3 － 9 ?", "4 × 2 ?"}));
    }

    void gauge_data()
    {
        QTest::addColumn<int>("max");
        QTest::addColumn<qint64>("elapsed");
        QTest::addColumn<int>("units");
        QTest::addColumn<int>("value");
        QTest::newRow("start") << 300 << qint64(0) << 0 << 300;
        QTest::newRow("29949 ms") << 300 << qint64(29949) << 0 << 1;
        QTest::newRow("29950 ms rounds to even 0") << 300 << qint64(29950) << 0 << 0;
        QTest::newRow("half up to even") << 300 << qint64(150) << 0 << 298;
        QTest::newRow("one unit is 5 steps") << 300 << qint64(0) << 1 << 295;
        QTest::newRow("34 units") << 300 << qint64(1000) << 34 << 120;
        QTest::newRow("huge penalty stays in 16 bits") << 900 << qint64(0) << 32767 << -32768;
        QTest::newRow("week-long game") << 900 << qint64(7) * 24 * 3600 * 1000 << 0 << -32768;
    }

    void gauge()
    {
        QFETCH(int, max);
        QFETCH(qint64, elapsed);
        QFETCH(int, units);
        QFETCH(int, value);
        QCOMPARE(GameRules::gaugeValue(max, elapsed, units), qint16(value));
    }

    void rules()
    {
        using namespace GameRules;
        QCOMPARE(penaltyUnits(1), 1);
        QCOMPARE(penaltyUnits(4), 1);
        QCOMPARE(penaltyUnits(5), 30);
        QCOMPARE(penaltyUnits(6), 50);
        QCOMPARE(penaltyUnits(100), 50);

        QCOMPARE(paceLine(1234), QStringLiteral("1234ミリ秒 < 30秒：24回ペース >"));
        QCOMPARE(paceLine(0), QStringLiteral("いや～ん。"));
        QCOMPARE(paceLine(2400), QStringLiteral("2400ミリ秒 < 30秒：13回ペース >")); // 12.5 away from 0
        QCOMPARE(paceLine(60000), QStringLiteral("60000ミリ秒 < 30秒：1回ペース >"));
        QCOMPARE(paceLine(60001), QStringLiteral("60001ミリ秒 < 30秒：回ペース >"));

        QCOMPARE(highScoreValue("46"), 46);
        QCOMPARE(highScoreValue("-3"), -3);
        QCOMPARE(highScoreValue("0"), 0);
        QCOMPARE(highScoreValue("12abc"), 0);
        QCOMPARE(highScoreValue(" 12"), 0);
        QCOMPARE(highScoreValue("+12"), 0);
        QCOMPARE(highScoreValue("-"), 0);
        QCOMPARE(highScoreValue(""), 0);
        QCOMPARE(highScoreValue("99999999999999999999999"), 0);

        QCOMPARE(roundHalfEven(14.5), 14);
        QCOMPARE(roundHalfEven(15.5), 16);
        QCOMPARE(roundHalfEven(-0.5), 0);
        QCOMPARE(saturatingAdd(32767, 1), qint16(32767));
        QCOMPARE(saturatingAdd(32750, 50), qint16(32767));
        QCOMPARE(saturatingAdd(-32768, -1), qint16(-32768));
    }
};

TOVRIKA_TEST_MAIN(TestQuestions)
#include "tst_questions.moc"

// Checks the texts of the result window: the number format "0.0#" (decimal
// rounding on 15 significant digits, halves away from zero), the pace
// rounded halves to even within 16 bits, the worked example of a game, and
// which statistics read "無効" when they cannot be worked out.

#include "game/PlayRecord.h"
#include "result/ResultStats.h"
#include "support/TestMain.h"

#include <QObject>
#include <QTest>

#include <limits>

namespace {

PlayRecord record(qint16 score, qint16 answers, qint16 time, qint32 realTimeMs)
{
    PlayRecord r;
    r.nScore = score;
    r.nAnswerCnt = answers;
    r.nTime = time;
    r.lRealTime = realTimeMs;
    r.lMinInt = 523;
    r.strMinQt = QStringLiteral("7 ＋ 8 ?");
    r.lMaxInt = 4210;
    r.strMaxQt = QStringLiteral("3 × 9 ?");
    return r;
}

} // namespace

class TestResultStats : public QObject
{
    Q_OBJECT

private slots:
    void numberFormat_data();
    void numberFormat();
    void roundPaceHalvesToEvenWithin16Bits_data();
    void roundPaceHalvesToEvenWithin16Bits();
    void workedExample();
    void paceTextHalvesToEven_data();
    void paceTextHalvesToEven();
    void paceOutside16BitsReadsInvalid();
    void noRealTimeOrNoAnswersLeavesAllSixInvalid_data();
    void noRealTimeOrNoAnswersLeavesAllSixInvalid();
    void noShortestAnswerLeavesOnlyMinIntInvalid();
    void allWrongAndAllRight();
};

void TestResultStats::numberFormat_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    // The examples of the format, then values whose binary form lies just
    // below a half (printf("%.2f") would round them down).
    QTest::newRow("0.285") << 0.285 << "0.29";
    QTest::newRow("0.999") << 0.999 << "1.0";
    QTest::newRow("100") << 100.0 << "100.0";
    QTest::newRow("600/7") << 600.0 / 7.0 << "85.71";
    QTest::newRow("7/15") << 7.0 / 15.0 << "0.47";
    QTest::newRow("7.5") << 7.5 << "7.5";
    QTest::newRow("0.015") << 0.015 << "0.02";
    QTest::newRow("1.005") << 1.005 << "1.01";
    QTest::newRow("2.675") << 2.675 << "2.68";
    QTest::newRow("9.995 carries into the units") << 9.995 << "10.0";
    QTest::newRow("99.995 carries into a new digit") << 99.995 << "100.0";
    QTest::newRow("0.1 + 0.2") << 0.1 + 0.2 << "0.3";
    QTest::newRow("1/3") << 1.0 / 3.0 << "0.33";
    QTest::newRow("2/3") << 2.0 / 3.0 << "0.67";
    QTest::newRow("0.005 rounds up") << 0.005 << "0.01";
    QTest::newRow("0.0049 rounds to zero") << 0.0049 << "0.0";
    QTest::newRow("tiny") << 1e-20 << "0.0";
    QTest::newRow("zero") << 0.0 << "0.0";
    QTest::newRow("second decimal 0 dropped") << 12.30 << "12.3";
    QTest::newRow("second decimal kept") << 12.34 << "12.34";
    QTest::newRow("no group separators") << 12345678.125 << "12345678.13";
    QTest::newRow("beyond 15 digits") << 1e20 << "100000000000000000000.0";
    QTest::newRow("negative") << -1.5 << "-1.5";
    QTest::newRow("negative rounding to zero") << -0.001 << "0.0";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "";
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << "";
}

void TestResultStats::numberFormat()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(formatStatistic(value), text);
}

void TestResultStats::roundPaceHalvesToEvenWithin16Bits_data()
{
    QTest::addColumn<double>("pace");
    QTest::addColumn<int>("expected");  // -1000000: no 16-bit value

    const int none = -1000000;
    QTest::newRow("14.5") << 14.5 << 14;
    QTest::newRow("15.5") << 15.5 << 16;
    QTest::newRow("0.5") << 0.5 << 0;
    QTest::newRow("2.5") << 2.5 << 2;
    QTest::newRow("14.7368") << 30.0 * 14 / 28.5 << 15;
    QTest::newRow("14.49") << 14.49 << 14;
    QTest::newRow("-2.5") << -2.5 << -2;
    QTest::newRow("32767.4") << 32767.4 << 32767;
    QTest::newRow("32767.5 rounds to 32768") << 32767.5 << none;
    QTest::newRow("-32768.5 rounds to -32768") << -32768.5 << -32768;
    QTest::newRow("-32769") << -32769.0 << none;
    QTest::newRow("huge") << 9.03e6 << none;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << none;
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << none;
}

void TestResultStats::roundPaceHalvesToEvenWithin16Bits()
{
    QFETCH(double, pace);
    QFETCH(int, expected);
    const std::optional<qint16> rounded = roundPace(pace);
    if (expected == -1000000) {
        QVERIFY(!rounded.has_value());
    } else {
        QVERIFY(rounded.has_value());
        QCOMPARE(int(*rounded), expected);
    }
}

void TestResultStats::workedExample()
{
    // 12 right of 14 in 28 500 ms of a 30-second game.
    const ResultTexts texts = makeResultTexts(record(12, 14, 30, 28500));
    QCOMPARE(texts.score, QStringLiteral("12"));
    QCOMPARE(texts.seikairitu, QStringLiteral("85.71％（12／14）"));
    QCOMPARE(texts.avSpeed, QStringLiteral("0.49問／秒"));
    QCOMPARE(texts.pace, QStringLiteral("（15問ペース）"));
    QCOMPARE(texts.avTime, QStringLiteral("2035.71ミリ秒"));
    QCOMPARE(texts.minInt, QStringLiteral("<7 ＋ 8 ?> 523ミリ秒"));
    QCOMPARE(texts.maxInt, QStringLiteral("<3 × 9 ?> 4210ミリ秒"));
}

void TestResultStats::paceTextHalvesToEven_data()
{
    QTest::addColumn<qint16>("answers");
    QTest::addColumn<qint16>("time");
    QTest::addColumn<QString>("pace");

    // 30 × 29 / 60 = 14.5 and 30 × 31 / 60 = 15.5 exactly.
    QTest::newRow("14.5") << qint16(29) << qint16(30) << "（14問ペース）";
    QTest::newRow("15.5") << qint16(31) << qint16(30) << "（16問ペース）";
    // The 90-second game: 90 × 61 / 60 = 91.5.
    QTest::newRow("91.5") << qint16(61) << qint16(90) << "（92問ペース）";
}

void TestResultStats::paceTextHalvesToEven()
{
    QFETCH(qint16, answers);
    QFETCH(qint16, time);
    QFETCH(QString, pace);
    QCOMPARE(makeResultTexts(record(answers, answers, time, 60000)).pace, pace);
}

void TestResultStats::paceOutside16BitsReadsInvalid()
{
    // 301 answers in 1 ms would be a pace of 9 030 000: the pace alone
    // keeps "無効", the rest is worked out.
    const ResultTexts texts = makeResultTexts(record(301, 301, 30, 1));
    QCOMPARE(texts.pace, invalidText());
    QCOMPARE(texts.seikairitu, QStringLiteral("100.0％（301／301）"));
    QCOMPARE(texts.avSpeed, QStringLiteral("301000.0問／秒"));
    QCOMPARE(texts.avTime, QStringLiteral("0.0ミリ秒"));
    QVERIFY(texts.maxInt != invalidText());
}

void TestResultStats::noRealTimeOrNoAnswersLeavesAllSixInvalid_data()
{
    QTest::addColumn<qint16>("answers");
    QTest::addColumn<qint32>("realTime");

    QTest::newRow("no answers") << qint16(0) << qint32(30000);
    QTest::newRow("negative count") << qint16(-3) << qint32(30000);
    QTest::newRow("real time 0") << qint16(5) << qint32(0);
    QTest::newRow("real time negative") << qint16(5) << qint32(-100);
}

void TestResultStats::noRealTimeOrNoAnswersLeavesAllSixInvalid()
{
    QFETCH(qint16, answers);
    QFETCH(qint32, realTime);
    const ResultTexts texts = makeResultTexts(record(3, answers, 30, realTime));
    QCOMPARE(texts.score, QStringLiteral("3"));
    for (const QString &text : {texts.seikairitu, texts.avSpeed, texts.pace, texts.avTime,
                                texts.minInt, texts.maxInt})
        QCOMPARE(text, QStringLiteral("無効"));
}

void TestResultStats::noShortestAnswerLeavesOnlyMinIntInvalid()
{
    PlayRecord r = record(4, 8, 90, 90000);
    r.lMinInt = 0;
    const ResultTexts texts = makeResultTexts(r);
    QCOMPARE(texts.minInt, QStringLiteral("無効"));
    QCOMPARE(texts.seikairitu, QStringLiteral("50.0％（4／8）"));
    QCOMPARE(texts.avSpeed, QStringLiteral("0.09問／秒"));
    QCOMPARE(texts.pace, QStringLiteral("（8問ペース）"));
    QCOMPARE(texts.avTime, QStringLiteral("11250.0ミリ秒"));
    QCOMPARE(texts.maxInt, QStringLiteral("<3 × 9 ?> 4210ミリ秒"));
}

void TestResultStats::allWrongAndAllRight()
{
    PlayRecord wrong = record(0, 7, 30, 30000);
    wrong.lMinInt = 0;
    const ResultTexts wrongTexts = makeResultTexts(wrong);
    QCOMPARE(wrongTexts.score, QStringLiteral("0"));
    QCOMPARE(wrongTexts.seikairitu, QStringLiteral("0.0％（0／7）"));
    QCOMPARE(wrongTexts.minInt, QStringLiteral("無効"));
    QCOMPARE(wrongTexts.maxInt, QStringLiteral("<3 × 9 ?> 4210ミリ秒"));

    QCOMPARE(makeResultTexts(record(7, 7, 30, 30000)).seikairitu,
             QStringLiteral("100.0％（7／7）"));
}

TOVRIKA_TEST_MAIN(TestResultStats)
#include "tst_resultstats.moc"

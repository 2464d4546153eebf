// Checks the answer-time chart by reading its pixels back: the grey grid at
// the quarters of the height, bar lengths of 10 ms per pixel rounded halves
// to even with at least one pixel, the bar columns of the 30- and 90-second
// modes, the colours of right and wrong answers, clipping at the edges, and
// that a record claiming more answers than the arrays hold is clamped.

#include "game/PlayRecord.h"
#include "result/ResultChart.h"
#include "support/TestMain.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QTest>

#include <limits>

namespace {

// The drawing area of the result window's picture box (300 × 200 with a
// 2-pixel sunken border).
const QSize area(296, 196);
const QRgb white = 0xffffffff;

bool isGridRow(int y)
{
    return y == 0 || y == 49 || y == 98 || y == 147;
}

// Length of the bar in column x: the run of pixels of that colour upward from
// the bottom row.
int barLength(const QImage &image, int x, QRgb colour)
{
    int length = 0;
    for (int y = image.height() - 1; y >= 0 && image.pixel(x, y) == colour; --y)
        ++length;
    return length;
}

// Columns holding at least one pixel that is neither white nor grid grey.
QList<int> barColumns(const QImage &image)
{
    QList<int> columns;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            const QRgb p = image.pixel(x, y);
            if (p != white && p != chartGridRgb) {
                columns << x;
                break;
            }
        }
    }
    return columns;
}

PlayRecord answers(std::initializer_list<std::pair<qint32, bool>> list)
{
    PlayRecord r;
    std::size_t i = 0;
    for (const auto &[ms, ok] : list) {
        r.lAnswerInt[i] = ms;
        r.bAnswerOk[i] = ok;
        ++i;
    }
    r.nAnswerCnt = qint16(list.size());
    return r;
}

PlayRecord full(qint16 count, qint32 ms)
{
    PlayRecord r;
    r.lAnswerInt.fill(ms);
    r.bAnswerOk.fill(true);
    r.nAnswerCnt = count;
    return r;
}

} // namespace

class TestResultChart : public QObject
{
    Q_OBJECT

private slots:
    void emptyChartIsWhiteWithGreyGrid();
    void gridFollowsTheAreaHeight();
    void barHeights_data();
    void barHeights();
    void barColumnsAndColours_data();
    void barColumnsAndColours();
    void barsBeyondTheRightEdgeAreClipped_data();
    void barsBeyondTheRightEdgeAreClipped();
    void tallBarsAreClippedAtTheTop();
    void barCountIsClampedToTheArrays_data();
    void barCountIsClampedToTheArrays();
};

void TestResultChart::emptyChartIsWhiteWithGreyGrid()
{
    const QImage image = drawResultChart(PlayRecord{}, 0, area);
    QCOMPARE(image.size(), area);
    for (int y = 0; y < area.height(); ++y) {
        for (int x = 0; x < area.width(); ++x) {
            // A grid line starts at x = 1; column 0 stays white.
            const QRgb expected = isGridRow(y) && x >= 1 ? chartGridRgb : white;
            if (image.pixel(x, y) != expected)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3")
                                     .arg(x).arg(y).arg(image.pixel(x, y), 8, 16)));
        }
    }
}

void TestResultChart::gridFollowsTheAreaHeight()
{
    const QImage image = drawResultChart(PlayRecord{}, 1, QSize(50, 200));
    for (int y = 0; y < 200; ++y)
        QCOMPARE(image.pixel(25, y) == chartGridRgb, y == 0 || y == 50 || y == 100 || y == 150);
}

void TestResultChart::barHeights_data()
{
    QTest::addColumn<qint32>("ms");
    QTest::addColumn<int>("pixels");

    QTest::newRow("0 ms") << 0 << 1;
    QTest::newRow("4 ms") << 4 << 1;
    QTest::newRow("5 ms, half to even 0") << 5 << 1;
    QTest::newRow("6 ms") << 6 << 1;
    QTest::newRow("14 ms") << 14 << 1;
    QTest::newRow("15 ms, half to even 2") << 15 << 2;
    QTest::newRow("16 ms") << 16 << 2;
    QTest::newRow("25 ms, half to even 2") << 25 << 2;
    QTest::newRow("35 ms, half to even 4") << 35 << 4;
    QTest::newRow("523 ms") << 523 << 52;
    QTest::newRow("1955 ms, half to even 196") << 1955 << 196;
    QTest::newRow("negative") << -40 << 1;
}

void TestResultChart::barHeights()
{
    QFETCH(qint32, ms);
    QFETCH(int, pixels);
    QCOMPARE(chartBarHeight(ms), pixels);

    // Read back in both modes, on a right and on a wrong answer.
    for (const int mode : {0, 1}) {
        const PlayRecord r = answers({{ms, true}, {ms, false}});
        const QImage image = drawResultChart(r, mode, area);
        const int x0 = chartBarX(0, mode);
        const int x1 = chartBarX(1, mode);
        QCOMPARE(barLength(image, x0, chartRightRgb), pixels);
        QCOMPARE(barLength(image, x1, chartWrongRgb), pixels);
        // Just above the bar the column is white or grid again.
        const int above = area.height() - 1 - pixels;
        if (above >= 0)
            QCOMPARE(image.pixel(x0, above), isGridRow(above) ? chartGridRgb : white);
    }
}

void TestResultChart::barColumnsAndColours_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<int>>("columns");

    QTest::newRow("30-second mode") << 0 << QList<int>{1, 4, 7, 10, 13};
    QTest::newRow("90-second mode") << 1 << QList<int>{0, 1, 2, 3, 4};
}

void TestResultChart::barColumnsAndColours()
{
    QFETCH(int, mode);
    QFETCH(QList<int>, columns);

    const PlayRecord r = answers({{800, true}, {1200, false}, {300, true}, {50, false}, {20, true}});
    const QImage image = drawResultChart(r, mode, area);
    QCOMPARE(barColumns(image), columns);

    const QList<QRgb> colours{chartRightRgb, chartWrongRgb, chartRightRgb, chartWrongRgb,
                              chartRightRgb};
    const QList<int> lengths{80, 120, 30, 5, 2};
    for (int i = 0; i < columns.size(); ++i) {
        QCOMPARE(image.pixel(columns[i], area.height() - 1), colours[i]);
        QCOMPARE(barLength(image, columns[i], colours[i]), lengths[i]);
    }
}

void TestResultChart::barsBeyondTheRightEdgeAreClipped_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("lastColumn");

    // 301 answers: the 30-second mode shows answers 0..98 (x up to 295), the
    // 90-second mode answers 0..295.
    QTest::newRow("30-second mode") << 0 << 295;
    QTest::newRow("90-second mode") << 1 << 295;
}

void TestResultChart::barsBeyondTheRightEdgeAreClipped()
{
    QFETCH(int, mode);
    QFETCH(int, lastColumn);
    const QImage image = drawResultChart(full(301, 100), mode, area);
    const QList<int> columns = barColumns(image);
    QCOMPARE(columns.last(), lastColumn);
    QCOMPARE(columns.size(), mode == 0 ? 99 : 296);
}

void TestResultChart::tallBarsAreClippedAtTheTop()
{
    // Longer than the area is high (2 s = 200 px > 196): the column is
    // filled up to the top row and nothing breaks for absurd intervals.
    for (const qint32 ms : {2000, 100000, std::numeric_limits<qint32>::max()}) {
        const QImage image = drawResultChart(answers({{ms, false}}), 1, area);
        QCOMPARE(barLength(image, 0, chartWrongRgb), area.height());
    }
}

void TestResultChart::barCountIsClampedToTheArrays_data()
{
    QTest::addColumn<qint16>("count");
    QTest::addColumn<int>("bars");

    QTest::newRow("none") << qint16(0) << 0;
    QTest::newRow("negative") << qint16(-7) << 0;
    QTest::newRow("full") << qint16(301) << 301;
    QTest::newRow("more than the arrays hold") << qint16(400) << 301;
    QTest::newRow("16-bit maximum") << qint16(32767) << 301;
}

void TestResultChart::barCountIsClampedToTheArrays()
{
    QFETCH(qint16, count);
    QFETCH(int, bars);
    const PlayRecord r = full(count, 100);
    QCOMPARE(chartBarCount(r), bars);
    // Wide enough to show every bar of the 90-second mode: exactly the
    // clamped number of columns, and no read past the arrays (ASan).
    const QImage image = drawResultChart(r, 1, QSize(400, 196));
    QCOMPARE(barColumns(image).size(), bars);
}

TOVRIKA_TEST_MAIN(TestResultChart)
#include "tst_resultchart.moc"

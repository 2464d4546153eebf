#include "result/ResultChart.h"

#include "game/PlayRecord.h"

#include <QImage>
#include <QSize>

#include <algorithm>
#include <cmath>

int chartBarHeight(qint32 intervalMs)
{
    const int h = int(std::nearbyint(double(intervalMs) / 10.0));
    return h > 0 ? h : 1;
}

int chartBarX(int index, int modeIndex)
{
    return modeIndex == 0 ? 3 * index + 1 : index;
}

int chartBarCount(const PlayRecord &record)
{
    return std::clamp(int(record.nAnswerCnt), 0, PlayRecord::AnswerSlots);
}

namespace {

// Pixels are set one by one rather than through QPainter lines: the lines of
// the chart are exactly horizontal or vertical and must cover exact pixel
// runs (a line from a to b covers a up to, but not including, b), with no
// pen caps or antialiasing to argue about.
void drawHorizontal(QImage &image, int y, int fromX, int toXExclusive, QRgb colour)
{
    if (y < 0 || y >= image.height())
        return;
    const int first = std::max(fromX, 0);
    const int last = std::min(toXExclusive, image.width());
    for (int x = first; x < last; ++x)
        image.setPixel(x, y, colour);
}

void drawVertical(QImage &image, int x, int fromY, int toYExclusive, QRgb colour)
{
    if (x < 0 || x >= image.width())
        return;
    // The bar runs upward from fromY; toYExclusive lies above it.
    const int top = std::max(toYExclusive + 1, 0);
    const int bottom = std::min(fromY, image.height() - 1);
    for (int y = bottom; y >= top; --y)
        image.setPixel(x, y, colour);
}

} // namespace

QImage drawResultChart(const PlayRecord &record, int modeIndex, const QSize &area)
{
    QImage image(area, QImage::Format_RGB32);
    image.fill(Qt::white);
    const int w = area.width();
    const int h = area.height();

    for (int k = 0; k < 4; ++k) {
        const int y = int(std::nearbyint(double(k) * h / 4.0));
        drawHorizontal(image, y, 1, 1 + w, chartGridRgb);
    }

    const int bars = chartBarCount(record);
    const std::size_t answerSlots = record.lAnswerInt.size();
    for (int i = 0; i < bars && std::size_t(i) < answerSlots; ++i) {
        const std::size_t slot = std::size_t(i);
        // Bars taller than the area look the same as ones just as tall;
        // capping keeps the arithmetic small for absurd intervals.
        const int length = std::min(chartBarHeight(record.lAnswerInt[slot]), h + 1);
        const int x = chartBarX(i, modeIndex);
        const QRgb colour = record.bAnswerOk[slot] ? chartRightRgb : chartWrongRgb;
        drawVertical(image, x, h - 1, h - 1 - length, colour);
    }
    return image;
}

QImage chartAtScale(const QImage &chart, qreal devicePixelRatio)
{
    if (devicePixelRatio <= 1.0 || chart.isNull())
        return chart;
    const QSize deviceSize(qRound(chart.width() * devicePixelRatio), qRound(chart.height() * devicePixelRatio));
    QImage scaled = chart.scaled(deviceSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    scaled.setDevicePixelRatio(devicePixelRatio);
    return scaled;
}

#pragma once

#include <QtGlobal>

class QImage;
class QSize;
struct PlayRecord;

// The chart of the result window: the time taken for each answer of a timed
// game as a bar of 10 ms per pixel over a grey grid. It is drawn once into an
// image of the picture box's drawing area, which the window then shows
// unchanged, so the drawing survives any repaint.

// Grey of the grid lines, blue of a right answer's bar, red of a wrong one's.
inline constexpr quint32 chartGridRgb = 0xffc8c8c8;
inline constexpr quint32 chartRightRgb = 0xff0000ff;
inline constexpr quint32 chartWrongRgb = 0xffff0000;

// Length in pixels of the bar for one answer interval: ms / 10 rounded to the
// nearest integer with halves to the even neighbour, at least 1 pixel so
// that every answer shows. A negative interval (which the monotonic game
// clock does not produce) also gives the 1-pixel bar.
int chartBarHeight(qint32 intervalMs);

// Column of the bar of answer number index (0-based): every third column
// from x = 1 in the 30-second mode (mode list index 0), every column from
// x = 0 otherwise.
int chartBarX(int index, int modeIndex);

// How many bars the record yields: nAnswerCnt, but never more than the
// answer arrays hold and never below 0, whatever the record says.
int chartBarCount(const PlayRecord &record);

// The drawing area of the given size: white, the grid lines at 0, 1/4, 1/2
// and 3/4 of the height from x = 1 to the right edge, then one bar per
// answer standing on the bottom row; anything outside the area is clipped.
QImage drawResultChart(const PlayRecord &record, int modeIndex, const QSize &area);

// The chart for a screen of the given scale: its pixels are its unit (10 ms
// to a pixel), so each becomes a block of device pixels with hard edges
// rather than a blurred enlargement; drawn at its logical size it covers
// the same area as at scale 1.
QImage chartAtScale(const QImage &chart, qreal devicePixelRatio);

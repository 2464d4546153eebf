#pragma once

#include <QString>
#include <QtGlobal>

// The arithmetic of the game loop, free of any window.
namespace GameRules {

// Nearest integer, halves to the even neighbour (14.5 -> 14, 15.5 -> 16).
qint64 roundHalfEven(double value);

// Penalty units for the latest wrong answer, given the length of the run of
// wrong answers it belongs to (1 for the first): 1 for the 1st to 4th, 30 for
// the 5th, 50 for every later one. One unit costs half a second.
int penaltyUnits(int wrongRun);

// The gauge in tenths of a second: full minus the elapsed time minus five
// steps per penalty unit, rounded halves to even and held in 16 bits.
qint16 gaugeValue(int gaugeMax, qint64 elapsedMs, int penaltyUnits);

// The practice modes' title line after an answer given interval ms after its
// question appeared: "いや～ん。" for 0 ms, otherwise the interval and the
// number of answers that would fit into 30 seconds at that speed.
QString paceLine(qint64 intervalMs);

// What the time-left key says in a timed game: the gauge's tenths of a
// second as whole seconds left, rounded up so that "残り 0 秒" is never
// said while the game still runs.
QString timeLeftLine(int gaugeTenths);

// A stored high score as a number for comparisons: a decimal integer counts as
// itself, anything else (a settings file edited by hand) as 0.
qint64 highScoreValue(const QString &text);

// Adds without leaving the 16-bit range: counters stop at 32767.
qint16 saturatingAdd(qint16 value, int add);

} // namespace GameRules

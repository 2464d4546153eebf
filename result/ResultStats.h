#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

struct PlayRecord;

// The texts of the result window, worked out from a finished timed game.
// Plain functions, so the arithmetic and the formatting can be checked
// without a window.

// What a statistic label shows while it has no value.
QString invalidText();

// The number format "0.0#": the value is first taken as a decimal number of
// 15 significant digits, then rounded to two decimals with halves away from
// zero; the integer part has at least one digit and no separators, the first
// decimal is always written, the second only when it is not 0.
// 0.285 -> "0.29", 0.999 -> "1.0", 100 -> "100.0", 7.5 -> "7.5".
// A negative value that rounds to zero is written "0.0". Not-a-number and
// infinities have no decimal form: they give an empty text.
QString formatStatistic(double value);

// The pace value: rounded to the nearest integer with halves to the even
// neighbour, as a signed 16-bit count. nullopt when the rounded value does
// not fit 16 bits (only a game with answers lasting less than about 0.83 s
// of real time gets there) or is not a number.
std::optional<qint16> roundPace(double pace);

// The score and the six statistics. A statistic that cannot be worked out
// reads invalidText(): all six when the real time is 0 or less or there
// were no answers; lblMinInt alone when there was no qualifying shortest
// answer; lblPace alone when the pace falls outside 16 bits.
struct ResultTexts
{
    QString score;
    QString seikairitu;  // accuracy: "85.71％（12／14）"
    QString avSpeed;     // answers per second: "0.49問／秒"
    QString pace;        // answers over the nominal game length: "（15問ペース）"
    QString avTime;      // milliseconds per answer: "2035.71ミリ秒"
    QString minInt;      // "<7 ＋ 8 ?> 523ミリ秒"
    QString maxInt;      // "<3 × 9 ?> 4210ミリ秒"
};

ResultTexts makeResultTexts(const PlayRecord &record);

#include "game/GameRules.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace GameRules {

qint64 roundHalfEven(double value)
{
    // nearbyint follows the current rounding mode, which is to-nearest-even
    // unless someone changed it; the game never does.
    return qint64(std::nearbyint(value));
}

int penaltyUnits(int wrongRun)
{
    if (wrongRun == 5)
        return 30;
    if (wrongRun > 5)
        return 50;
    return 1;
}

qint16 gaugeValue(int gaugeMax, qint64 elapsedMs, int penaltyUnits)
{
    const double v = double(gaugeMax) - double(elapsedMs) / 100.0 - 5.0 * penaltyUnits;
    const qint64 rounded = roundHalfEven(std::clamp(v, -32768.0, 32767.0));
    return qint16(rounded);
}

QString paceLine(qint64 intervalMs)
{
    if (intervalMs <= 0)
        return QStringLiteral("いや～ん。");
    // Halves away from zero, as the line has always been written.
    const qint64 pace = qint64(std::round(30000.0 / double(intervalMs)));
    const QString paceText = pace == 0 ? QString() : QString::number(pace);
    return QString::number(intervalMs) + QStringLiteral("ミリ秒 < 30秒：") + paceText
           + QStringLiteral("回ペース >");
}

QString timeLeftLine(int gaugeTenths)
{
    const int seconds = gaugeTenths <= 0 ? 0 : (gaugeTenths + 9) / 10;
    return QStringLiteral("残り %1 秒").arg(seconds);
}

qint64 highScoreValue(const QString &text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    // toLongLong admits a leading "+" and surrounding spaces; a stored score
    // is plain digits with an optional "-".
    static const auto plain = [](const QString &t) {
        if (t.isEmpty())
            return false;
        for (qsizetype i = 0; i < t.size(); ++i) {
            const QChar c = t.at(i);
            if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                && !(i == 0 && c == QLatin1Char('-') && t.size() > 1))
                return false;
        }
        return true;
    };
    return ok && plain(text) ? value : 0;
}

qint16 saturatingAdd(qint16 value, int add)
{
    const int sum = int(value) + add;
    return qint16(std::clamp(sum, int(std::numeric_limits<qint16>::min()),
                             int(std::numeric_limits<qint16>::max())));
}

} // namespace GameRules

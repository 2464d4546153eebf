#include "result/ResultStats.h"

#include "game/PlayRecord.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

QString invalidText()
{
    return QStringLiteral("無効");
}

namespace {

// value × 100 rounded half away from zero, as decimal digits without sign,
// after the value has been cut to 15 significant decimal digits. Working on
// the decimal digits (not on the binary double) is what makes 0.285, held
// as 0.28499999..., come out as 29.
std::string hundredthsDigits(double magnitude)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", magnitude);
    // buffer is "d.dddddddddddddde±XX": 15 digits and a decimal exponent.
    std::string digits;
    digits += buffer[0];
    digits.append(buffer + 2, 14);
    const int exponent = std::atoi(buffer + 17);

    // magnitude × 100 = digits × 10^shift
    const int shift = exponent + 2 - 14;
    if (shift >= 0)
        return digits + std::string(std::size_t(shift), '0');

    const int keep = int(digits.size()) + shift;  // digits left of the cut
    if (keep < 0)
        return "0";
    std::string kept = keep > 0 ? digits.substr(0, std::size_t(keep)) : std::string("0");
    const bool roundUp = digits[std::size_t(keep)] >= '5';
    if (roundUp) {
        int i = int(kept.size()) - 1;
        while (i >= 0 && kept[std::size_t(i)] == '9')
            kept[std::size_t(i--)] = '0';
        if (i >= 0)
            ++kept[std::size_t(i)];
        else
            kept.insert(kept.begin(), '1');
    }
    const auto firstNonZero = kept.find_first_not_of('0');
    return firstNonZero == std::string::npos ? std::string("0") : kept.substr(firstNonZero);
}

QString number(qint64 value)
{
    return QString::number(value);
}

} // namespace

QString formatStatistic(double value)
{
    if (!std::isfinite(value))
        return QString();

    std::string hundredths = hundredthsDigits(std::fabs(value));
    if (hundredths.size() < 3)
        hundredths.insert(0, 3 - hundredths.size(), '0');
    const std::string whole = hundredths.substr(0, hundredths.size() - 2);
    const char tenth = hundredths[hundredths.size() - 2];
    const char hundredth = hundredths[hundredths.size() - 1];

    std::string text = whole + '.' + tenth;
    if (hundredth != '0')
        text += hundredth;
    const bool isZero = hundredths.find_first_not_of('0') == std::string::npos;
    if (value < 0 && !isZero)
        text.insert(text.begin(), '-');
    return QString::fromLatin1(text.c_str());
}

std::optional<qint16> roundPace(double pace)
{
    // nearbyint rounds in the current mode, which is to-nearest-even unless
    // someone changed it; nothing in this program does.
    const double rounded = std::nearbyint(pace);
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        return std::nullopt;
    return qint16(rounded);
}

ResultTexts makeResultTexts(const PlayRecord &record)
{
    ResultTexts texts;
    texts.score = number(record.nScore);
    texts.seikairitu = texts.avSpeed = texts.pace = texts.avTime = texts.minInt =
        texts.maxInt = invalidText();

    const double sec = double(record.lRealTime) / 1000.0;
    if (!(sec > 0 && record.nAnswerCnt > 0))
        return texts;

    const double answers = record.nAnswerCnt;
    const double rate = double(record.nScore) * 100.0 / answers;
    texts.seikairitu = formatStatistic(rate) + QStringLiteral("％（") + number(record.nScore)
                       + QStringLiteral("／") + number(record.nAnswerCnt) + QStringLiteral("）");

    texts.avSpeed = formatStatistic(answers / sec) + QStringLiteral("問／秒");

    if (const auto pace = roundPace(double(record.nTime) * answers / sec))
        texts.pace = QStringLiteral("（") + number(*pace) + QStringLiteral("問ペース）");

    texts.avTime = formatStatistic(sec * 1000.0 / answers) + QStringLiteral("ミリ秒");

    if (record.lMinInt != 0)
        texts.minInt = QLatin1Char('<') + record.strMinQt + QStringLiteral("> ")
                       + number(record.lMinInt) + QStringLiteral("ミリ秒");

    texts.maxInt = QLatin1Char('<') + record.strMaxQt + QStringLiteral("> ")
                   + number(record.lMaxInt) + QStringLiteral("ミリ秒");
    return texts;
}

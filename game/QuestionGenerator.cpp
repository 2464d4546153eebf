#include "game/QuestionGenerator.h"

#include "game/GameRules.h"
#include "shell/RandomSource.h"

#include <cstdlib>

namespace QuestionGenerator {

namespace {

const QString signs[3] = {QStringLiteral("＋"), QStringLiteral("－"), QStringLiteral("×")};

qint16 drawOperand(RandomSource &random)
{
    // Rounding halves to even makes 0 and 10 half as likely as 1 to 9.
    return qint16(GameRules::roundHalfEven(10.0 * random.next()));
}

} // namespace

QString questionText(qint16 a, int op, qint16 b)
{
    return QString::number(a) + QLatin1Char(' ') + signs[op] + QLatin1Char(' ')
           + QString::number(b) + QStringLiteral(" ?");
}

qint16 expectedDigit(qint16 a, int op, qint16 b)
{
    const int result = op == 0 ? a + b : op == 1 ? a - b : a * b;
    return qint16(std::abs(result % 10));
}

Question drawQuestion(int mode, RandomSource &random, int secondsOfDay)
{
    // The time of day as a fraction of a day, in whole seconds, goes into the
    // generator before each draw; the source folds it into its running state,
    // so many questions within one second still differ.
    const double t = double(secondsOfDay) / 86400.0;

    Question q;
    random.reseed(3.0 * t);
    q.a = drawOperand(random);

    random.reseed(t);
    if (mode >= 3 && mode <= 5)
        q.op = mode - 3;
    else
        q.op = int(GameRules::roundHalfEven(2.0 * random.next()));

    random.reseed(t * t);
    q.b = drawOperand(random);

    q.text = questionText(q.a, q.op, q.b);
    q.answer = expectedDigit(q.a, q.op, q.b);
    return q;
}

} // namespace QuestionGenerator

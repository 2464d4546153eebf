#pragma once

#include <QString>
#include <QtGlobal>

class RandomSource;

// One arithmetic question: two operands from 0 to 10 around "＋", "－" or
// "×", and the digit the player must type, the units digit of the absolute
// value of the result.
struct Question
{
    qint16 a = 0;
    qint16 b = 0;
    int op = 0; // 0 addition, 1 subtraction, 2 multiplication
    QString text; // e.g. "7 ＋ 8 ?"
    qint16 answer = 0;
};

namespace QuestionGenerator {

// The question text for the operands and operator, e.g. "2 － 9 ?".
QString questionText(qint16 a, int op, qint16 b);
// The units digit of |a op b|.
qint16 expectedDigit(qint16 a, int op, qint16 b);

// Draws the next question of the given mode (0 to 5). secondsOfDay is the time
// of day in whole seconds; it is folded into the random source before each
// draw. Operands are 0 and 10 half as often as 1 to 9; in the mixed modes 0 to
// 2 the operator is addition, subtraction or multiplication with probability
// 1/4, 1/2, 1/4; modes 3, 4 and 5 always add, subtract or multiply.
Question drawQuestion(int mode, RandomSource &random, int secondsOfDay);

} // namespace QuestionGenerator

// Fuzzes the text box's pattern language: any pattern against any text. The
// one-pass filter must keep exactly what testing one character at a time
// keeps, and matching a whole text must end without fault.

#include "FuzzInput.h"
#include "controls/CharPattern.h"

#include <cstdlib>

namespace {

// The reference: test each character on its own (a surrogate pair is one
// character, a lone surrogate is a character of its own code).
QString oneAtATime(const QString &text, const CharPattern &pattern)
{
    QString kept;
    for (qsizetype i = 0; i < text.size();) {
        qsizetype units = 1;
        char32_t code = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text[i], text[i + 1]);
            units = 2;
        }
        if (pattern.matches(code))
            kept += text.mid(i, units);
        i += units;
    }
    return kept;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 4096)
        return 0;  // the patterns of a window definition are short
    const auto [pattern, text] = FuzzInput::twoTexts(data, size);
    const CharPattern compiled(pattern);
    if (compiled.filtered(text) != oneAtATime(text, compiled))
        std::abort();
    (void)compiled.matches(QStringView(text).left(64));
    return 0;
}

#include "controls/CharPattern.h"

#include <QList>

namespace {

// The code point at text[i], and how many UTF-16 units it takes.
std::pair<char32_t, qsizetype> codePointAt(QStringView text, qsizetype i)
{
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        return {QChar::surrogateToUcs4(c, text[i + 1]), 2};
    return {c.unicode(), 1};
}

} // namespace

bool CharPattern::Element::admits(char32_t c) const
{
    switch (kind) {
    case Literal:
        return c == literal;
    case Digit:
        return c >= U'0' && c <= U'9';
    case Any:
        return true;
    case Run:
        return false;  // never asked: runs are handled by the matcher
    case List:
        for (const auto &[low, high] : ranges) {
            if (c >= low && c <= high)
                return !negated;
        }
        return negated;
    }
    return false;
}

CharPattern::CharPattern(QStringView pattern)
{
    const QList<uint> p = pattern.toUcs4();
    const qsizetype n = p.size();
    for (qsizetype i = 0; i < n; ++i) {
        Element e;
        switch (p[i]) {
        case U'#':
            e.kind = Element::Digit;
            break;
        case U'?':
            e.kind = Element::Any;
            break;
        case U'*':
            e.kind = Element::Run;
            break;
        case U'[': {
            qsizetype first = i + 1;
            const bool negated = first < n && p[first] == U'!';
            if (negated)
                ++first;
            qsizetype close = first;
            while (close < n && p[close] != U']')
                ++close;
            if (close == n) {  // unclosed: a literal "["
                e.literal = U'[';
                break;
            }
            e.kind = Element::List;
            e.negated = negated;
            for (qsizetype j = first; j < close;) {
                if (j + 2 < close && p[j + 1] == U'-') {
                    if (p[j] <= p[j + 2])  // a reversed range admits nothing
                        e.ranges.emplace_back(p[j], p[j + 2]);
                    j += 3;
                } else {
                    e.ranges.emplace_back(p[j], p[j]);
                    ++j;
                }
            }
            i = close;
            break;
        }
        default:
            e.literal = p[i];
            break;
        }
        m_elements.push_back(std::move(e));
    }
}

bool CharPattern::matches(char32_t character) const
{
    return matchesCodes(&character, 1);
}

bool CharPattern::matches(QStringView text) const
{
    const QList<uint> codes = text.toUcs4();
    return matchesCodes(reinterpret_cast<const char32_t *>(codes.constData()), codes.size());
}

// Wildcard matching with a single backtrack point: the latest "*" takes one
// more character whenever the elements after it fail. O(text x pattern).
bool CharPattern::matchesCodes(const char32_t *text, qsizetype length) const
{
    const qsizetype count = qsizetype(m_elements.size());
    qsizetype t = 0, e = 0;
    qsizetype runElement = -1, runText = 0;
    while (t < length) {
        if (e < count && m_elements[e].kind == Element::Run) {
            runElement = e++;
            runText = t;
        } else if (e < count && m_elements[e].admits(text[t])) {
            ++e;
            ++t;
        } else if (runElement >= 0) {
            e = runElement + 1;
            t = ++runText;
        } else {
            return false;
        }
    }
    while (e < count && m_elements[e].kind == Element::Run)
        ++e;
    return e == count;
}

QString CharPattern::filtered(QStringView text) const
{
    // The common case, a pattern of one element (every check mode's), skips
    // the general matcher.
    const Element *single = m_elements.size() == 1 && m_elements[0].kind != Element::Run
                          ? &m_elements[0] : nullptr;
    QString kept;
    kept.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const auto [code, units] = codePointAt(text, i);
        if (single ? single->admits(code) : matches(code))
            kept.append(text.data() + i, units);
        i += units;
    }
    return kept;
}

#pragma once

// The pattern language of WPTextBox's input check. A pattern must match the
// whole candidate; the text box only ever asks about one character.
//
//   #          one digit 0 to 9
//   ?          any one character
//   *          any run of characters, the empty run included
//   [list]     one character in the list; "a-z" inside stands for the
//              inclusive range of character codes from a to z
//   [!list]    one character not in the list
//   otherwise  the character itself
//
// Comparison is by exact code (case-sensitive). A character is a Unicode
// code point: a surrogate pair counts as one character.
//
// Malformed patterns never fail; they are read by these rules:
//   - The list ends at the first "]" after "[" or "[!", so "]" can not be a
//     member: "[]" admits no character, "[!]" admits any one character, and
//     "[]a]" is an empty list, "a", then a literal "]".
//   - A "[" with no "]" after it is a literal "[" (so is "[!" then).
//   - "!" anywhere but right after "[" is an ordinary character.
//   - A reversed range ("z-a") admits nothing; the list's other members
//     still count.
//   - A "-" that is first or last in a list, or that follows a range, is a
//     member.

#include <QString>
#include <QStringView>

#include <utility>
#include <vector>

class CharPattern
{
public:
    explicit CharPattern(QStringView pattern);

    bool isEmpty() const { return m_elements.empty(); }
    bool matches(char32_t character) const;
    bool matches(QStringView text) const;

    // text with every character the pattern rejects removed, the others in
    // their order: what testing and removing one character at a time gives,
    // in one linear pass.
    QString filtered(QStringView text) const;

private:
    struct Element {
        enum Kind { Literal, Digit, Any, Run, List } kind = Literal;
        char32_t literal = 0;
        bool negated = false;
        std::vector<std::pair<char32_t, char32_t>> ranges;  // inclusive

        bool admits(char32_t c) const;
    };

    bool matchesCodes(const char32_t *text, qsizetype length) const;

    std::vector<Element> m_elements;
};

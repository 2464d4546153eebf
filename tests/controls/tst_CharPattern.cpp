// Checks the text box's pattern language: each element on one character, the
// built-in patterns of the check modes, the rules for malformed patterns, and
// that the one-pass filter gives what removing one character at a time gives.

#include "controls/CharPattern.h"
#include "support/TestMain.h"

#include <QRandomGenerator>
#include <QTest>

class tst_CharPattern : public QObject
{
    Q_OBJECT

private slots:
    void singleCharacter_data();
    void singleCharacter();
    void wholeText_data();
    void wholeText();
    void modesRejectEverythingOutsideAscii();
    void filterEqualsOneAtATime();
    void filterKeepsSurrogatePairsTogether();
    void hugeStarPatternStaysFast();
};

void tst_CharPattern::singleCharacter_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("admitted");
    QTest::addColumn<QString>("rejected");

    QTest::newRow("digit") << "#" << "059" << "a/:０ ";
    QTest::newRow("any") << "?" << "a ~\x1bあ" << "";
    QTest::newRow("run") << "*" << "a あ" << "";
    QTest::newRow("literal") << "a" << "a" << "Ab";
    QTest::newRow("alpha") << "[a-zA-Z]" << "azAZm" << "@[`{09 ａ";
    QTest::newRow("alnum") << "[a-zA-Z0-9]" << "aZ09" << " _-ア";
    QTest::newRow("printable") << "[ -~]" << " ~A!" << QString::fromUtf8("\x1b\x7f\t") + QChar(0x3042);
    QTest::newRow("hex, case-sensitive") << "[0-9A-F]" << "7AF0" << "afG";
    QTest::newRow("negated list") << "[!0-9]" << "a " << "05";
    QTest::newRow("list of single characters") << "[xy!]" << "xy!" << "z";
    QTest::newRow("escaped specials in list") << "[#?*]" << "#?*" << "1a";
    QTest::newRow("run around a digit") << "*#*" << "5" << "x";
    QTest::newRow("two elements never match one") << "##" << "" << "1";
    // Malformed patterns: the documented reading.
    QTest::newRow("unclosed bracket is literal") << "[" << "[" << "a]";
    QTest::newRow("unclosed list, rest literal") << "[a-z" << "" << "a[z";
    QTest::newRow("unclosed negation") << "[!" << "" << "[!a";
    QTest::newRow("lone exclamation is literal") << "!" << "!" << "a";
    QTest::newRow("empty list admits nothing") << "[]" << "" << "a]";
    QTest::newRow("empty negated list admits all") << "[!]" << "a]" << "";
    QTest::newRow("bracket first closes the list") << "[]a]" << "" << "a]";
    QTest::newRow("reversed range admits nothing") << "[z-a]" << "" << "azm-";
    QTest::newRow("reversed range, other members") << "[z-ax]" << "x" << "amz";
    QTest::newRow("hyphen first and last") << "[-a-]" << "-a" << "b";
    QTest::newRow("hyphen after a range") << "[a-c-e]" << "abc-e" << "d";
    QTest::newRow("stray closing bracket") << "]" << "]" << "[";
}

void tst_CharPattern::singleCharacter()
{
    QFETCH(QString, pattern);
    QFETCH(QString, admitted);
    QFETCH(QString, rejected);
    const CharPattern compiled(pattern);
    for (const QChar c : admitted)
        QVERIFY2(compiled.matches(char32_t(c.unicode())), qPrintable(QStringLiteral("admits ") + c));
    for (const QChar c : rejected)
        QVERIFY2(!compiled.matches(char32_t(c.unicode())), qPrintable(QStringLiteral("rejects ") + c));
}

void tst_CharPattern::wholeText_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matches");

    QTest::newRow("run matches empty") << "*" << "" << true;
    QTest::newRow("run in the middle") << "a*c" << "abbbc" << true;
    QTest::newRow("run backtracks") << "*ab" << "aab" << true;
    QTest::newRow("run needs the tail") << "a*c" << "abcd" << false;
    QTest::newRow("digits") << "##-#" << "12-3" << true;
    QTest::newRow("empty pattern, empty text") << "" << "" << true;
    QTest::newRow("empty pattern, one char") << "" << "a" << false;
}

void tst_CharPattern::wholeText()
{
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(bool, matches);
    QCOMPARE(CharPattern(pattern).matches(QStringView(text)), matches);
}

void tst_CharPattern::modesRejectEverythingOutsideAscii()
{
    const QStringList patterns{"#", "[a-zA-Z]", "[a-zA-Z0-9]", "[ -~]"};
    for (const QString &pattern : patterns) {
        const CharPattern compiled(pattern);
        for (char32_t c : {char32_t(0x7F), char32_t(0xA0), char32_t(0xFF10), char32_t(0x3042),
                           char32_t(0x6F22), char32_t(0xFF21), char32_t(0x1F600)})
            QVERIFY2(!compiled.matches(c), qPrintable(pattern));
    }
}

// The algorithm as first written: test position i; on a failure remove that
// character and test the one that moved into its place.
static QString removeOneAtATime(QString text, const CharPattern &pattern)
{
    qsizetype i = 0;
    while (i < text.size()) {
        if (pattern.matches(char32_t(text[i].unicode())))
            ++i;
        else
            text.remove(i, 1);
    }
    return text;
}

void tst_CharPattern::filterEqualsOneAtATime()
{
    const QString alphabet = QStringLiteral("ab9Z ~!\x1b\r\n[]#*?-あ漢ア０ａ");
    QRandomGenerator random(4711);
    const QStringList patterns{"#", "[a-zA-Z]", "[a-zA-Z0-9]", "[ -~]", "[!a-z]", "*", "?",
                               "[", "[]", "[z-a9]", "a", "[あ-ん]"};
    for (const QString &pattern : patterns) {
        const CharPattern compiled(pattern);
        for (int round = 0; round < 50; ++round) {
            QString text;
            const int length = random.bounded(40);
            for (int i = 0; i < length; ++i)
                text.append(alphabet[random.bounded(int(alphabet.size()))]);
            QCOMPARE(compiled.filtered(text), removeOneAtATime(text, compiled));
        }
    }
}

void tst_CharPattern::filterKeepsSurrogatePairsTogether()
{
    const QString smile = QString::fromUcs4(U"\U0001F600");
    QCOMPARE(CharPattern(u"?").filtered(QString("a" + smile + "b")), QString("a" + smile + "b"));
    QCOMPARE(CharPattern(u"[ -~]").filtered(QString("a" + smile + "b")), QStringLiteral("ab"));
    QVERIFY(CharPattern(u"?").matches(U'\U0001F600'));
    // A lone surrogate is a character of its own and fails ASCII patterns.
    const QString lone(QChar(0xD800));
    QCOMPARE(CharPattern(u"#").filtered(QString("1" + lone + "2")), QStringLiteral("12"));
}

void tst_CharPattern::hugeStarPatternStaysFast()
{
    const CharPattern stars(QString(5000, QLatin1Char('*')) + QStringLiteral("#"));
    QVERIFY(stars.matches(U'7'));
    QVERIFY(!stars.matches(U'x'));
}

TOVRIKA_TEST_MAIN(tst_CharPattern)
#include "tst_CharPattern.moc"

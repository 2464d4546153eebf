// Checks the ranking-entry request URL (the exact bytes, and that no name or
// identifier can add or reorder query keys) and the message chosen for every
// response body, answer words and near misses alike.

#include "result/RankingEntry.h"
#include "support/TestMain.h"

#include <QUrl>
#include <QUrlQuery>
#include <QtTest>

#include <optional>

using Icon = MessageBoxes::Icon;
using OptionalBody = std::optional<QByteArray>;
Q_DECLARE_METATYPE(OptionalBody)
Q_DECLARE_METATYPE(MessageBoxes::Icon)

class TestRankingEntry : public QObject
{
    Q_OBJECT

private slots:
    void requestUrl_data();
    void requestUrl();
    void hostileValuesKeepFourKeys_data();
    void hostileValuesKeepFourKeys();
    void answerFor_data();
    void answerFor();
    void cannotRankInIsTwoLines();
};

void TestRankingEntry::requestUrl_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("score");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("userId");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("expected");

    const QString server = QStringLiteral("http://rank.example");
    QTest::newRow("worked example") << server << 46 << "ABC" << "123456789" << 0
        << QByteArray("http://rank.example/cgi-bin/tovrika/tovrentry.cgi?hs=46&nm=ABC@123456789&md=0&vr=2");
    QTest::newRow("90-second mode, mixed case and digits")
        << QStringLiteral("http://127.0.0.1:38641") << 123 << "aZ09xY" << "37169000" << 1
        << QByteArray("http://127.0.0.1:38641/cgi-bin/tovrika/tovrentry.cgi?hs=123&nm=aZ09xY@37169000&md=1&vr=2");
    // An identifier made from a negative tick count starts with "-": kept.
    QTest::newRow("negative identifier") << server << 0 << "A" << "-74338" << 0
        << QByteArray("http://rank.example/cgi-bin/tovrika/tovrentry.cgi?hs=0&nm=A@-74338&md=0&vr=2");
    QTest::newRow("15-character name") << server << 32767 << "ABCDEFGHIJKLMNO" << "1" << 0
        << QByteArray("http://rank.example/cgi-bin/tovrika/tovrentry.cgi?hs=32767&nm=ABCDEFGHIJKLMNO@1&md=0&vr=2");
    QTest::newRow("query characters in the name") << server << 5 << "a&hs=999#x y" << "1" << 0
        << QByteArray("http://rank.example/cgi-bin/tovrika/tovrentry.cgi?hs=5&nm=a%26hs%3D999%23x%20y@1&md=0&vr=2");
    QTest::newRow("unreserved but not admitted") << server << 5 << "a.b_c~d" << "1+2" << 0
        << QByteArray("http://rank.example/cgi-bin/tovrika/tovrentry.cgi?hs=5&nm=a%2Eb%5Fc%7Ed@1%2B2&md=0&vr=2");
    QTest::newRow("non-ASCII as UTF-8") << server << 5 << QStringLiteral("名Ａ") << "%@/" << 0
        << QByteArray("http://rank.example/cgi-bin/tovrika/tovrentry.cgi?hs=5&nm=%E5%90%8D%EF%BC%A1@%25%40%2F&md=0&vr=2");
    QTest::newRow("empty name and identifier") << server << 1 << "" << "" << 0
        << QByteArray("http://rank.example/cgi-bin/tovrika/tovrentry.cgi?hs=1&nm=@&md=0&vr=2");
}

void TestRankingEntry::requestUrl()
{
    QFETCH(QString, server);
    QFETCH(int, score);
    QFETCH(QString, name);
    QFETCH(QString, userId);
    QFETCH(int, mode);
    QFETCH(QByteArray, expected);

    QCOMPARE(RankingEntry::requestUrl(server, qint16(score), name, userId, mode), expected);
}

void TestRankingEntry::hostileValuesKeepFourKeys_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("userId");

    QTest::newRow("ampersand and equals") << "x&md=5&vr=9" << "1";
    QTest::newRow("fragment") << "x#frag" << "1";
    QTest::newRow("identifier with keys") << "x" << "1&hs=1000";
    QTest::newRow("semicolon and plus") << "a;b+c" << "1;2";
    QTest::newRow("line break") << "a\r\nHost: evil" << "1";
    QTest::newRow("percent") << "%26" << "%3D";
}

// Whatever the values, the server must see exactly hs, nm, md, vr in this
// order, and nm must decode back to the values joined by "@".
void TestRankingEntry::hostileValuesKeepFourKeys()
{
    QFETCH(QString, name);
    QFETCH(QString, userId);

    const QByteArray encoded = RankingEntry::requestUrl(QStringLiteral("http://rank.example"), 46,
                                                        name, userId, 1);
    const QUrl url = QUrl::fromEncoded(encoded, QUrl::StrictMode);
    QVERIFY(url.isValid());
    QVERIFY(!url.hasFragment());
    QCOMPARE(url.path(), QStringLiteral("/cgi-bin/tovrika/tovrentry.cgi"));

    const QList<QByteArray> items = url.query(QUrl::FullyEncoded).toLatin1().split('&');
    QCOMPARE(items.size(), 4);
    QVERIFY(items.at(0) == "hs=46");
    QVERIFY(items.at(1).startsWith("nm="));
    QVERIFY(items.at(2) == "md=1");
    QVERIFY(items.at(3) == "vr=2");
    QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(items.at(1).mid(3))),
             name + '@' + userId);
}

void TestRankingEntry::answerFor_data()
{
    QTest::addColumn<OptionalBody>("body");
    QTest::addColumn<Icon>("icon");
    QTest::addColumn<QString>("message");

    const QString failure = QStringLiteral("なぜかエントリーできませんでした。");
    QTest::newRow("OK") << OptionalBody("OK") << Icon::Information
                        << QStringLiteral("おめでとうございます。ランクインしました！");
    QTest::newRow("CANNOT_RANK_IN") << OptionalBody("CANNOT_RANK_IN") << Icon::Information
        << QStringLiteral("残念ながらランクインできませんでした。\r\nさらなる高得点を目指してみてください。");
    QTest::newRow("INVALID_VERSION") << OptionalBody("INVALID_VERSION") << Icon::Information
        << QStringLiteral("Tovrikaのバージョンが現在のランキングに対応していません。\r\n"
                          "Tovrikaを最新のバージョンにしてください。");

    QTest::newRow("no body at all") << OptionalBody() << Icon::Error << failure;
    QTest::newRow("empty body") << OptionalBody(QByteArray()) << Icon::Error << failure;
    QTest::newRow("OK and LF") << OptionalBody("OK\n") << Icon::Error << failure;
    QTest::newRow("OK and CRLF") << OptionalBody("OK\r\n") << Icon::Error << failure;
    QTest::newRow("lower-case ok") << OptionalBody("ok") << Icon::Error << failure;
    QTest::newRow("leading space") << OptionalBody(" OK") << Icon::Error << failure;
    QTest::newRow("byte-order mark") << OptionalBody("\xEF\xBB\xBFOK") << Icon::Error << failure;
    QTest::newRow("trailing NUL") << OptionalBody(QByteArray("OK\0", 3)) << Icon::Error << failure;
    QTest::newRow("prefix of a word") << OptionalBody("CANNOT_RANK") << Icon::Error << failure;
    QTest::newRow("two words") << OptionalBody("OKOK") << Icon::Error << failure;
    QTest::newRow("error page") << OptionalBody("<html><body>500 Internal Server Error</body></html>")
                                << Icon::Error << failure;
}

void TestRankingEntry::answerFor()
{
    QFETCH(OptionalBody, body);
    QFETCH(Icon, icon);
    QFETCH(QString, message);

    const RankingEntry::Answer answer = RankingEntry::answerFor(body);
    QCOMPARE(answer.icon, icon);
    QCOMPARE(answer.message, message);
}

void TestRankingEntry::cannotRankInIsTwoLines()
{
    const QStringList lines =
        RankingEntry::answerFor(QByteArray("CANNOT_RANK_IN")).message.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.at(0).endsWith(QStringLiteral("。")));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("さらなる")));
}

TOVRIKA_TEST_MAIN(TestRankingEntry)
#include "tst_rankingentry.moc"

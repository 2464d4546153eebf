// Checks the ranking protocol that the game and the ranking server share:
// what the game sends is exactly what the server reads, and the server's
// reading of a query refuses everything outside the entry rule.
#include "result/RankingEntry.h"
#include "protocol/RankingProtocol.h"

#include <QtTest>

using RankingProtocol::ParsedEntry;
using Status = RankingProtocol::ParsedEntry::Status;

class tst_RankingProtocol : public QObject
{
    Q_OBJECT

private slots:
    void theGamesRequestReadsBackUnchanged_data();
    void theGamesRequestReadsBackUnchanged();
    void versionDecidesFirst_data();
    void versionDecidesFirst();
    void malformedQueriesAreRefused_data();
    void malformedQueriesAreRefused();
    void valuesArePercentDecodedOnce();
    void unknownKeysAreIgnored();
    void nameAndIdRules();
};

void tst_RankingProtocol::theGamesRequestReadsBackUnchanged_data()
{
    QTest::addColumn<int>("score");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("userId");
    QTest::addColumn<int>("mode");
    QTest::newRow("plain") << 42 << "Taro" << "12345678" << 0;
    QTest::newRow("negative identifier, 90 s") << 0 << "A1" << "-98765432109876543" << 1;
    QTest::newRow("highest score, longest name") << 301 << "abcdefghijklmno" << "1" << 0;
}

void tst_RankingProtocol::theGamesRequestReadsBackUnchanged()
{
    QFETCH(int, score);
    QFETCH(QString, name);
    QFETCH(QString, userId);
    QFETCH(int, mode);
    const QByteArray url = RankingEntry::requestUrl(QStringLiteral("http://127.0.0.1:8642"), qint16(score), name,
                                                    userId, mode);
    const QByteArray prefix = QByteArray("http://127.0.0.1:8642") + RankingProtocol::EntryPath + '?';
    QVERIFY(url.startsWith(prefix));
    const ParsedEntry parsed = RankingProtocol::parseEntryQuery(url.mid(prefix.size()));
    QCOMPARE(parsed.status, Status::Valid);
    QCOMPARE(parsed.entry.score, score);
    QCOMPARE(parsed.entry.name, name);
    QCOMPARE(parsed.entry.userId, userId);
    QCOMPARE(parsed.entry.mode, mode);
}

void tst_RankingProtocol::versionDecidesFirst_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::newRow("missing") << QByteArray("hs=1&nm=a@1&md=0");
    QTest::newRow("old") << QByteArray("hs=1&nm=a@1&md=0&vr=1");
    QTest::newRow("not exactly 2") << QByteArray("hs=1&nm=a@1&md=0&vr=02");
    QTest::newRow("twice") << QByteArray("hs=1&nm=a@1&md=0&vr=2&vr=2");
    QTest::newRow("empty") << QByteArray("vr=");
    QTest::newRow("malformed rest, old version") << QByteArray("hs=x&vr=3");
}

void tst_RankingProtocol::versionDecidesFirst()
{
    QFETCH(QByteArray, query);
    QCOMPARE(RankingProtocol::parseEntryQuery(query).status, Status::InvalidVersion);
}

void tst_RankingProtocol::malformedQueriesAreRefused_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::newRow("no score") << QByteArray("nm=a@1&md=0&vr=2");
    QTest::newRow("score twice") << QByteArray("hs=1&hs=2&nm=a@1&md=0&vr=2");
    QTest::newRow("score above 301") << QByteArray("hs=302&nm=a@1&md=0&vr=2");
    QTest::newRow("negative score") << QByteArray("hs=-1&nm=a@1&md=0&vr=2");
    QTest::newRow("score with sign") << QByteArray("hs=+5&nm=a@1&md=0&vr=2");
    QTest::newRow("score not a number") << QByteArray("hs=1e2&nm=a@1&md=0&vr=2");
    QTest::newRow("huge score") << QByteArray("hs=99999999999999999999&nm=a@1&md=0&vr=2");
    QTest::newRow("empty score") << QByteArray("hs=&nm=a@1&md=0&vr=2");
    QTest::newRow("score with a leading zero") << QByteArray("hs=046&nm=a@1&md=0&vr=2");
    QTest::newRow("mode with a leading zero") << QByteArray("hs=1&nm=a@1&md=01&vr=2");
    QTest::newRow("mode 2") << QByteArray("hs=1&nm=a@1&md=2&vr=2");
    QTest::newRow("no mode") << QByteArray("hs=1&nm=a@1&vr=2");
    QTest::newRow("mode twice") << QByteArray("hs=1&nm=a@1&md=0&md=0&vr=2");
    QTest::newRow("no name") << QByteArray("hs=1&md=0&vr=2");
    QTest::newRow("name twice") << QByteArray("hs=1&nm=a@1&nm=a@1&md=0&vr=2");
    QTest::newRow("no at") << QByteArray("hs=1&nm=a1&md=0&vr=2");
    QTest::newRow("empty name") << QByteArray("hs=1&nm=@1&md=0&vr=2");
    QTest::newRow("empty id") << QByteArray("hs=1&nm=a@&md=0&vr=2");
    QTest::newRow("name of 16") << QByteArray("hs=1&nm=abcdefghijklmnop@1&md=0&vr=2");
    QTest::newRow("id of 18 digits") << QByteArray("hs=1&nm=a@123456789012345678&md=0&vr=2");
    QTest::newRow("id only a minus") << QByteArray("hs=1&nm=a@-&md=0&vr=2");
    QTest::newRow("two at signs") << QByteArray("hs=1&nm=a@1@2&md=0&vr=2");
    QTest::newRow("injection in name") << QByteArray("hs=1&nm=%27%3B%20DROP%20TABLE%20best%3B--@1&md=0&vr=2");
    QTest::newRow("injection in id") << QByteArray("hs=1&nm=a@1%27%3B%20DROP%20TABLE%20best&md=0&vr=2");
    QTest::newRow("markup in name") << QByteArray("hs=1&nm=%3Cb%3E@1&md=0&vr=2");
    QTest::newRow("non-ASCII name") << QByteArray("hs=1&nm=%E5%A4%AA%E9%83%8E@1&md=0&vr=2");
    QTest::newRow("NUL in name") << QByteArray("hs=1&nm=a%00b@1&md=0&vr=2");
    QTest::newRow("space in name") << QByteArray("hs=1&nm=a+b@1&md=0&vr=2");
    QTest::newRow("full-width digits in id") << QByteArray("hs=1&nm=a@%EF%BC%91&md=0&vr=2");
}

void tst_RankingProtocol::malformedQueriesAreRefused()
{
    QFETCH(QByteArray, query);
    QCOMPARE(RankingProtocol::parseEntryQuery(query).status, Status::Malformed);
}

void tst_RankingProtocol::valuesArePercentDecodedOnce()
{
    const ParsedEntry parsed = RankingProtocol::parseEntryQuery("%68s=%33%30&nm=Ab%31@%2D12&md=%31&vr=%32");
    QCOMPARE(parsed.status, Status::Valid);
    QCOMPARE(parsed.entry.score, 30);
    QCOMPARE(parsed.entry.name, QStringLiteral("Ab1"));
    QCOMPARE(parsed.entry.userId, QStringLiteral("-12"));
    QCOMPARE(parsed.entry.mode, 1);
    // Decoded once only: "%2531" is "%31", not "1".
    QCOMPARE(RankingProtocol::parseEntryQuery("hs=%2531&nm=a@1&md=0&vr=2").status, Status::Malformed);
}

void tst_RankingProtocol::unknownKeysAreIgnored()
{
    const ParsedEntry parsed = RankingProtocol::parseEntryQuery("x=1&hs=5&&nm=a@1&md=0&vr=2&later=yes");
    QCOMPARE(parsed.status, Status::Valid);
    QCOMPARE(parsed.entry.score, 5);
}

void tst_RankingProtocol::nameAndIdRules()
{
    QVERIFY(RankingProtocol::isValidName(u"Z9"));
    QVERIFY(!RankingProtocol::isValidName(u"a_b"));
    QVERIFY(!RankingProtocol::isValidName(u"ａ")); // full-width letter
    QVERIFY(RankingProtocol::isValidUserId(u"-12345678901234567"));
    QVERIFY(!RankingProtocol::isValidUserId(u"--1"));
    QVERIFY(!RankingProtocol::isValidUserId(u"1-"));
    QVERIFY(!RankingProtocol::isValidUserId(u""));
}

QTEST_APPLESS_MAIN(tst_RankingProtocol)
#include "tst_rankingprotocol.moc"

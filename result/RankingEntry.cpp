#include "result/RankingEntry.h"

namespace RankingEntry {

QByteArray queryValue(const QString &value)
{
    // QByteArray::toPercentEncoding leaves "-", ".", "_" and "~" alone; only
    // "-" may stay as it is here, so the other three are named to be encoded.
    return value.toUtf8().toPercentEncoding(QByteArray(), QByteArrayLiteral("._~"));
}

QByteArray requestUrl(const QString &rankingServer, qint16 nScore, const QString &name,
                      const QString &userId, int modeIndex)
{
    QByteArray url = rankingServer.toUtf8();
    url += CgiPath;
    using namespace RankingProtocol;
    url += '?' + QByteArray(ScoreKey) + '=' + QByteArray::number(nScore);
    url += '&' + QByteArray(NameKey) + '=' + queryValue(name) + '@' + queryValue(userId);
    url += '&' + QByteArray(ModeKey) + '=' + QByteArray::number(modeIndex);
    url += '&' + QByteArray(VersionKey) + '=' + QByteArray::number(RequestVersion);
    return url;
}

QString failureMessage()
{
    return QStringLiteral("なぜかエントリーできませんでした。");
}

Answer answerFor(const std::optional<QByteArray> &body)
{
    using Icon = MessageBoxes::Icon;
    if (body) {
        if (*body == RankingProtocol::AnswerOk)
            return {Icon::Information, QStringLiteral("おめでとうございます。ランクインしました！")};
        if (*body == RankingProtocol::AnswerCannotRankIn)
            return {Icon::Information,
                    QStringLiteral("残念ながらランクインできませんでした。\r\n"
                                   "さらなる高得点を目指してみてください。")};
        if (*body == RankingProtocol::AnswerInvalidVersion)
            return {Icon::Information,
                    QStringLiteral("Tovrikaのバージョンが現在のランキングに対応していません。\r\n"
                                   "Tovrikaを最新のバージョンにしてください。")};
    }
    return {Icon::Error, failureMessage()};
}

} // namespace RankingEntry

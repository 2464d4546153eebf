#include "protocol/RankingProtocol.h"

#include <QList>

namespace RankingProtocol {

namespace {

bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

bool isAsciiAlnum(QChar c)
{
    return isAsciiDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// A decimal integer of at most three digits, no sign and no leading zero,
// as the game writes it: the score and the mode.
int smallNumber(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 3 || (text.size() > 1 && text.front() == '0'))
        return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

bool isValidName(QStringView name)
{
    if (name.isEmpty() || name.size() > NameMaxLength)
        return false;
    for (QChar c : name) {
        if (!isAsciiAlnum(c))
            return false;
    }
    return true;
}

bool isValidUserId(QStringView userId)
{
    const QStringView digits = userId.startsWith(u'-') ? userId.mid(1) : userId;
    if (digits.isEmpty() || digits.size() > UserIdMaxDigits)
        return false;
    for (QChar c : digits) {
        if (!isAsciiDigit(c))
            return false;
    }
    return true;
}

ParsedEntry parseEntryQuery(QByteArrayView rawQuery)
{
    using Status = ParsedEntry::Status;
    QList<QByteArray> scores, modes, names, versions;
    for (const QByteArray &pair : QByteArray(rawQuery.data(), rawQuery.size()).split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        const QByteArray key = QByteArray::fromPercentEncoding(pair.left(equals < 0 ? pair.size() : equals));
        const QByteArray value = equals < 0 ? QByteArray() : QByteArray::fromPercentEncoding(pair.mid(equals + 1));
        if (key == ScoreKey)
            scores.append(value);
        else if (key == ModeKey)
            modes.append(value);
        else if (key == NameKey)
            names.append(value);
        else if (key == VersionKey)
            versions.append(value);
    }

    ParsedEntry parsed;
    if (versions.size() != 1 || versions.first() != QByteArray::number(RequestVersion)) {
        parsed.status = Status::InvalidVersion;
        return parsed;
    }
    if (scores.size() != 1 || modes.size() != 1 || names.size() != 1)
        return parsed;

    const int score = smallNumber(scores.first());
    const int mode = smallNumber(modes.first());
    if (score < 0 || score > MaxScore || mode < 0 || mode >= ModeCount)
        return parsed;

    // Only ASCII is valid here, so a decoded byte string is checked as Latin-1:
    // any byte above 127 fails the rules below.
    const QString nameAndId = QString::fromLatin1(names.first());
    const qsizetype at = nameAndId.indexOf(u'@');
    if (at < 0)
        return parsed;
    const QString name = nameAndId.left(at);
    const QString userId = nameAndId.mid(at + 1);
    if (!isValidName(name) || !isValidUserId(userId))
        return parsed;

    parsed.status = Status::Valid;
    parsed.entry = Entry{score, mode, name, userId};
    return parsed;
}

} // namespace RankingProtocol

#include "server/Boards.h"

#include <QHash>

#include <cstdio>

QString boardName(Board board)
{
    switch (board) {
    case Board::Today:
        return QStringLiteral("today");
    case Board::Week:
        return QStringLiteral("week");
    case Board::All:
        break;
    }
    return QStringLiteral("all");
}

std::optional<Board> boardFromName(QStringView name)
{
    for (Board board : AllBoards) {
        if (name == boardName(board))
            return board;
    }
    return std::nullopt;
}

namespace {

constexpr qint64 DayMs = 86400000;
constexpr qint64 QuarterHourMs = 900000;
constexpr qint64 JulianDayOfEpoch = 2440588;

qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

QDate localDate(qint64 local) { return QDate::fromJulianDay(JulianDayOfEpoch + floorDiv(local, DayMs)); }

} // namespace

qint64 localMs(qint64 utcMs, const QTimeZone &zone)
{
    thread_local QByteArray cachedZone;
    thread_local QHash<qint64, int> offsets;
    if (cachedZone != zone.id()) {
        cachedZone = zone.id();
        offsets.clear();
    }
    const qint64 bucket = floorDiv(utcMs, QuarterHourMs);
    auto found = offsets.constFind(bucket);
    if (found == offsets.cend()) {
        if (offsets.size() > 100000)
            offsets.clear();
        found = offsets.insert(bucket, zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(bucket * QuarterHourMs,
                                                                                        QTimeZone::utc())));
    }
    return utcMs + qint64(found.value()) * 1000;
}

QString localDateTimeText(qint64 local)
{
    const QDate date = localDate(local);
    const qint64 minutes = floorDiv(local, 60000) - floorDiv(local, DayMs) * 1440;
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d", date.year(), date.month(), date.day(),
                  int(minutes / 60), int(minutes % 60));
    return QString::fromLatin1(text);
}

qint64 periodKey(Board board, qint64 utcMs, const QTimeZone &zone)
{
    if (board == Board::All)
        return 0;
    QDate date = localDate(localMs(utcMs, zone));
    if (board == Board::Week)
        date = date.addDays(1 - date.dayOfWeek()); // Monday is day 1
    return qint64(date.year()) * 10000 + date.month() * 100 + date.day();
}

void assignRanks(QList<BoardRow> &rows)
{
    for (qsizetype i = 0; i < rows.size(); ++i)
        rows[i].rank = (i > 0 && rows[i].score == rows[i - 1].score) ? rows[i - 1].rank : int(i + 1);
}

QString shareText(int rank, qint64 total)
{
    const double share = total > 0 ? 100.0 * rank / double(total) : 100.0;
    return QStringLiteral("上位 %1%").arg(share, 0, 'f', 1);
}

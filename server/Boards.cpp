#include "server/Boards.h"

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

qint64 periodKey(Board board, qint64 utcMs, const QTimeZone &zone)
{
    if (board == Board::All)
        return 0;
    QDate date = QDateTime::fromMSecsSinceEpoch(utcMs, zone).date();
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

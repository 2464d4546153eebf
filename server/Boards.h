#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <iterator>
#include <optional>

// The three boards of each mode and the period that each row belongs to.
enum class Board { Today = 0, Week = 1, All = 2 };
inline constexpr Board AllBoards[] = {Board::Today, Board::Week, Board::All};
inline constexpr int BoardCount = int(std::size(AllBoards));
// Where a mode's board stands in a list of every mode's boards, mode by mode.
inline constexpr int boardSlot(int mode, Board board) { return mode * BoardCount + int(board); }

// "today", "week", "all": the names the JSON interface uses.
QString boardName(Board board);
std::optional<Board> boardFromName(QStringView name);

// The period of a board at a moment, as a number stored with each row:
// the local date (yyyymmdd) for today, the date of that week's Monday for
// the week, 0 for all time. The zone decides where a day begins.
qint64 periodKey(Board board, qint64 utcMs, const QTimeZone &zone);

// A moment as the local wall-clock time of a zone, in milliseconds since the
// local epoch. Offsets are looked up once per quarter hour of UTC (zones
// change offset on quarter hours), as a page formats hundreds of times.
qint64 localMs(qint64 utcMs, const QTimeZone &zone);
// "yyyy/MM/dd HH:mm" of a local time from localMs.
QString localDateTimeText(qint64 localMs);

struct BoardRow
{
    int rank = 0;
    QString name;
    QString userId;
    int score = 0;
    qint64 reachedMs = 0;
};

struct BoardView
{
    int mode = 0;
    Board board = Board::All;
    // The first rows, in order, with competition ranks (1, 2, 2, 4).
    QList<BoardRow> rows;
    // The visitor's own row when it stands below the first rows.
    std::optional<BoardRow> visitorBelow;
    // Rows on the board in all.
    qint64 total = 0;
};

// A visitor on a board: the own row with its rank when the visitor has one
// below the first rows, and the rows on the board in all, for the share.
struct VisitorStanding
{
    std::optional<BoardRow> row;
    qint64 total = 0;
};

// Competition ranks for rows already in board order: a row shares the rank
// of the first row with its score.
void assignRanks(QList<BoardRow> &rows);

// The visitor's share of the board, "上位 12.5%": rank over rows, one decimal.
QString shareText(int rank, qint64 total);

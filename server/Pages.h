#pragma once

#include "server/Boards.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QTimeZone>

// The HTML and JSON the server sends. Plain functions of the boards, so
// that escaping and layout are checked without a server.
namespace Pages {

// The name of a timed mode as the game shows it: "30秒間激走モード", "90秒間耐久モード".
QString modeTitle(int mode);
// "今日", "今週", "総合".
QString boardTitle(Board board);

// The ranking page as rendered for no visitor, with the places where a
// visitor's page differs from it: rendered once per change of the boards,
// while each visitor's page costs a copy and a few pieces put in.
struct RenderedPage
{
    QByteArray bytes;
    // Made once beside the bytes, so that a page sent compressed or
    // revalidated costs nothing more per request; empty until filled in.
    QByteArray gzipped;
    QByteArray etag;
    // One a board, in page order.
    struct Spot
    {
        int mode = 0;
        Board board = Board::All;
        // Where the "<tr>" of each ID's row begins.
        QHash<QString, qsizetype> rowOpening;
        // Just before "</tbody>" and just after "</table>\n"; -1 on a board
        // without rows.
        qsizetype rowsEnd = -1;
        qsizetype tableEnd = -1;
    };
    QList<Spot> spots;
};

// The rendered rows of the last page rendered, by all that shows in them
// but the rank: most rows of a page are those of the page before, and
// their dates cost more to write than the rest of the page. Holds the rows
// of the last two pages at most; used from one thread, with one zone.
class RowMemo
{
public:
    // The row's HTML after its rank.
    QByteArray tail(const BoardRow &row, const QTimeZone &zone);
    // A page is done: rows it did not show are forgotten with the next.
    void next();

    struct Key
    {
        QString userId;
        QString name;
        int score = 0;
        qint64 reachedMs = 0;
        bool operator==(const Key &) const = default;
    };

private:
    QHash<Key, QByteArray> m_last;
    QHash<Key, QByteArray> m_current;
};
size_t qHash(const RowMemo::Key &key, size_t seed = 0);

RenderedPage renderRankingPage(const QList<BoardView> &boards, const QTimeZone &zone, RowMemo *memo = nullptr);

// One difference of a visitor's page from the page: at an offset into its
// bytes, so many of them left out and these bytes put in.
struct Splice
{
    qsizetype at = 0;
    qsizetype skip = 0;
    QByteArray text;
};
// How the page of a visitor differs: the visitor's rows among the first
// rows highlighted, and where a standing (one a spot, in spot order) holds
// a row, that row with rank and share at the board's end. In page order;
// a few hundred bytes, so that what a visitor's page is can be told (and
// tagged) without its two megabytes.
QList<Splice> visitorSplices(const RenderedPage &page, const QString &visitorId,
                             const QList<VisitorStanding> &standings, const QTimeZone &zone);
// The bytes with the splices made.
QByteArray spliced(const QByteArray &bytes, const QList<Splice> &splices);
// The splices as one string that differs whenever they do.
QByteArray spliceKey(const QList<Splice> &splices);
QByteArray visitorPage(const RenderedPage &page, const QString &visitorId, const QList<VisitorStanding> &standings,
                       const QTimeZone &zone);

// The ranking page: both modes, their three boards each, the visitor's rows
// highlighted and, where the visitor stands below a board's first rows,
// the visitor's own row with rank and share at its end.
QByteArray rankingPage(const QList<BoardView> &boards, const QString &visitorId, const QTimeZone &zone);

QByteArray homePage();
QByteArray notFoundPage();

// One board as JSON for tools and tests.
QByteArray boardJson(const BoardView &board, const QString &visitorId, const QTimeZone &zone);

// Text made safe for HTML content and attribute values.
QString escapeHtml(const QString &text);

} // namespace Pages

#include "server/Pages.h"

#include "protocol/RankingProtocol.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace Pages {

namespace {

// The game's colours: the dark grey of the main window, its light panels and
// the deep blue of its questions. A mode's boards sit side by side where
// 21rem each fits, else one above the other. Within a board the heads,
// ranks, scores and dates keep to one line and a name wraps anywhere, so that
// no row is wider than its board, even with 15 full-width letters; on a
// phone the date drops its year. A board narrower than 20 of its own letters
// (large text on a phone, a zoomed window) stacks each row: rank and score
// beside the name, the date under it, the columns still shared by all rows
// through a subgrid. On paper: black on white with no fills, so that it
// reads the same with background graphics off, compact rows, a mode's boards
// flowing on through two columns, the own row ruled in black.
constexpr char Style[] = R"css(
:root { color-scheme: dark; }
* { box-sizing: border-box; }
body { margin: 0; background: #404040; color: #ffffff;
  font-family: "IPAPGothic", "IPAexGothic", "Noto Sans CJK JP", sans-serif; line-height: 1.5; }
header { background: #000040; padding: 1rem 1.25rem; border-bottom: 4px solid #e0e0e0; }
header h1 { margin: 0; font-size: 1.6rem; letter-spacing: .05em; word-break: keep-all; overflow-wrap: anywhere; }
header p { margin: .25rem 0 0; color: #e0e0e0; }
main { max-width: 100rem; margin: 0 auto; padding: 1rem; }
nav ul { list-style: none; margin: 0 0 1rem; padding: 0; display: flex; flex-wrap: wrap; gap: .5rem 2rem; }
nav li { display: flex; flex-wrap: wrap; align-items: center; gap: .4rem; }
nav a { font-weight: bold; }
nav a.to-board { background: #e0e0e0; color: #000040; border-radius: 4px; padding: .1rem .6rem; text-decoration: none; }
section.mode { margin-bottom: 2rem; }
section.mode > h2 { font-size: 1.3rem; border-left: 6px solid #e0e0e0; padding-left: .5rem; }
.boards { display: grid; grid-template-columns: repeat(auto-fit, minmax(min(100%, 21rem), 1fr)); gap: 1rem;
  align-items: start; }
.board { background: #e0e0e0; color: #000000; border-radius: 6px; padding: .5rem .75rem 1rem; min-width: 0;
  container-type: inline-size; }
.board h3 { margin: .25rem 0 .5rem; color: #000040; }
.board a { color: #000040; }
table { width: 100%; border-collapse: collapse; font-variant-numeric: tabular-nums; }
th, td { padding: .2rem .35rem; text-align: left; vertical-align: baseline; border-bottom: 1px solid #b0b0b0; }
th { font-size: .85rem; color: #000040; white-space: nowrap; }
.name { width: 100%; overflow-wrap: anywhere; }
.rank, .score { text-align: right; white-space: nowrap; }
.when { font-size: .8rem; white-space: nowrap; }
tr.own td { background: #000040; color: #ffffff; font-weight: bold; }
.you { font-weight: normal; font-size: .85em; word-break: keep-all; }
tr.gap td { text-align: center; border-bottom: none; color: #606060; }
p.empty { color: #404040; }
p.share { margin: .5rem 0 0; font-weight: bold; color: #000040; }
p.up { margin: .5rem 0 0; text-align: right; font-size: .85rem; }
a { color: #ffffff; }
footer { text-align: center; color: #e0e0e0; padding: 1rem; font-size: .85rem; }
@media (max-width: 30rem) {
  header h1 { font-size: 1.3rem; }
  main { padding: .5rem; }
  .board { padding: .5rem .5rem 1rem; }
  th, td { padding: .2rem .25rem; }
  .when .year { display: none; }
}
@container (max-width: 20em) {
  table, thead, tbody, tr { display: grid; grid-template-columns: auto 1fr auto; }
  thead, tbody, tr { grid-column: 1 / -1; grid-template-columns: subgrid; }
  tr { border-bottom: 1px solid #b0b0b0; }
  th, td { border-bottom: none; }
  .rank { grid-row: 1 / 3; }
  .name { width: auto; }
  .when { grid-column: 2 / 4; }
  tr.gap td { grid-column: 1 / -1; }
}
@media print {
  :root { color-scheme: light; font-size: 9pt; }
  @page { margin: 12mm; }
  body { background: #ffffff; color: #000000; line-height: 1.25; }
  nav, p.up, footer { display: none; }
  header { background: none; border-bottom: 2px solid #000000; padding: 0 0 .25rem; }
  header p, .board h3, th, tr.gap td, p.empty, p.share, a { color: #000000; }
  main { max-width: none; padding: .5rem 0 0; }
  section.mode { margin-bottom: 1rem; }
  section.mode > h2 { margin: .5rem 0; border-left-color: #000000; break-after: avoid; }
  .boards { display: block; columns: 2 18rem; column-gap: 1rem; }
  .board { background: none; color: #000000; border-radius: 0; padding: 0; margin-bottom: .75rem; }
  .board h3 { margin: 0 0 .25rem; break-after: avoid; }
  th, td { padding: 0 .15rem; border-bottom-color: #808080; }
  tr { break-inside: avoid; }
  tr.own td { background: none; color: #000000; border-top: 2px solid #000000; border-bottom: 2px solid #000000; }
}
)css";

QByteArray pageShell(const QString &title, const QString &body)
{
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
                                  "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                                  "<title>%1</title>\n<style>%2</style>\n</head>\n<body>\n%3</body>\n</html>\n")
                       .arg(escapeHtml(title), QString::fromUtf8(Style), body);
    return html.toUtf8();
}

// "2026/12/08 13:45" in a <time> that names the moment with its zone's
// offset. The year is a span of its own, so that a phone can leave it out.
QString timeHtml(qint64 utcMs, const QTimeZone &zone)
{
    const qint64 local = localMs(utcMs, zone);
    const QString text = localDateTimeText(local);
    const qsizetype yearEnd = text.indexOf(u'/') + 1;
    QString machine = text;
    machine.replace(u'/', u'-').replace(u' ', u'T');
    const qint64 offsetMinutes = (local - utcMs) / 60000;
    if (offsetMinutes == 0) {
        machine += u'Z';
    } else {
        const qint64 magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
        char offset[16];
        std::snprintf(offset, sizeof offset, "%c%02d:%02d", offsetMinutes < 0 ? '-' : '+', int(magnitude / 60),
                      int(magnitude % 60));
        machine += QLatin1String(offset);
    }
    QString html;
    html.reserve(80);
    html += QLatin1String("<time datetime=\"");
    html += machine;
    html += QLatin1String("\"><span class=\"year\">");
    html += QStringView(text).left(yearEnd);
    html += QLatin1String("</span>");
    html += QStringView(text).mid(yearEnd);
    html += QLatin1String("</time>");
    return html;
}

// The visitor's own row: named as the current one for assistive software,
// and told in words after the name, so that neither a screen reader nor a
// print without colour leaves it to the highlight alone.
constexpr char OwnRowOpening[] = "<tr class=\"own\" aria-current=\"true\">";
constexpr char OwnWords[] = "<span class=\"you\">（あなた）</span>";
// What follows every name: names are escaped, so it never occurs in one.
constexpr char NameEnd[] = "</td><td class=\"score\">";

// A row after its rank: the part that stays while rows above come and go.
QByteArray rowTail(const BoardRow &row, bool own, const QTimeZone &zone)
{
    QString html;
    html.reserve(256);
    html += QLatin1String("</td><td class=\"name\">");
    html += escapeHtml(row.name);
    if (own)
        html += QString::fromUtf8(OwnWords);
    html += QLatin1String(NameEnd);
    html += QString::number(row.score);
    html += QLatin1String("</td><td class=\"when\">");
    html += timeHtml(row.reachedMs, zone);
    html += QLatin1String("</td></tr>\n");
    return html.toUtf8();
}

void appendRow(QByteArray &html, const BoardRow &row, bool own, const QByteArray &tail)
{
    html += own ? QByteArrayView(OwnRowOpening) : QByteArrayView("<tr>");
    html += "<td class=\"rank\">";
    html += QByteArray::number(row.rank);
    html += tail;
}

QByteArray rowHtml(const BoardRow &row, bool own, const QTimeZone &zone)
{
    QByteArray html;
    appendRow(html, row, own, rowTail(row, own, zone));
    return html;
}

// One board as rendered for no visitor. The places where a visitor's page
// differs are noted as offsets into html: each row's "<tr>", the end of the
// rows and the end of the table.
void appendBoard(QByteArray &html, const BoardView &view, const QTimeZone &zone, RenderedPage::Spot &spot,
                 RowMemo *memo)
{
    html += QStringLiteral("<div class=\"board\" id=\"board-%1-%2\">\n<h3>%3</h3>\n")
                .arg(view.mode)
                .arg(boardName(view.board), boardTitle(view.board))
                .toUtf8();
    if (view.rows.isEmpty()) {
        html += QStringLiteral("<p class=\"empty\">まだエントリーがありません。</p>\n</div>\n").toUtf8();
        return;
    }
    // Scoped: with the visitor's gap row, spanning all columns, the table is
    // no longer a plain grid for assistive software to guess the heads of.
    html += QStringLiteral("<table>\n<thead><tr><th scope=\"col\" class=\"rank\">順位</th>"
                           "<th scope=\"col\" class=\"name\">名前</th><th scope=\"col\" class=\"score\">得点</th>"
                           "<th scope=\"col\" class=\"when\">日時</th></tr></thead>\n<tbody>\n")
                .toUtf8();
    spot.rowOpening.reserve(view.rows.size());
    for (const BoardRow &row : view.rows) {
        spot.rowOpening.insert(row.userId, html.size());
        appendRow(html, row, false, memo ? memo->tail(row, zone) : rowTail(row, false, zone));
    }
    spot.rowsEnd = html.size();
    html += "</tbody>\n</table>\n";
    spot.tableEnd = html.size();
    // A hundred rows down, the way back to the links to the other boards.
    html += QStringLiteral("<p class=\"up\"><a href=\"#contents\">目次へ</a></p>\n</div>\n").toUtf8();
}

// Links to each mode and each of its boards, so that no one scrolls through
// hundreds of rows to reach the other mode.
QString contentsHtml(const QList<BoardView> &boards)
{
    QString html = QStringLiteral("<nav id=\"contents\" aria-label=\"目次\">\n<ul>\n");
    for (int mode = 0; mode < RankingProtocol::ModeCount; ++mode) {
        html += QStringLiteral("<li><a href=\"#mode-%1\">%2</a>").arg(mode).arg(modeTitle(mode));
        for (const BoardView &view : boards) {
            if (view.mode == mode) {
                // Read out with its mode: both modes have a "今日".
                html += QStringLiteral(" <a class=\"to-board\" href=\"#board-%1-%2\" aria-label=\"%3 %4\">%4</a>")
                            .arg(view.mode)
                            .arg(boardName(view.board), modeTitle(mode), boardTitle(view.board));
            }
        }
        html += QStringLiteral("</li>\n");
    }
    html += QStringLiteral("</ul>\n</nav>\n");
    return html;
}

} // namespace

QString modeTitle(int mode)
{
    return mode == 0 ? QStringLiteral("30秒間激走モード") : QStringLiteral("90秒間耐久モード");
}

QString boardTitle(Board board)
{
    switch (board) {
    case Board::Today:
        return QStringLiteral("今日");
    case Board::Week:
        return QStringLiteral("今週");
    case Board::All:
        break;
    }
    return QStringLiteral("総合");
}

QString escapeHtml(const QString &text)
{
    QString escaped = text.toHtmlEscaped(); // & < > "
    escaped.replace(u'\'', QLatin1String("&#39;"));
    return escaped;
}

QByteArray RowMemo::tail(const BoardRow &row, const QTimeZone &zone)
{
    const Key key{row.userId, row.name, row.score, row.reachedMs};
    auto found = m_current.constFind(key);
    if (found != m_current.cend())
        return *found;
    found = m_last.constFind(key);
    const QByteArray tail = found != m_last.cend() ? *found : rowTail(row, false, zone);
    m_current.insert(key, tail);
    return tail;
}

size_t qHash(const RowMemo::Key &key, size_t seed)
{
    return qHashMulti(seed, key.userId, key.name, key.score, key.reachedMs);
}

void RowMemo::next()
{
    m_last.swap(m_current);
    m_current.clear();
}

RenderedPage renderRankingPage(const QList<BoardView> &boards, const QTimeZone &zone, RowMemo *memo)
{
    QString top = QStringLiteral("<header>\n<h1>Tovrika？ インターネットランキング</h1>\n"
                                 "<p>一桁の暗算でどこまで走れるか。各モードの今日・今週・総合の順位です。</p>\n"
                                 "</header>\n<main>\n");
    top += contentsHtml(boards);
    const QByteArray shell = pageShell(QStringLiteral("Tovrika？ ランキング"), QStringLiteral("\x01"));
    const qsizetype bodyAt = shell.indexOf('\x01');

    RenderedPage page;
    page.bytes.reserve(64 * 1024);
    page.bytes += shell.left(bodyAt);
    page.bytes += top.toUtf8();
    for (int mode = 0; mode < RankingProtocol::ModeCount; ++mode) {
        page.bytes += QStringLiteral("<section class=\"mode\" id=\"mode-%1\">\n<h2>%2</h2>\n<div class=\"boards\">\n")
                          .arg(mode)
                          .arg(modeTitle(mode))
                          .toUtf8();
        for (const BoardView &view : boards) {
            if (view.mode != mode)
                continue;
            RenderedPage::Spot spot;
            spot.mode = view.mode;
            spot.board = view.board;
            appendBoard(page.bytes, view, zone, spot, memo);
            page.spots.append(std::move(spot));
        }
        page.bytes += "</div>\n</section>\n";
    }
    page.bytes += QStringLiteral("</main>\n<footer><a href=\"/\">Tovrika？ ホーム</a></footer>\n").toUtf8();
    page.bytes += shell.mid(bodyAt + 1);
    if (memo)
        memo->next();
    return page;
}

QList<Splice> visitorSplices(const RenderedPage &page, const QString &visitorId,
                             const QList<VisitorStanding> &standings, const QTimeZone &zone)
{
    QList<Splice> splices;
    if (visitorId.isEmpty())
        return splices;
    for (qsizetype i = 0; i < page.spots.size(); ++i) {
        const RenderedPage::Spot &spot = page.spots[i];
        if (spot.rowsEnd < 0)
            continue;
        const auto own = spot.rowOpening.constFind(visitorId);
        if (own != spot.rowOpening.cend()) {
            splices.append({*own, 4, OwnRowOpening}); // in place of "<tr>"
            splices.append({page.bytes.indexOf(NameEnd, *own), 0, OwnWords});
            continue;
        }
        const VisitorStanding *standing = i < standings.size() ? &standings[i] : nullptr;
        if (!standing || !standing->row)
            continue;
        splices.append({spot.rowsEnd, 0,
                        QStringLiteral("<tr class=\"gap\"><td colspan=\"4\">…</td></tr>\n").toUtf8()
                            + rowHtml(*standing->row, true, zone)});
        splices.append({spot.tableEnd, 0,
                        QStringLiteral("<p class=\"share\">あなたは %1 位（%2）</p>\n")
                            .arg(standing->row->rank)
                            .arg(escapeHtml(shareText(standing->row->rank, standing->total)))
                            .toUtf8()});
    }
    return splices;
}

QByteArray spliced(const QByteArray &bytes, const QList<Splice> &splices)
{
    if (splices.isEmpty())
        return bytes;
    qsizetype size = bytes.size();
    for (const Splice &splice : splices)
        size += splice.text.size() - splice.skip;
    QByteArray html;
    html.reserve(size);
    qsizetype copied = 0;
    for (const Splice &splice : splices) {
        html.append(bytes.constData() + copied, splice.at - copied);
        html += splice.text;
        copied = splice.at + splice.skip;
    }
    html.append(bytes.constData() + copied, bytes.size() - copied);
    return html;
}

QByteArray spliceKey(const QList<Splice> &splices)
{
    QByteArray key;
    for (const Splice &splice : splices) {
        key += QByteArray::number(splice.at) + ',' + QByteArray::number(splice.skip) + ','
               + QByteArray::number(splice.text.size()) + ':' + splice.text;
    }
    return key;
}

QByteArray visitorPage(const RenderedPage &page, const QString &visitorId, const QList<VisitorStanding> &standings,
                       const QTimeZone &zone)
{
    return spliced(page.bytes, visitorSplices(page, visitorId, standings, zone));
}

QByteArray rankingPage(const QList<BoardView> &boards, const QString &visitorId, const QTimeZone &zone)
{
    QList<VisitorStanding> standings;
    for (const BoardView &view : boards)
        standings.append(VisitorStanding{view.visitorBelow, view.total});
    return visitorPage(renderRankingPage(boards, zone), visitorId, standings, zone);
}

QByteArray homePage()
{
    const QString body = QStringLiteral(
        "<header>\n<h1>Tovrika？</h1>\n<p>一桁の暗算ゲーム</p>\n</header>\n<main>\n"
        "<p>Tovrika？ は、画面に出る「7 ＋ 8 ?」のような計算の答えの一の位を、キーひとつで答えていくゲームです。</p>\n"
        "<p>30秒間激走モードと90秒間耐久モードでは、ゲージが尽きるまでにどれだけ正解できるかを競います。"
        "最高得点はインターネットランキングにエントリーできます。</p>\n"
        "<p><a href=\"%1\">インターネットランキングを見る</a></p>\n</main>\n")
                             .arg(QLatin1String(RankingProtocol::RankingPagePath));
    return pageShell(QStringLiteral("Tovrika？"), body);
}

QByteArray notFoundPage()
{
    return pageShell(QStringLiteral("Tovrika？ ページがありません"),
                     QStringLiteral("<main>\n<h1>ページがありません</h1>\n<p><a href=\"/\">ホームへ</a></p>\n</main>\n"));
}

QByteArray boardJson(const BoardView &board, const QString &visitorId, const QTimeZone &zone)
{
    auto rowObject = [&](const BoardRow &row) {
        QJsonObject object{{QStringLiteral("rank"), row.rank},
                           {QStringLiteral("name"), row.name},
                           {QStringLiteral("score"), row.score},
                           {QStringLiteral("time"),
                            QDateTime::fromMSecsSinceEpoch(row.reachedMs, zone).toString(Qt::ISODate)},
                           {QStringLiteral("own"), !visitorId.isEmpty() && row.userId == visitorId}};
        return object;
    };
    QJsonArray rows;
    for (const BoardRow &row : board.rows)
        rows.append(rowObject(row));
    QJsonObject object{{QStringLiteral("mode"), board.mode},
                       {QStringLiteral("board"), boardName(board.board)},
                       {QStringLiteral("total"), board.total},
                       {QStringLiteral("rows"), rows}};
    if (board.visitorBelow) {
        QJsonObject visitor = rowObject(*board.visitorBelow);
        visitor.insert(QStringLiteral("share"), shareText(board.visitorBelow->rank, board.total));
        object.insert(QStringLiteral("visitor"), visitor);
    } else {
        object.insert(QStringLiteral("visitor"), QJsonValue::Null);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace Pages

#pragma once

#include "server/Boards.h"

#include <QByteArray>
#include <QList>
#include <QTimeZone>

// The HTML and JSON the server sends. Plain functions of the boards, so
// that escaping and layout are checked without a server.
namespace Pages {

// The name of a timed mode as the game shows it: "30秒間激走モード", "90秒間耐久モード".
QString modeTitle(int mode);
// "今日", "今週", "総合".
QString boardTitle(Board board);

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

#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A batch of entries placed on PostgreSQL by one call of a function that the
// writer's migration installs: one statement, one round trip and one commit
// for the whole batch, where each entry would otherwise cost some fifteen
// statements, each waiting for its answer.
namespace PostgresBatch {

// The channel that every transaction changing the boards notifies, with the
// payload RowsChanged when first rows may differ and TotalsChanged when only
// counts did, so that page servers read afresh only when they must.
inline constexpr char Channel[] = "tovrika_boards";
inline constexpr char RowsChanged[] = "rows";
inline constexpr char TotalsChanged[] = "totals";

// The error code with which the function refuses to commit past the
// deadline that it was given.
inline constexpr char DeadlinePassed[] = "TV001";

// CREATE OR REPLACE FUNCTION tovrika_submit(...): does for each entry of the
// arrays, in order, what RankingStore::storeEntry does (the log line with its
// number, the banned check, the best rows and counts of the three boards, the
// answer), notifies Channel, and returns whether each entry ranked in.
QString createFunction();

// The call, with its parameters in the order of the function's arguments:
// arrival ms, client, user ID, name, mode, score, today's and this week's
// period, the number of first rows, and the deadline in the database
// server's clock (ms since the epoch), past which it commits nothing.
QString callStatement();

// Array literals for the parameters of callStatement(), cast there. Every
// element of a text array is quoted, with backslashes and double quotes
// escaped, so that no name can end or split its element.
QString textArray(const QStringList &values);
QString numberArray(const QList<qint64> &values);

// The function's answer as Qt reads it, "{t,f,...}"; nothing unless it holds
// exactly count booleans.
std::optional<QList<bool>> parseAnswers(const QString &text, qsizetype count);

} // namespace PostgresBatch

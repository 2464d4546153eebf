// The operator's side of the store: removing and banning cheaters,
// rebuilding the boards from the log, backing up and listing an ID.
#include "server/PostgresBatch.h"
#include "server/RankingStore.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

bool run(QSqlQuery &query, const QString &sql, const QVariantList &values = {})
{
    if (!query.prepare(sql))
        return false;
    for (qsizetype i = 0; i < values.size(); ++i)
        query.bindValue(int(i), values[i]);
    return query.exec();
}

} // namespace

bool RankingStore::transact(const QString &what, const std::function<bool(QSqlQuery &)> &work)
{
    if (!ensureOpen())
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    bool done = false;
    {
        QSqlQuery query(db);
        if (!db.transaction()) {
            m_lastError = what + QStringLiteral(": cannot begin a transaction: ") + db.lastError().text();
            return false;
        }
        done = work(query);
        // Each of these changes the boards: running servers keep their
        // pages until told, at the commit, that rows changed.
        if (done && m_config.kind == DatabaseConfig::Kind::Postgres)
            done = query.exec(QStringLiteral("SELECT pg_notify('%1', '%2')")
                                  .arg(QLatin1String(PostgresBatch::Channel),
                                       QLatin1String(PostgresBatch::RowsChanged)));
        if (!done && m_lastError.isEmpty())
            fail(what, query);
    }
    if (done && !db.commit()) {
        m_lastError = what + QStringLiteral(": cannot commit: ") + db.lastError().text();
        done = false;
    }
    if (!done)
        rollback(db);
    m_cache.clear();
    return done;
}

bool RankingStore::removeId(const QString &userId, std::optional<int> mode, int *rowsRemoved)
{
    m_lastError.clear();
    const QString modeClause = mode ? QStringLiteral(" AND mode = ?") : QString();
    QVariantList key{userId};
    if (mode)
        key.append(*mode);
    return transact(QStringLiteral("cannot remove %1").arg(userId), [&](QSqlQuery &query) {
        // Each row leaves its score's count, so every rank and share stays right.
        if (!run(query, QStringLiteral("SELECT mode, board, period, score FROM best WHERE uid = ?") + modeClause, key))
            return false;
        QList<QVariantList> rows;
        while (query.next())
            rows.append({query.value(0), query.value(1), query.value(2), query.value(3)});
        for (const QVariantList &row : std::as_const(rows)) {
            if (!run(query, QStringLiteral("UPDATE score_count SET n = n - 1 "
                                           "WHERE mode = ? AND board = ? AND period = ? AND score = ?"),
                     row))
                return false;
        }
        *rowsRemoved = int(rows.size());
        return run(query, QStringLiteral("DELETE FROM score_count WHERE n <= 0"))
               && run(query, QStringLiteral("DELETE FROM best WHERE uid = ?") + modeClause, key)
               && run(query, QStringLiteral("UPDATE entry_log SET removed = 1 WHERE uid = ?") + modeClause, key);
    });
}

bool RankingStore::setBanned(const QString &userId, bool banned, qint64 nowMs)
{
    m_lastError.clear();
    return transact(QStringLiteral("cannot change the ban of %1").arg(userId), [&](QSqlQuery &query) {
        if (!banned)
            return run(query, QStringLiteral("DELETE FROM banned WHERE uid = ?"), {userId});
        return run(query, QStringLiteral("INSERT INTO banned (uid, at_ms) VALUES (?, ?) ON CONFLICT (uid) DO NOTHING"),
                   {userId, nowMs});
    });
}

bool RankingStore::rebuild(qint64 *replayed)
{
    m_lastError.clear();
    *replayed = 0;
    return transact(QStringLiteral("cannot rebuild the boards"), [&](QSqlQuery &query) {
        if (!run(query, QStringLiteral("DELETE FROM best")) || !run(query, QStringLiteral("DELETE FROM score_count")))
            return false;
        // In the order they came, each with its first place in the log, as
        // when it arrived. Read a chunk at a time: a PostgreSQL connection
        // runs one statement at a time, so a result read row by row would
        // end at the first statement that places an entry.
        constexpr int Chunk = 5000;
        qint64 after = -1;
        Cutoffs cutoffs;
        for (;;) {
            if (!run(query, QStringLiteral("SELECT id, at_ms, client, uid, name, mode, score FROM entry_log "
                                           "WHERE id > ? AND removed = 0 AND uid NOT IN (SELECT uid FROM banned) "
                                           "ORDER BY id LIMIT ?"),
                     {after, Chunk}))
                return false;
            QList<std::pair<qint64, PendingEntry>> chunk;
            while (query.next()) {
                PendingEntry pending;
                pending.atMs = query.value(1).toLongLong();
                pending.client = query.value(2).toString();
                pending.entry = RankingProtocol::Entry{query.value(6).toInt(), query.value(5).toInt(),
                                                       query.value(4).toString(), query.value(3).toString()};
                chunk.append({query.value(0).toLongLong(), pending});
            }
            for (const auto &[seq, pending] : std::as_const(chunk)) {
                bool ranksIn = false;
                if (!placeEntry(pending, seq, &cutoffs, &ranksIn))
                    return false;
            }
            *replayed += chunk.size();
            if (chunk.size() < Chunk)
                return true;
            after = chunk.last().first;
        }
    });
}

bool RankingStore::backup(const QString &file)
{
    m_lastError.clear();
    if (m_config.kind == DatabaseConfig::Kind::Postgres) {
        m_lastError = QStringLiteral("backup copies SQLite files; for PostgreSQL use pg_dump (see tovrika-ranking(1))");
        return false;
    }
    if (QFileInfo::exists(file)) {
        m_lastError = QStringLiteral("%1 exists already; a backup never overwrites a file").arg(file);
        return false;
    }
    if (!ensureOpen())
        return false;
    // One read transaction: what was committed when it began, the log's part included.
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    if (!run(query, QStringLiteral("VACUUM INTO ?"), {file}))
        return fail(QStringLiteral("cannot write the backup %1").arg(file), query);
    return true;
}

std::optional<QStringList> RankingStore::describeId(const QString &userId)
{
    m_lastError.clear();
    if (!ensureOpen())
        return std::nullopt;
    QStringList lines;
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    auto broken = [&](const QString &what) {
        fail(what, query);
        return std::nullopt;
    };
    auto when = [this](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms, m_zone).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"));
    };
    if (!run(query, QStringLiteral("SELECT 1 FROM banned WHERE uid = ?"), {userId}))
        return broken(QStringLiteral("cannot read the banned IDs"));
    lines << (query.next() ? QStringLiteral("banned: yes") : QStringLiteral("banned: no"));
    if (!run(query, QStringLiteral("SELECT id, at_ms, client, name, mode, score, answer, removed FROM entry_log "
                                   "WHERE uid = ? ORDER BY id"),
             {userId}))
        return broken(QStringLiteral("cannot read the log"));
    while (query.next()) {
        lines << QStringLiteral("entry %1\t%2\t%3\tmode %4\tscore %5\t%6\t%7%8")
                     .arg(query.value(0).toString(), when(query.value(1).toLongLong()), query.value(2).toString(),
                          query.value(4).toString(), query.value(5).toString(), query.value(3).toString(),
                          query.value(6).toString(),
                          query.value(7).toInt() ? QStringLiteral("\tremoved") : QString());
    }
    if (!run(query, QStringLiteral("SELECT mode, board, period, score, name, reached_ms FROM best WHERE uid = ? "
                                   "ORDER BY mode, board, period"),
             {userId}))
        return broken(QStringLiteral("cannot read the boards"));
    while (query.next()) {
        const Board board = Board(query.value(1).toInt());
        lines << QStringLiteral("row\tmode %1\t%2 %3\tscore %4\t%5\t%6")
                     .arg(query.value(0).toString(), boardName(board), query.value(2).toString(),
                          query.value(3).toString(), query.value(4).toString(), when(query.value(5).toLongLong()));
    }
    return lines;
}

#include "server/EntryLog.h"

#include "protocol/RankingProtocol.h"
#include "server/PostgresLog.h"
#include "server/SqliteLog.h"

#include <QSqlError>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QVariant>

std::unique_ptr<EntryLog> EntryLog::create(const DatabaseConfig &config, QString connectionName, bool writer)
{
    if (config.kind == DatabaseConfig::Kind::Postgres)
        return std::make_unique<PostgresLog>(config, std::move(connectionName), writer);
    return std::make_unique<SqliteLog>(config, std::move(connectionName), writer);
}

EntryLog::~EntryLog()
{
    disconnect();
}

QString EntryLog::answerText(const LogRow &row, EntryAnswer answer)
{
    switch (row.kind) {
    case LogRow::Kind::Entry:
        return QLatin1String(answer == EntryAnswer::Ok ? RankingProtocol::AnswerOk : RankingProtocol::AnswerCannotRankIn);
    case LogRow::Kind::Remove:
        return QStringLiteral("remove");
    case LogRow::Kind::Ban:
        return QStringLiteral("ban");
    case LogRow::Kind::Unban:
        return QStringLiteral("unban");
    case LogRow::Kind::Refuse:
        break;
    }
    return QStringLiteral("refuse");
}

void EntryLog::disconnect()
{
    // The driver goes first: a kept statement freed while its driver lives
    // is freed on the server too, which on a broken connection fails with a
    // warning for each; without the driver it is only let go here.
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
    m_kept.clear();
}

namespace {
// What the fold reads of a line: not the client's address, which only the log keeps.
const QString LineColumns = QStringLiteral("SELECT id, kind, at_ms, uid, name, mode, score, removed FROM entry_log ");

LogRow lineOf(const QSqlQuery &query)
{
    LogRow row;
    row.id = query.value(0).toLongLong();
    row.kind = LogRow::Kind(query.value(1).toInt());
    row.atMs = query.value(2).toLongLong();
    row.userId = query.value(3).toString();
    row.name = query.value(4).toString();
    row.mode = query.value(5).toInt();
    row.score = query.value(6).toInt();
    row.removed = query.value(7).toInt() != 0;
    return row;
}

bool failed(const QSqlQuery &query, QString *error)
{
    *error = QStringLiteral("cannot read the log: ") + query.lastError().text();
    return false;
}
} // namespace

QSqlQuery *EntryLog::kept(const QString &sql, QString *error)
{
    for (auto &[text, query] : m_kept) {
        if (text == sql)
            return query.get();
    }
    auto query = std::make_unique<QSqlQuery>(database());
    // Rows are read one by one as they come: a start may read millions.
    query->setForwardOnly(true);
    if (!query->prepare(sql)) {
        *error = query->lastError().text();
        return nullptr;
    }
    return m_kept.emplace_back(sql, std::move(query)).second.get();
}

bool EntryLog::readAfter(qint64 position, const std::function<bool(const LogRow &)> &fold, QString *error)
{
    // Read after each append's lock, so kept. In pages, the first small:
    // the usual read finds a few lines or none, and for a small page the
    // planner takes the key's order even on a new log it knows nothing of
    // yet, where for "every line after" it would scan and sort the whole
    // log. A long read, such as the start's, doubles its pages.
    QSqlQuery *query = kept(LineColumns + QStringLiteral("WHERE id > ? ORDER BY id LIMIT ?"), error);
    if (!query)
        return *error = QStringLiteral("cannot read the log: ") + *error, false;
    // Done with it, whatever the way out: a statement left running on
    // SQLite would hold its snapshot of the database.
    const auto finish = qScopeGuard([query] { query->finish(); });
    for (qint64 page = 256;; page = std::min<qint64>(page * 2, 65536)) {
        query->bindValue(0, position);
        query->bindValue(1, page);
        if (!query->exec())
            return failed(*query, error);
        qint64 read = 0;
        while (query->next()) {
            const LogRow row = lineOf(*query);
            ++read;
            position = row.id;
            if (!fold(row))
                return true;
        }
        if (query->lastError().isValid())
            return failed(*query, error);
        if (read < page)
            return true;
    }
}

bool EntryLog::readAt(qint64 position, std::optional<LogRow> *found, QString *error)
{
    QSqlQuery query(database());
    if (!query.prepare(LineColumns + QStringLiteral("WHERE id = ?")))
        return failed(query, error);
    query.bindValue(0, position);
    if (!query.exec())
        return failed(query, error);
    *found = query.next() ? std::optional(lineOf(query)) : std::nullopt;
    return !query.lastError().isValid() || failed(query, error);
}

#include "server/EntryLog.h"

#include "protocol/RankingProtocol.h"
#include "server/PostgresLog.h"
#include "server/SqliteLog.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

std::unique_ptr<EntryLog> EntryLog::create(const DatabaseConfig &config, QString connectionName, bool writer)
{
    if (config.kind == DatabaseConfig::Kind::Postgres)
        return std::make_unique<PostgresLog>(config, std::move(connectionName), writer);
    return std::make_unique<SqliteLog>(config, std::move(connectionName), writer);
}

EntryLog::~EntryLog() = default;

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
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
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

bool EntryLog::readAfter(qint64 position, const std::function<bool(const LogRow &)> &fold, QString *error)
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    if (!query.prepare(LineColumns + QStringLiteral("WHERE id > ? ORDER BY id")))
        return failed(query, error);
    query.bindValue(0, position);
    if (!query.exec())
        return failed(query, error);
    while (query.next()) {
        if (!fold(lineOf(query)))
            return true;
    }
    return !query.lastError().isValid() || failed(query, error);
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

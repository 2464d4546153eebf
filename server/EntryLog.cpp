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

bool EntryLog::readAfter(qint64 position, const std::function<void(const LogRow &)> &fold, QString *error)
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT id, kind, at_ms, client, uid, name, mode, score, removed "
                                      "FROM entry_log WHERE id > ? ORDER BY id")))
        return *error = QStringLiteral("cannot read the log: ") + query.lastError().text(), false;
    query.bindValue(0, position);
    if (!query.exec())
        return *error = QStringLiteral("cannot read the log: ") + query.lastError().text(), false;
    LogRow row;
    while (query.next()) {
        row.id = query.value(0).toLongLong();
        row.kind = LogRow::Kind(query.value(1).toInt());
        row.atMs = query.value(2).toLongLong();
        row.client = query.value(3).toString();
        row.userId = query.value(4).toString();
        row.name = query.value(5).toString();
        row.mode = query.value(6).toInt();
        row.score = query.value(7).toInt();
        row.removed = query.value(8).toInt() != 0;
        fold(row);
    }
    if (query.lastError().isValid())
        return *error = QStringLiteral("cannot read the log: ") + query.lastError().text(), false;
    return true;
}

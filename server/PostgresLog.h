#pragma once

#include "server/EntryLog.h"

// The log on a PostgreSQL server. A transaction-level advisory lock is the
// log's write lock, so that lines are numbered in commit order; each append
// notifies a channel that every server listens on.
class PostgresLog final : public EntryLog
{
public:
    PostgresLog(DatabaseConfig config, QString connectionName, bool writer)
        : EntryLog(std::move(config), std::move(connectionName), writer)
    {
    }

    bool connect(QString *error) override;
    bool lockSchema(QString *error) override;
    QString tableNamesSql() const override;
    QString lineNumberType() const override { return QStringLiteral("BIGINT"); }
    QStringList dropOlderSql() const override;
    bool beginAppend(QString *error) override;
    bool append(const QList<LogRow> &rows, const QList<EntryAnswer> &answers, bool rowsChanged,
                QString *error) override;
    std::function<void()> cutter(QDeadlineTimer deadline) override;
    bool listen(QString *error) override;
    bool othersAppended(bool *failed, QString *error) override;
    bool backup(const QString &file, QString *error) override;

    // The channel that every append notifies, with the payload RowsChanged
    // when first rows may differ and TotalsChanged when only counts did.
    static constexpr char Channel[] = "tovrika_boards";
    static constexpr char RowsChanged[] = "rows";
    static constexpr char TotalsChanged[] = "totals";
};

#pragma once

#include "server/EntryLog.h"

// The log in an SQLite file in write-ahead-log mode with full syncs: a
// committed line survives a crash and a power cut. BEGIN IMMEDIATE is the
// log's write lock; "PRAGMA data_version" tells of other processes' commits.
class SqliteLog final : public EntryLog
{
public:
    SqliteLog(DatabaseConfig config, QString connectionName, bool writer)
        : EntryLog(std::move(config), std::move(connectionName), writer)
    {
    }

    bool connect(QString *error) override;
    bool lockSchema(QString *) override { return true; }
    QString tableNamesSql() const override;
    QString lineNumberType() const override { return QStringLiteral("INTEGER"); }
    QStringList dropOlderSql() const override;
    bool beginAppend(QString *error) override;
    // Other connections see new lines by the database's version.
    bool append(const QList<LogRow> &rows, const QList<EntryAnswer> &answers, bool rowsChanged,
                QString *error) override;
    std::function<void()> cutter(QDeadlineTimer deadline) override;
    bool listen(QString *) override { return true; }
    bool othersAppended(bool *failed, QString *error) override;
    bool filesIntact(QString *error) override;
    void rememberFiles() override;
    bool backup(const QString &file, QString *error) override;

private:
    struct FileId
    {
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const FileId &) const = default;
    };
    static FileId fileId(const QString &path);
    FileId m_databaseFile;
    FileId m_walFile;
    QString m_filesLost;
    qint64 m_dataVersion = -1;
};

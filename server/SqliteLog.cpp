#include "server/SqliteLog.h"

#include "server/SqliteShm.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <sqlite3.h>
#include <sys/stat.h>

bool SqliteLog::connect(QString *error)
{
    if (!m_filesLost.isEmpty())
        return *error = m_filesLost, false;
    if (!installAllocatingShmLayer())
        return *error = QStringLiteral("SQLite refused the layer that allocates its shared-memory file"), false;
    QSqlDatabase db = QSqlDatabase::addDatabase(m_config.driverName(), m_connectionName);
    if (!db.isValid())
        return *error = QStringLiteral("the Qt SQL driver %1 is not installed").arg(m_config.driverName()), false;
    m_config.applyTo(db);
    const QFileInfo file(m_config.sqlitePath);
    if (!QDir().mkpath(file.absolutePath()))
        return *error = QStringLiteral("cannot create the folder %1").arg(file.absolutePath()), false;
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_config.deadlineMs));
    if (!db.open())
        return *error = QStringLiteral("cannot open %1: %2").arg(m_config.displayName(), db.lastError().text()), false;
    sqlite3 *handle = nativeHandle<sqlite3>({"sqlite3*"});
    if (m_writer && handle && sqlite3_db_readonly(handle, "main") == 1) {
        *error = QStringLiteral("%1 is read-only: the server must write to it and create %1-wal and %1-shm beside it")
                     .arg(m_config.sqlitePath);
        return false;
    }
    // Durable commits: a committed line survives a crash and a power cut.
    QSqlQuery pragma(db);
    if (!pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !pragma.next()
        || pragma.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0
        || !pragma.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
        *error = QStringLiteral("cannot make %1 durable (write-ahead log): %2")
                     .arg(m_config.displayName(), pragma.lastError().text());
        return false;
    }
    pragma.exec(QStringLiteral("PRAGMA cache_size=-16384"));
    m_dataVersion = -1;
    return true;
}

QString SqliteLog::tableNamesSql() const
{
    return QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'");
}

QStringList SqliteLog::dropOlderSql() const
{
    return {QStringLiteral("DROP TABLE IF EXISTS best"), QStringLiteral("DROP TABLE IF EXISTS score_count"),
            QStringLiteral("DROP TABLE IF EXISTS banned")};
}

bool SqliteLog::beginAppend(QString *error)
{
    // IMMEDIATE: the write lock from the start, before the lines are read.
    QSqlQuery begin(database());
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return *error = QStringLiteral("cannot begin a transaction: ") + begin.lastError().text(), false;
    return true;
}

bool SqliteLog::append(const QList<LogRow> &rows, const QList<EntryAnswer> &answers, bool, QString *error)
{
    QSqlQuery *kept = EntryLog::kept(QStringLiteral("INSERT INTO entry_log (id, kind, at_ms, client, uid, name, mode, "
                                                   "score, answer) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"), error);
    if (!kept)
        return *error = QStringLiteral("cannot log: ") + *error, false;
    QSqlQuery &insert = *kept;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const LogRow &row = rows[i];
        const QVariant values[] = {row.id, int(row.kind), row.atMs, row.client, row.userId, row.name, row.mode,
                                   row.score, answerText(row, answers.value(i))};
        for (int column = 0; column < int(std::size(values)); ++column)
            insert.bindValue(column, values[column]);
        if (!insert.exec())
            return *error = QStringLiteral("cannot log: ") + insert.lastError().text(), false;
    }
    return true;
}

std::function<void()> SqliteLog::cutter(QDeadlineTimer deadline)
{
    sqlite3 *handle = nativeHandle<sqlite3>({"sqlite3*"});
    if (!handle)
        return {};
    // Waiting for another process's lock ends with the time left.
    const qint64 left = deadline.isForever() ? m_config.deadlineMs : deadline.remainingTime();
    sqlite3_busy_timeout(handle, int(std::clamp<qint64>(left, 1, m_config.deadlineMs)));
    return [handle] { sqlite3_interrupt(handle); };
}

bool SqliteLog::othersAppended(bool *failed, QString *error)
{
    *failed = false;
    if (!filesIntact(error)) {
        *failed = true;
        return false;
    }
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("PRAGMA data_version")) || !query.next()) {
        *error = QStringLiteral("cannot read the data version: ") + query.lastError().text();
        *failed = true;
        return false;
    }
    const qint64 version = query.value(0).toLongLong();
    const bool changed = version != m_dataVersion;
    m_dataVersion = version;
    return changed;
}

SqliteLog::FileId SqliteLog::fileId(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {quint64(info.st_dev), quint64(info.st_ino)};
}

void SqliteLog::rememberFiles()
{
    m_databaseFile = fileId(m_config.sqlitePath);
    m_walFile = fileId(m_config.sqlitePath + QStringLiteral("-wal"));
}

bool SqliteLog::filesIntact(QString *error)
{
    if (!m_filesLost.isEmpty())
        return *error = m_filesLost, false;
    if (m_databaseFile.inode == 0)
        return true;
    const QString &path = m_config.sqlitePath;
    const bool databaseKept = fileId(path) == m_databaseFile;
    if (databaseKept && (m_walFile.inode == 0 || fileId(path + QStringLiteral("-wal")) == m_walFile))
        return true;
    if (!databaseKept) {
        m_filesLost = QStringLiteral("%1 was deleted or replaced under the running server; entries are refused "
                                     "until it is restored and the server restarted")
                          .arg(path);
    } else {
        // Only the log is gone: what it holds goes into the database file,
        // which is still the one at its path, and the next start finds it.
        QSqlQuery checkpoint(database());
        if (checkpoint.exec(QStringLiteral("PRAGMA wal_checkpoint(FULL)")) && checkpoint.next()
            && checkpoint.value(0).toInt() == 0 && checkpoint.value(1) == checkpoint.value(2)) {
            m_filesLost = QStringLiteral("%1-wal was deleted under the running server; what it held was saved "
                                         "into %1, and entries are refused until the server is restarted")
                              .arg(path);
        } else {
            m_filesLost = QStringLiteral("%1-wal was deleted under the running server and its last entries could "
                                         "not be saved into %1 (%2); entries are refused until the server is "
                                         "restarted")
                              .arg(path, checkpoint.lastError().text());
        }
    }
    *error = m_filesLost;
    return false;
}

bool SqliteLog::backup(const QString &file, QString *error)
{
    if (QFileInfo::exists(file))
        return *error = QStringLiteral("%1 exists already; a backup never overwrites a file").arg(file), false;
    // One read transaction: what was committed when it began.
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("VACUUM INTO ?")))
        return *error = query.lastError().text(), false;
    query.bindValue(0, file);
    if (!query.exec())
        return *error = QStringLiteral("cannot write the backup %1: %2").arg(file, query.lastError().text()), false;
    return true;
}

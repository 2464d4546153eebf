#pragma once

#include "server/BoardModel.h"
#include "server/DatabaseConfig.h"

#include <QDeadlineTimer>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// What the entry log needs of a database, one class for each: a connection
// with the session it needs, the append of a batch of lines durably and in
// commit order, the lines after a position, word of other connections'
// appends, and the means to cut a call that hangs. Everything that differs
// between SQLite and PostgreSQL is here; RankingStore holds the rest.
class EntryLog
{
public:
    // The answer column of a line: the word an entry was answered with, or
    // the act's name.
    static QString answerText(const LogRow &row, EntryAnswer answer);

    static std::unique_ptr<EntryLog> create(const DatabaseConfig &config, QString connectionName, bool writer);
    virtual ~EntryLog();

    QSqlDatabase database() const { return QSqlDatabase::database(m_connectionName, false); }
    const DatabaseConfig &config() const { return m_config; }
    // Opens the connection and sets up its session.
    virtual bool connect(QString *error) = 0;
    // Removes the connection, and the statements kept on it; the next
    // connect() opens it anew.
    void disconnect();

    // Within the schema transaction, against a second process doing the same.
    virtual bool lockSchema(QString *error) = 0;
    // The names of the tables that are there, to tell a database of another program.
    virtual QString tableNamesSql() const = 0;
    // The type of the log's line number, the table's key.
    virtual QString lineNumberType() const = 0;
    // What an older schema left that this one has no use for.
    virtual QStringList dropOlderSql() const = 0;

    // Begins the transaction of an append, holding the log's write lock until
    // its commit, so that lines are numbered in commit order: the lines read
    // after it are all there are before this transaction's own.
    virtual bool beginAppend(QString *error) = 0;
    // Writes the lines (their ids given) inside the append's transaction,
    // and tells the other connections of them at the commit: rowsChanged
    // when first rows may differ, not only counts.
    virtual bool append(const QList<LogRow> &rows, const QList<EntryAnswer> &answers, bool rowsChanged,
                        QString *error) = 0;

    // The lines after a position (without the client, which only the log
    // keeps), in order, each given to fold until it
    // returns false; false when the database failed.
    bool readAfter(qint64 position, const std::function<bool(const LogRow &)> &fold, QString *error);
    // The line at a position; nullopt in found when there is none.
    bool readAt(qint64 position, std::optional<LogRow> *found, QString *error);

    // The means to end a call of this connection that waits past the deadline.
    virtual std::function<void()> cutter(QDeadlineTimer deadline) = 0;
    // Starts hearing of other connections' appends.
    virtual bool listen(QString *error) = 0;
    // Whether others may have appended since the last call, without waiting;
    // false in failed when the connection failed.
    virtual bool othersAppended(bool *failed, QString *error) = 0;
    // Whether the files opened are still those at their paths (SQLite); a
    // message when not.
    virtual bool filesIntact(QString *) { return true; }
    virtual void rememberFiles() {}
    // A consistent copy of the database into a new file.
    virtual bool backup(const QString &file, QString *error) = 0;

protected:
    // A statement prepared once for the connection and kept until it is
    // removed: each append saves the round trips of preparing and freeing
    // it. nullptr, with the error, when it cannot be prepared.
    QSqlQuery *kept(const QString &sql, QString *error);

    // The driver's own handle of the open connection, or nullptr. Qt names
    // the type as the driver declared it or by the structure behind the typedef.
    template <typename Handle>
    Handle *nativeHandle(std::initializer_list<const char *> typeNames) const
    {
        const QSqlDatabase db = database();
        const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
        if (!handle.isValid())
            return nullptr;
        for (const char *typeName : typeNames) {
            if (qstrcmp(handle.typeName(), typeName) == 0)
                return *static_cast<Handle *const *>(handle.data());
        }
        return nullptr;
    }

    EntryLog(DatabaseConfig config, QString connectionName, bool writer)
        : m_config(std::move(config)), m_connectionName(std::move(connectionName)), m_writer(writer)
    {
    }

    DatabaseConfig m_config;
    QString m_connectionName;
    bool m_writer;

private:
    std::vector<std::pair<QString, std::unique_ptr<QSqlQuery>>> m_kept;
};

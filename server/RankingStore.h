#pragma once

#include "protocol/RankingProtocol.h"
#include "server/Boards.h"
#include "server/DatabaseConfig.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <memory>
#include <optional>

// An entry as it arrived: what was sent, from where, when.
struct PendingEntry
{
    RankingProtocol::Entry entry;
    QString client;
    qint64 atMs = 0;
};

enum class EntryAnswer { Ok, CannotRankIn };

// The boards in the database. Used from one thread, which owns its
// connection. Every statement is prepared once per connection. A failing
// database closes the connection; the next call opens it again, so the
// server serves again once the database is back.
class RankingStore
{
public:
    RankingStore(DatabaseConfig config, int top, QTimeZone zone, QString connectionName);
    ~RankingStore();
    RankingStore(const RankingStore &) = delete;
    RankingStore &operator=(const RankingStore &) = delete;

    // Connects and creates or migrates the schema.
    bool open(QString *error);
    void close();
    QString lastError() const { return m_lastError; }

    // Stores all entries in one transaction (one durable commit for all of
    // them) and answers each; nothing when the database failed, and then
    // nothing of them is stored.
    std::optional<QList<EntryAnswer>> submit(const QList<PendingEntry> &entries);

    // Whether the database answers now, for the health check.
    bool ping();

    // The board of a mode at a moment; visitorId may be empty.
    std::optional<BoardView> board(int mode, Board board, const QString &visitorId, qint64 nowMs);

    static constexpr int SchemaVersion = 1;

private:
    struct Statements;
    bool ensureOpen();
    bool migrate();
    bool storeEntry(const PendingEntry &pending, EntryAnswer *answer);
    bool fail(const QString &what, const class QSqlQuery &query);

    DatabaseConfig m_config;
    int m_top;
    QTimeZone m_zone;
    QString m_connectionName;
    QString m_lastError;
    QString m_lastSqlState;
    std::unique_ptr<Statements> m_statements;
    // The first rows and the total of each board, as read last. Own commits
    // clear it; with SQLite, "PRAGMA data_version" tells of other processes'
    // commits. PostgreSQL boards are read afresh each time, as other servers
    // may write at any moment.
    struct CachedBoard
    {
        QList<BoardRow> rows;
        qint64 total = 0;
    };
    QHash<QString, CachedBoard> m_cache;
    qint64 m_dataVersion = -1;
};

#pragma once

#include "protocol/RankingProtocol.h"
#include "server/Boards.h"
#include "server/DatabaseConfig.h"
#include "server/Watchdog.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <functional>
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
// server serves again once the database is back. An SQLite file deleted or
// replaced under the store is not opened again: the boards it held would be
// lost without a word.
class RankingStore
{
public:
    // A reader neither creates nor migrates the schema: it serves the boards
    // on a connection of its own beside the writer's.
    enum class Role { Writer, Reader };

    RankingStore(DatabaseConfig config, int top, QTimeZone zone, QString connectionName,
                 Role role = Role::Writer);
    ~RankingStore();
    RankingStore(const RankingStore &) = delete;
    RankingStore &operator=(const RankingStore &) = delete;

    // Connects and creates or migrates the schema.
    bool open(QString *error);
    void close();
    QString lastError() const { return m_lastError; }
    bool isOpen() const { return m_statements != nullptr; }

    // Stores all entries in one transaction (one durable commit for all of
    // them) and answers each; nothing when the database failed or COMMIT
    // could not be sent before the deadline, and then nothing of them is
    // stored.
    std::optional<QList<EntryAnswer>> submit(const QList<PendingEntry> &entries,
                                             QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));

    // Until disarm(), a call that runs past the deadline is cut off: the
    // PostgreSQL connection is dropped, SQLite's statement interrupted, and
    // the call fails. false when the database is not open.
    bool armDeadline(QDeadlineTimer deadline);
    // True when the call was cut; the connection is closed then.
    bool disarmDeadline();

    // Whether the database answers now, for the health check.
    bool ping();

    // The board of a mode at a moment; visitorId may be empty.
    std::optional<BoardView> board(int mode, Board board, const QString &visitorId, qint64 nowMs);
    // The first rows of every board at a moment, at boardSlot(mode, board).
    // PostgreSQL reads them in one statement and leaves the totals 0, as
    // the page shows them only beside a visitor's standing; SQLite, in
    // process, reads a board at a time and keeps each board's rows and
    // total for the standings that follow.
    std::optional<QList<BoardView>> firstRows(qint64 nowMs);
    // A visitor's own row on a board, ranked, whether among the first rows
    // or not, and the board's total.
    std::optional<VisitorStanding> standing(int mode, Board board, const QString &visitorId, qint64 nowMs);
    // The same on the boards whose bit (1 << boardSlot(mode, board)) is in
    // wanted, at standings[boardSlot(mode, board)]; the others are left empty. On
    // PostgreSQL in one statement, as each of a reader's round trips waits
    // behind the writer's while entries pour in; SQLite, in process, reads
    // only what is wanted, a board at a time, its totals kept.
    std::optional<QList<VisitorStanding>> standings(const QString &visitorId, qint64 nowMs, unsigned wanted);

    // Told, on this store's thread, when the boards may have changed by
    // another connection's commit or while the connection was closed; rows
    // is false when only totals and rows below the first may have changed.
    void setChangeListener(std::function<void(bool rows)> listener) { m_changeListener = std::move(listener); }
    // Looks, without waiting, for commits of other connections: SQLite's
    // data version, PostgreSQL's notifications. Never opens a connection.
    void pollChanges();

    // Administration, each in one transaction on this (a writer's)
    // connection; running servers see the change at their next read.
    // Takes an ID's rows off the boards of one mode or both, counts and
    // ranks with them, and marks its entries in the log as removed.
    bool removeId(const QString &userId, std::optional<int> mode, int *rowsRemoved);
    // A banned ID's later entries are logged and answered CANNOT_RANK_IN.
    bool setBanned(const QString &userId, bool banned, qint64 nowMs);
    // The boards and counts made again from the log, without removed
    // entries and banned IDs: the way back after a hand edit.
    bool rebuild(qint64 *replayed);
    // A consistent copy of an SQLite database, taken while servers run.
    bool backup(const QString &file);
    // An ID's log lines and board rows, one text line each.
    std::optional<QStringList> describeId(const QString &userId);

    static constexpr int SchemaVersion = 3;

private:
    struct Statements;
    struct FileId
    {
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const FileId &) const = default;
    };
    static FileId fileId(const QString &path);
    bool ensureOpen();
    // SQLite: clears what is kept when another connection has committed;
    // false (and closed) when the files or the database failed.
    bool checkDataVersion();
    bool connect();
    bool prepareSession();
    bool runTransaction(const QList<PendingEntry> &entries, QList<EntryAnswer> *answers);
    // PostgreSQL: the whole batch in one call of the migration's function,
    // its own transaction; nothing is committed once the deadline has passed.
    bool runBatch(const QList<PendingEntry> &entries, QDeadlineTimer deadline, QList<EntryAnswer> *answers);
    bool measureServerClock(const class QSqlDatabase &db);
    static void rollback(class QSqlDatabase &db);
    enum class Files { Intact, LogRescued, Lost };
    Files checkFiles();
    void rememberFiles();
    bool migrate();
    // The lowest score that may still rank in on each board (by mode, board
    // and period), read once per transaction: within one, rows are only
    // added or raised, so it can only rise and an entry below it is placed
    // without being ranked.
    using Cutoffs = QHash<qint64, int>;
    bool cutoff(int mode, int board, qint64 period, Cutoffs &cutoffs, int *score);
    bool storeEntry(const PendingEntry &pending, qint64 seq, Cutoffs *cutoffs, EntryAnswer *answer);
    // Puts an entry numbered seq in the log on the boards it reaches;
    // cutoffs, when given, spare the ranking of entries below them.
    bool placeEntry(const PendingEntry &pending, qint64 seq, Cutoffs *cutoffs, bool *ranksIn);
    // Runs work in one transaction, committed when it returns true.
    bool transact(const QString &what, const std::function<bool(class QSqlQuery &)> &work);
    bool fail(const QString &what, const class QSqlQuery &query);
    // A read that failed: told, and the connection closed to be opened anew.
    std::nullopt_t readFailed(const QString &what, const class QSqlQuery &query);
    // A board's total from its counts; told and closed on failure.
    std::optional<qint64> readTotal(int mode, int board, qint64 period);
    // The key of a board's kept first rows and total.
    static QString cacheKey(int mode, int board, qint64 period);

    DatabaseConfig m_config;
    int m_top;
    Role m_role;
    QTimeZone m_zone;
    QString m_connectionName;
    QString m_lastError;
    QString m_lastSqlState;
    std::unique_ptr<Statements> m_statements;
    bool m_schemaReady = false;
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
    std::function<void(bool rows)> m_changeListener;
    // The SQLite file and its write-ahead log as opened; a zero inode is not
    // checked.
    FileId m_databaseFile;
    FileId m_logFile;
    QString m_filesLost;
    std::unique_ptr<Watchdog> m_watchdog;
    // How far the PostgreSQL server's clock is ahead of this one's, at most,
    // for the deadline that the batch function is given; read again after
    // ServerClockValidMs, as either clock may be set meanwhile.
    static constexpr qint64 ServerClockValidMs = 60000;
    qint64 m_serverClockAheadMs = 0;
    QDeadlineTimer m_serverClockRead;
    // A cut seen by close() before disarmDeadline() asked.
    Watchdog::Cut m_cutBeforeClose = Watchdog::Cut::None;
};

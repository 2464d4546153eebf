#pragma once

#include "protocol/RankingProtocol.h"
#include "server/BoardModel.h"
#include "server/Boards.h"
#include "server/DatabaseConfig.h"
#include "server/Watchdog.h"

#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <functional>
#include <memory>
#include <optional>

class EntryLog;

// An entry as it arrived: what was sent, from where, when.
struct PendingEntry
{
    RankingProtocol::Entry entry;
    QString client;
    qint64 atMs = 0;
};

// The entry log in the database and the boards as its fold in memory. Used
// from one thread, which owns its connection; a writer and a reader may
// share one model of the boards (each locks it). An append first folds what
// others appended since (under the log's write lock), then finds its own
// answers by folding its lines, takes that back, commits, and folds them
// for good: so every answer is what a fresh fold of the log gives. A failing
// database closes the connection; the next call opens it again. An SQLite
// file deleted or replaced under the store is not opened again.
class RankingStore
{
public:
    // A reader neither creates nor migrates the schema: it follows the log
    // on a connection of its own beside the writer's.
    enum class Role { Writer, Reader };

    // An invalid zone takes the database's own.
    RankingStore(DatabaseConfig config, int top, QTimeZone zone, QString connectionName,
                 Role role = Role::Writer, std::shared_ptr<BoardModel> model = nullptr);
    ~RankingStore();
    RankingStore(const RankingStore &) = delete;
    RankingStore &operator=(const RankingStore &) = delete;

    // A snapshot of the boards that the first open() reads, so that only
    // the log lines after it are folded (see BoardSnapshot).
    void setSnapshotFile(const QString &path) { m_snapshotPath = path; }
    // What the first open() made of the snapshot, for the operator.
    QString snapshotNote() const { return m_snapshotNote; }
    // The log line the snapshot read covers; 0 when none was read.
    qint64 snapshotPosition() const { return m_snapshotPosition; }
    // Whether there was no snapshot file at all.
    bool snapshotMissing() const { return m_snapshotMissing; }
    // Asked between parts of a long fold: true ends open() with an error.
    void setInterrupt(std::function<bool()> interrupted) { m_interrupted = std::move(interrupted); }

    // Connects, creates or migrates the schema, and folds the log.
    bool open(QString *error);
    void close();
    QString lastError() const { return m_lastError; }
    bool isOpen() const { return m_open; }
    // The zone the boards are kept in: the database's.
    QTimeZone zone() const { return m_zone; }
    std::shared_ptr<BoardModel> model() const { return m_model; }

    // Appends all entries in one transaction (one durable commit for all of
    // them) and answers each; nothing when the database failed or COMMIT
    // could not be sent before the deadline, and then nothing is stored.
    std::optional<QList<EntryAnswer>> submit(const QList<PendingEntry> &entries,
                                             QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));
    // Whether the last submit() failed only because its deadline came
    // before COMMIT was sent: nothing was stored, the database is well.
    bool cutBeforeCommit() const { return m_cutBeforeCommit; }

    // Until disarm(), a call that runs past the deadline is cut off: the
    // PostgreSQL connection is dropped, SQLite's statement interrupted, and
    // the call fails. false when the database is not open.
    bool armDeadline(QDeadlineTimer deadline);
    // True when the call was cut; the connection is closed then.
    bool disarmDeadline();

    // Whether the database answers now, for the health check.
    bool ping();

    // The boards, from memory. A board of a mode at a moment; visitorId may be empty.
    std::optional<BoardView> board(int mode, Board board, const QString &visitorId, qint64 nowMs);
    // The first rows of every board at a moment, at boardSlot(mode, board).
    std::optional<QList<BoardView>> firstRows(qint64 nowMs);
    // A visitor's own row on a board, ranked, and the board's total.
    std::optional<VisitorStanding> standing(int mode, Board board, const QString &visitorId, qint64 nowMs);
    // The same on the boards whose bit (1 << boardSlot(mode, board)) is in
    // wanted, at standings[boardSlot(mode, board)]; the others left empty.
    std::optional<QList<VisitorStanding>> standings(const QString &visitorId, qint64 nowMs, unsigned wanted);

    // Told, on this store's thread, when the boards changed by another
    // connection's lines; rows is false when only totals may have changed.
    void setChangeListener(std::function<void(bool rows)> listener) { m_changeListener = std::move(listener); }
    // Looks, without waiting, for other connections' lines (SQLite's data
    // version, PostgreSQL's notifications) and folds them; a connection
    // closed by a failure is opened again, at most once a second.
    void pollChanges();

    // The operator's acts, each one line appended to the log; running
    // servers fold it as they fold entries.
    // Takes an ID's rows off the boards of one mode or both.
    bool removeId(const QString &userId, std::optional<int> mode, int *rowsRemoved);
    // A ban takes the ID's rows off and refuses its later entries; an unban
    // lets its later entries count again.
    bool setBanned(const QString &userId, bool banned, qint64 nowMs);
    // Folds the log afresh and compares the boards with those held.
    bool rebuild(qint64 *replayed);
    // A consistent copy of an SQLite database, taken while servers run.
    bool backup(const QString &file);
    // An ID's log lines and board rows, one text line each.
    std::optional<QStringList> describeId(const QString &userId);

    static constexpr int SchemaVersion = 4;

private:
    bool ensureOpen();
    // Whether the boards held may be served.
    bool readable();
    bool migrate();
    bool createSchema(class QSqlQuery &query);
    bool migrateFromVersion3(class QSqlQuery &query);
    bool checkZone(class QSqlQuery &query);
    // Reads the snapshot into the empty model when the log still holds the
    // line it ends with.
    void readSnapshot();
    // Reads the lines after the model's position and folds them.
    bool catchUp(bool *rowsChanged);
    // Appends lines (ids given here) in one transaction; their answers.
    std::optional<QList<EntryAnswer>> append(QList<LogRow> rows, QDeadlineTimer deadline);
    bool act(LogRow::Kind kind, const QString &userId, int mode);
    bool fail(const QString &message);

    DatabaseConfig m_config;
    int m_top;
    QTimeZone m_zone;
    QString m_connectionName;
    Role m_role;
    std::unique_ptr<EntryLog> m_log;
    std::shared_ptr<BoardModel> m_model;
    QString m_lastError;
    bool m_open = false;
    bool m_schemaReady = false;
    bool m_cutBeforeCommit = false;
    QDeadlineTimer m_reopen;
    std::function<void(bool rows)> m_changeListener;
    std::unique_ptr<Watchdog> m_watchdog;
    QString m_snapshotPath;
    QString m_snapshotNote;
    qint64 m_snapshotPosition = 0;
    bool m_snapshotMissing = false;
    std::function<bool()> m_interrupted;
    // A cut seen by close() before disarmDeadline() asked.
    Watchdog::Cut m_cutBeforeClose = Watchdog::Cut::None;
};

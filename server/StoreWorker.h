#pragma once

#include "server/RankingStore.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>

// Runs the store on a thread of its own, so that a commit waiting for the
// disk never holds up the connections. Entries that arrive while a commit
// is on its way are committed together in the next transaction: one fsync
// for all of them instead of one each, and still each answered only after
// its own entry is durable. An entry not committed within the deadline
// from its arrival is answered with an error and never stored. The boards
// are read on a second thread with a connection of its own, so that a page
// never waits behind commits nor behind a database call that hangs. When
// the database fails, one line on standard error tells why, and one line
// tells when it is back.
class StoreWorker : public QObject
{
    Q_OBJECT

public:
    // done runs on the thread of context, with no answer when the database
    // failed. The context must outlive the worker.
    using EntryDone = std::function<void(std::optional<EntryAnswer>)>;

    StoreWorker(DatabaseConfig config, int top, QTimeZone zone);
    ~StoreWorker() override;

    // Starts the thread and opens the database there; false with a message
    // when it cannot be opened.
    bool start(QString *error);
    // Commits what is queued, closes the database and ends the thread.
    void stop();

    // Group commits off: every entry gets a transaction of its own. Only
    // for the benchmark's comparison.
    void setGroupCommit(bool enabled) { m_groupCommit = enabled; }

    void submit(const PendingEntry &entry, QObject *context, EntryDone done);
    // Runs job on the store's thread; the job answers its caller itself.
    void read(std::function<void(RankingStore &)> job);

    // Called on the store's thread after each transaction of entries, for the metrics.
    using CommitObserver = std::function<void(int entries, double seconds, bool committed)>;
    void setCommitObserver(CommitObserver observer) { m_commitObserver = std::move(observer); }

    // Told when the boards may have changed: after each commit of entries
    // (rows when one of them ranked in), and when the reader finds another
    // connection's commit. Runs on a store thread; set before start().
    using ChangeObserver = std::function<void(bool rows)>;
    void setChangeObserver(ChangeObserver observer) { m_changeObserver = std::move(observer); }

    // Keeps a snapshot of the boards in path, written every given seconds
    // when the log moved on, and at stop(); the start reads it. Set before start().
    void setSnapshot(const QString &path, int seconds);
    // Asked while the start folds the log: true stops the start.
    void setInterrupt(std::function<bool()> interrupted) { m_store->setInterrupt(std::move(interrupted)); }

    // Entries queued or being committed.
    int inFlight() const;

private:
    enum class Path { Write, Read };
    void report(Path path, bool ok, const QString &error);
    struct Queued
    {
        PendingEntry entry;
        QObject *context = nullptr;
        EntryDone done;
    };
    void drain();
    // After a start that opened the database: tells what the snapshot gave
    // and keeps it from then on.
    void keepSnapshots();

    // The boards in memory, which the writer and the reader both fold into.
    std::shared_ptr<BoardModel> m_model;
    std::unique_ptr<RankingStore> m_store;
    std::unique_ptr<RankingStore> m_readStore;
    int m_deadlineMs;
    QThread m_thread;
    QThread m_readThread;
    // Lives on the read thread: the read jobs are queued to it.
    QObject m_reader;
    QMutex m_healthMutex;
    bool m_writeFailed = false;
    bool m_readFailed = false;
    mutable QMutex m_mutex;
    QList<Queued> m_queue;
    bool m_drainScheduled = false;
    int m_committing = 0;
    bool m_groupCommit = true;
    CommitObserver m_commitObserver;
    ChangeObserver m_changeObserver;
    // On the read thread: looks for other connections' commits between reads.
    class QTimer *m_pollTimer = nullptr;
    std::unique_ptr<class SnapshotWriter> m_snapshots;
    int m_snapshotSeconds = 0;
    // On the store's thread, from a start that opened the database.
    class QTimer *m_snapshotTimer = nullptr;
};

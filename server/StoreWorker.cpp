#include "server/StoreWorker.h"

#include "server/SnapshotWriter.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QMutexLocker>
#include <QTimer>

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <cstdio>

StoreWorker::StoreWorker(DatabaseConfig config, int top, QTimeZone zone)
    : m_model(std::make_shared<BoardModel>(top, zone)),
      m_store(std::make_unique<RankingStore>(config, top, zone, QStringLiteral("tovrika-ranking"),
                                             RankingStore::Role::Writer, m_model)),
      m_readStore(std::make_unique<RankingStore>(config, top, zone, QStringLiteral("tovrika-ranking-read"),
                                                 RankingStore::Role::Reader, m_model)),
      m_deadlineMs(config.deadlineMs)
{
    m_thread.setObjectName(QStringLiteral("store"));
    m_readThread.setObjectName(QStringLiteral("store-read"));
}

StoreWorker::~StoreWorker() { stop(); }

void StoreWorker::setSnapshot(const QString &path, int seconds)
{
    m_store->setSnapshotFile(path);
    m_snapshots = std::make_unique<SnapshotWriter>(m_model, path);
    m_snapshotSeconds = seconds;
}

void StoreWorker::keepSnapshots()
{
    if (!m_snapshots)
        return;
    std::shared_lock lock(m_model->lock());
    const qint64 folded = m_model->position() - m_store->snapshotPosition();
    lock.unlock();
    // A long fold is worth telling, and so is any snapshot read or left aside.
    constexpr qint64 LongFold = 100000;
    if (!m_store->snapshotMissing() || folded >= LongFold)
        std::fprintf(stderr, "tovrika-ranking: %s\n", qPrintable(m_store->snapshotNote()));
    m_snapshots->setWritten(m_store->snapshotPosition());
    m_snapshotTimer = new QTimer(this);
    m_snapshotTimer->setInterval(m_snapshotSeconds * 1000);
    QObject::connect(m_snapshotTimer, &QTimer::timeout, this, [this] { m_snapshots->writeSoon(); });
    m_snapshotTimer->start();
    // A start that folded much of the log keeps it at once, not only later.
    if (folded >= LongFold)
        QMetaObject::invokeMethod(this, [this] { m_snapshots->writeSoon(); }, Qt::QueuedConnection);
}

bool StoreWorker::start(QString *error)
{
    moveToThread(&m_thread);
    m_reader.moveToThread(&m_readThread);
    m_thread.start();
    m_readThread.start();
    bool opened = false;
    // The writer first: it creates the schema that the reader reads.
    QMetaObject::invokeMethod(
        this,
        [&] {
            opened = m_store->open(error);
            if (opened)
                keepSnapshots();
        },
        Qt::BlockingQueuedConnection);
    if (opened) {
        QMetaObject::invokeMethod(
            &m_reader,
            [&] {
                if (m_changeObserver)
                    m_readStore->setChangeListener(m_changeObserver);
                opened = m_readStore->open(error);
                if (!opened)
                    return;
                // Other processes' commits are seen within this time even
                // when no page is read meanwhile.
                m_pollTimer = new QTimer(&m_reader);
                m_pollTimer->setInterval(20);
                QObject::connect(m_pollTimer, &QTimer::timeout, &m_reader, [this] {
                    m_readStore->pollChanges();
                    report(Path::Read, m_readStore->isOpen(), m_readStore->lastError());
                });
                m_pollTimer->start();
            },
            Qt::BlockingQueuedConnection);
    }
    if (!opened)
        stop();
    return opened;
}

void StoreWorker::stop()
{
    if (m_readThread.isRunning()) {
        QMetaObject::invokeMethod(
            &m_reader,
            [this] {
                delete m_pollTimer;
                m_pollTimer = nullptr;
                m_readStore->close();
            },
            Qt::BlockingQueuedConnection);
        m_readThread.quit();
        m_readThread.wait();
    }
    if (!m_thread.isRunning())
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            drain();
            m_store->close();
            // Only the boards of a start that folded the whole log are kept.
            if (m_snapshotTimer) {
                delete m_snapshotTimer;
                m_snapshotTimer = nullptr;
                m_snapshots->writeNow();
            }
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void StoreWorker::submit(const PendingEntry &entry, QObject *context, EntryDone done)
{
    QMutexLocker lock(&m_mutex);
    m_queue.append({entry, context, std::move(done)});
    if (!m_drainScheduled) {
        m_drainScheduled = true;
        QMetaObject::invokeMethod(this, &StoreWorker::drain, Qt::QueuedConnection);
    }
}

void StoreWorker::read(std::function<void(RankingStore &)> job)
{
    QMetaObject::invokeMethod(
        &m_reader,
        [this, job = std::move(job)] {
            // What other connections committed is known before the job
            // decides what it may keep.
            m_readStore->pollChanges();
            m_readStore->armDeadline(QDeadlineTimer(m_deadlineMs));
            job(*m_readStore);
            m_readStore->disarmDeadline();
            // A store that failed has closed its connection.
            report(Path::Read, m_readStore->isOpen(), m_readStore->lastError());
        },
        Qt::QueuedConnection);
}

int StoreWorker::inFlight() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_queue.size()) + m_committing;
}

void StoreWorker::report(Path path, bool ok, const QString &error)
{
    QMutexLocker lock(&m_healthMutex);
    const bool wasFailing = m_writeFailed || m_readFailed;
    (path == Path::Write ? m_writeFailed : m_readFailed) = !ok;
    const bool failing = m_writeFailed || m_readFailed;
    // Once per outage, not once per entry or page.
    if (failing && !wasFailing)
        std::fprintf(stderr, "tovrika-ranking: database failed: %s\n", qPrintable(error.simplified()));
    else if (!failing && wasFailing)
        std::fprintf(stderr, "tovrika-ranking: database is back\n");
}

void StoreWorker::drain()
{
    for (;;) {
        QList<Queued> batch;
        {
            QMutexLocker lock(&m_mutex);
            if (m_queue.isEmpty()) {
                m_drainScheduled = false;
                return;
            }
            if (m_groupCommit) {
                batch.swap(m_queue);
            } else {
                batch.append(m_queue.takeFirst());
            }
            m_committing = int(batch.size());
        }
        QList<Queued> late;
        std::optional<QList<EntryAnswer>> answers;
        // Each entry has its own deadline: a commit that would come too late
        // for the oldest is not sent, the entries past their deadline are
        // told of an error, and the others are tried again without them.
        for (;;) {
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            QList<PendingEntry> entries;
            entries.reserve(batch.size());
            qint64 firstArrival = now;
            for (qsizetype i = 0; i < batch.size();) {
                if (batch[i].entry.atMs + m_deadlineMs <= now) {
                    // Its player is told of an error; so it is never stored.
                    late.append(batch.takeAt(i));
                    continue;
                }
                firstArrival = std::min(firstArrival, batch[i].entry.atMs);
                entries.append(batch[i++].entry);
            }
            if (entries.isEmpty()) {
                report(Path::Write, false,
                       QStringLiteral("entries waited longer than %1 ms for the database").arg(m_deadlineMs));
                break;
            }
            QElapsedTimer timer;
            timer.start();
            answers = m_store->submit(entries, QDeadlineTimer(firstArrival + m_deadlineMs - now));
            // Before any player is answered: a page read after an OK shows it.
            if (answers && m_changeObserver)
                m_changeObserver(answers->contains(EntryAnswer::Ok));
            if (m_commitObserver)
                m_commitObserver(int(entries.size()), double(timer.nsecsElapsed()) / 1e9, answers.has_value());
            if (answers || !m_store->cutBeforeCommit()) {
                report(Path::Write, answers.has_value(), m_store->lastError());
                break;
            }
        }
        // One event per context for the whole batch, in the order the
        // entries came: each event wakes the context's thread.
        struct Answers
        {
            QObject *context;
            QList<std::pair<EntryDone, std::optional<EntryAnswer>>> done;
        };
        QList<Answers> grouped;
        auto answer = [&grouped](Queued &queued, std::optional<EntryAnswer> answer) {
            auto group = std::find_if(grouped.begin(), grouped.end(),
                                      [&](const Answers &each) { return each.context == queued.context; });
            if (group == grouped.end())
                group = grouped.insert(grouped.end(), Answers{queued.context, {}});
            group->done.append({std::move(queued.done), answer});
        };
        for (Queued &queued : late)
            answer(queued, std::nullopt);
        for (qsizetype i = 0; i < batch.size(); ++i)
            answer(batch[i], answers ? std::optional(answers->at(i)) : std::nullopt);
        for (Answers &group : grouped) {
            QMetaObject::invokeMethod(
                group.context,
                [done = std::move(group.done)] {
                    for (const auto &[each, answer] : done)
                        each(answer);
                },
                Qt::QueuedConnection);
        }
        QMutexLocker lock(&m_mutex);
        m_committing = 0;
    }
}

#include "server/StoreWorker.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QMutexLocker>

StoreWorker::StoreWorker(DatabaseConfig config, int top, QTimeZone zone)
    : m_store(std::make_unique<RankingStore>(std::move(config), top, std::move(zone),
                                             QStringLiteral("tovrika-ranking")))
{
    m_thread.setObjectName(QStringLiteral("store"));
}

StoreWorker::~StoreWorker() { stop(); }

bool StoreWorker::start(QString *error)
{
    moveToThread(&m_thread);
    m_thread.start();
    bool opened = false;
    QMetaObject::invokeMethod(
        this, [&] { opened = m_store->open(error); }, Qt::BlockingQueuedConnection);
    if (!opened)
        stop();
    return opened;
}

void StoreWorker::stop()
{
    if (!m_thread.isRunning())
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            drain();
            m_store->close();
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
    QMetaObject::invokeMethod(this, [this, job = std::move(job)] { job(*m_store); }, Qt::QueuedConnection);
}

int StoreWorker::inFlight() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_queue.size()) + m_committing;
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
        QList<PendingEntry> entries;
        entries.reserve(batch.size());
        for (const Queued &queued : batch)
            entries.append(queued.entry);
        QElapsedTimer timer;
        timer.start();
        const std::optional<QList<EntryAnswer>> answers = m_store->submit(entries);
        if (m_commitObserver)
            m_commitObserver(int(entries.size()), double(timer.nsecsElapsed()) / 1e9, answers.has_value());
        for (qsizetype i = 0; i < batch.size(); ++i) {
            const std::optional<EntryAnswer> answer = answers ? std::optional(answers->at(i)) : std::nullopt;
            QMetaObject::invokeMethod(batch[i].context, [done = std::move(batch[i].done), answer] { done(answer); },
                                      Qt::QueuedConnection);
        }
        QMutexLocker lock(&m_mutex);
        m_committing = 0;
    }
}

#pragma once

#include "server/BoardModel.h"

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

// Keeps the snapshot of the boards beside the log up to date. Each write
// runs on a thread of its own, so that neither a commit nor a page waits
// for the disk; the boards are held for reading only while their bytes are
// written. A failure is told on standard error once until a write works
// again, and the server serves on: the snapshot only makes the next start
// quicker.
class SnapshotWriter
{
public:
    SnapshotWriter(std::shared_ptr<BoardModel> model, QString path);
    ~SnapshotWriter();
    SnapshotWriter(const SnapshotWriter &) = delete;
    SnapshotWriter &operator=(const SnapshotWriter &) = delete;

    // The log line the snapshot on disk covers, as far as this process knows.
    void setWritten(qint64 position) { m_written = position; }
    // Starts a write when the boards moved on since the last one and no
    // write is on its way.
    void writeSoon();
    // Waits for a write on its way, then writes what the boards hold now;
    // for a clean stop.
    void writeNow();

private:
    void write(bool tell);
    void wait();

    std::shared_ptr<BoardModel> m_model;
    QString m_path;
    std::thread m_thread;
    std::atomic<bool> m_busy = false;
    std::atomic<qint64> m_written = 0;
    std::atomic<bool> m_failing = false;
};

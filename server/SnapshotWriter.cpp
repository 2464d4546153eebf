#include "server/SnapshotWriter.h"

#include "server/BoardSnapshot.h"

#include <QElapsedTimer>

#include <cstdio>
#include <mutex>
#include <shared_mutex>

SnapshotWriter::SnapshotWriter(std::shared_ptr<BoardModel> model, QString path)
    : m_model(std::move(model)), m_path(std::move(path))
{
}

SnapshotWriter::~SnapshotWriter() { wait(); }

void SnapshotWriter::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

void SnapshotWriter::writeSoon()
{
    if (m_busy)
        return;
    {
        std::shared_lock lock(m_model->lock());
        if (m_model->position() == m_written)
            return;
    }
    wait();
    m_busy = true;
    m_thread = std::thread([this] {
        write(false);
        m_busy = false;
    });
}

void SnapshotWriter::writeNow()
{
    wait();
    {
        std::shared_lock lock(m_model->lock());
        if (m_model->position() == m_written)
            return;
    }
    write(true);
}

void SnapshotWriter::write(bool tell)
{
    QElapsedTimer timer;
    timer.start();
    qint64 position = 0;
    QString error;
    if (!BoardSnapshot::write(*m_model, m_path, &position, &error)) {
        // Once until it works again, and at the stop.
        if (!m_failing || tell)
            std::fprintf(stderr, "tovrika-ranking: cannot keep a snapshot of the boards: %s\n", qPrintable(error));
        m_failing = true;
        return;
    }
    m_written = position;
    if (m_failing.exchange(false) && !tell)
        std::fprintf(stderr, "tovrika-ranking: the boards are kept in %s again\n", qPrintable(m_path));
    if (tell)
        std::fprintf(stderr, "tovrika-ranking: the boards up to log line %lld kept in %s in %.2f s\n",
                     position, qPrintable(m_path), timer.elapsed() / 1000.0);
}

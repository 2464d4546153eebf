#pragma once

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Standard output or standard error through a bounded queue, so that no
// answer and no shutdown ever waits on a reader that stalled (a journal
// that is behind, a pipe nobody reads). The descriptor is replaced by a
// pipe that a thread of this class empties at once, line by line, into the
// queue; another thread writes the queue to where the descriptor went,
// never blocking on it. A line that finds the queue full is dropped and
// counted, and the count told on standard error once the reader is back.
class BoundedOutput
{
public:
    // name: what the lines are, for the message that tells of drops.
    BoundedOutput(int fd, const char *name, qsizetype capacityBytes = 1 << 20);
    ~BoundedOutput();
    BoundedOutput(const BoundedOutput &) = delete;
    BoundedOutput &operator=(const BoundedOutput &) = delete;

    // False (and the descriptor left as it was) when no pipe can be made.
    bool start();
    // Puts the descriptor back and writes what is queued, for at most
    // deadlineMs; what is left then is dropped and counted.
    void finish(int deadlineMs = 2000);
    quint64 dropped() const { return m_dropped.load(); }

private:
    void readLoop();
    void writeLoop();
    void push(QByteArray line);
    // Writes all of bytes unless told to give up; false then.
    bool writeAll(QByteArrayView bytes);
    void tellDropped(quint64 lines);

    int m_fd;
    const char *m_name;
    qsizetype m_capacity;
    int m_target = -1;
    int m_nonBlocking = -1;
    bool m_socket = false;
    int m_readEnd = -1;
    std::thread m_reader;
    std::thread m_writer;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_queue;
    qsizetype m_queued = 0;
    bool m_readerDone = false;
    bool m_writing = false;
    std::atomic<bool> m_abandon{false};
    std::atomic<quint64> m_dropped{0};
    quint64 m_told = 0;
};

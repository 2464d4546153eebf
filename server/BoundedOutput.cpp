#include "server/BoundedOutput.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {
constexpr qsizetype LongestLine = 64 * 1024;
}

BoundedOutput::BoundedOutput(int fd, const char *name, qsizetype capacityBytes)
    : m_fd(fd), m_name(name), m_capacity(capacityBytes)
{
}

BoundedOutput::~BoundedOutput() { finish(); }

bool BoundedOutput::start()
{
    int ends[2];
    m_target = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 3);
    if (m_target < 0 || ::pipe2(ends, O_CLOEXEC) != 0) {
        if (m_target >= 0)
            ::close(m_target);
        m_target = -1;
        return false;
    }
    struct stat status{};
    if (::fstat(m_target, &status) == 0) {
        m_socket = S_ISSOCK(status.st_mode);
        // A pipe or a terminal of its own, opened anew, so that it can be
        // written without blocking and nothing else that shares the old one
        // is changed. A regular file never blocks for long.
        if (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode)) {
            const QByteArray path = "/proc/self/fd/" + QByteArray::number(m_target);
            m_nonBlocking = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_APPEND);
        }
    }
    ::dup2(ends[1], m_fd);
    ::close(ends[1]);
    m_readEnd = ends[0];
    m_reader = std::thread([this] { readLoop(); });
    m_writer = std::thread([this] { writeLoop(); });
    return true;
}

void BoundedOutput::finish(int deadlineMs)
{
    if (m_target < 0)
        return;
    std::fflush(nullptr);
    // The pipe's last write end goes: the reader meets its end.
    ::dup2(m_target, m_fd);
    m_reader.join();
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(deadlineMs), [this] { return m_queue.empty() && !m_writing; });
    }
    m_abandon = true;
    m_wake.notify_all();
    m_writer.join();
    if (m_dropped.load() > m_told) {
        const QByteArray note = QByteArray("tovrika-ranking: ") + QByteArray::number(m_dropped.load() - m_told)
                                + " lines of " + m_name + " dropped: their reader did not keep up\n";
        // Standard error is its own again by now, or was never stalled with this one.
        const int fd = m_fd == STDERR_FILENO ? (m_nonBlocking >= 0 ? m_nonBlocking : m_target) : STDERR_FILENO;
        [[maybe_unused]] const ssize_t written = m_socket && m_fd == STDERR_FILENO
            ? ::send(fd, note.constData(), size_t(note.size()), MSG_DONTWAIT | MSG_NOSIGNAL)
            : ::write(fd, note.constData(), size_t(note.size()));
    }
    ::close(m_readEnd);
    if (m_nonBlocking >= 0)
        ::close(m_nonBlocking);
    ::close(m_target);
    m_target = -1;
}

void BoundedOutput::readLoop()
{
    QByteArray partial;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(m_readEnd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        partial.append(buffer, got);
        qsizetype start = 0;
        for (qsizetype end; (end = partial.indexOf('\n', start)) >= 0; start = end + 1)
            push(partial.mid(start, end + 1 - start));
        partial.remove(0, start);
        if (partial.size() > LongestLine)
            push(std::exchange(partial, {}));
    }
    if (!partial.isEmpty())
        push(partial);
    std::lock_guard lock(m_mutex);
    m_readerDone = true;
    m_wake.notify_all();
}

void BoundedOutput::push(QByteArray line)
{
    std::lock_guard lock(m_mutex);
    if (m_queued + line.size() > m_capacity) {
        ++m_dropped;
        return;
    }
    m_queued += line.size();
    m_queue.push_back(std::move(line));
    m_wake.notify_all();
}

void BoundedOutput::writeLoop()
{
    for (;;) {
        QByteArray batch;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_abandon.load(); });
            if (m_queue.empty())
                return;
            while (!m_queue.empty() && batch.size() < LongestLine) {
                m_queued -= m_queue.front().size();
                batch += m_queue.front();
                m_queue.pop_front();
            }
            m_writing = true;
        }
        const bool written = writeAll(batch);
        {
            std::lock_guard lock(m_mutex);
            m_writing = false;
            m_wake.notify_all();
        }
        if (!written) {
            std::lock_guard lock(m_mutex);
            m_dropped += quint64(batch.count('\n') + m_queue.size());
            m_queue.clear();
            m_queued = 0;
            return;
        }
        const quint64 dropped = m_dropped.load();
        if (dropped > m_told) {
            tellDropped(dropped - m_told);
            m_told = dropped;
        }
    }
}

void BoundedOutput::tellDropped(quint64 lines)
{
    const QByteArray note = QByteArray("tovrika-ranking: ") + QByteArray::number(lines) + " lines of " + m_name
                            + " dropped: their reader did not keep up\n";
    if (m_fd == STDERR_FILENO)
        writeAll(note);
    else
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, note.constData(), size_t(note.size()));
}

bool BoundedOutput::writeAll(QByteArrayView bytes)
{
    const int fd = m_nonBlocking >= 0 ? m_nonBlocking : m_target;
    while (!bytes.isEmpty()) {
        if (m_abandon.load()) {
            pollfd ready{fd, POLLOUT, 0};
            if (::poll(&ready, 1, 0) <= 0)
                return false;
        }
        ssize_t done = 0;
        if (m_socket) {
            done = ::send(fd, bytes.data(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        } else {
            // Without a descriptor of its own that cannot block, a pipe
            // takes up to PIPE_BUF bytes at once once poll says it has room.
            pollfd ready{fd, POLLOUT, 0};
            if (m_nonBlocking < 0 && ::poll(&ready, 1, 100) <= 0) {
                continue;
            }
            done = ::write(fd, bytes.data(), size_t(m_nonBlocking >= 0 ? bytes.size() : qMin(bytes.size(), 4096)));
        }
        if (done > 0) {
            bytes = bytes.sliced(done);
        } else if (done < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd ready{fd, POLLOUT, 0};
            ::poll(&ready, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

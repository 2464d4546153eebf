#include "server/Watchdog.h"

#include <chrono>

Watchdog::Watchdog() : m_thread([this] { run(); }) {}

Watchdog::~Watchdog()
{
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void Watchdog::arm(QDeadlineTimer deadline, std::function<void()> cut)
{
    {
        const std::lock_guard lock(m_mutex);
        m_deadline = deadline;
        m_cut = std::move(cut);
        m_armed = true;
        m_cutDone = false;
        m_committing = false;
    }
    m_wake.notify_all();
}

bool Watchdog::beginCommit(qint64 graceMs)
{
    const std::lock_guard lock(m_mutex);
    if (m_cutDone || (m_armed && m_deadline.hasExpired()))
        return false;
    if (m_armed && !m_deadline.isForever())
        m_deadline = QDeadlineTimer(m_deadline.remainingTime() + graceMs);
    m_committing = true;
    m_wake.notify_all();
    return true;
}

Watchdog::Cut Watchdog::disarm()
{
    const std::lock_guard lock(m_mutex);
    m_armed = false;
    m_cut = nullptr;
    const Cut cut = !m_cutDone ? Cut::None : m_committing ? Cut::DuringCommit : Cut::BeforeCommit;
    m_cutDone = false;
    m_committing = false;
    return cut;
}

void Watchdog::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        if (!m_armed || m_cutDone || m_deadline.isForever()) {
            m_wake.wait(lock);
            continue;
        }
        const qint64 remaining = m_deadline.remainingTime();
        if (remaining > 0) {
            m_wake.wait_for(lock, std::chrono::milliseconds(remaining));
            continue;
        }
        // Under the lock: disarm() cannot return, and the connection cannot
        // be closed, while the cut runs.
        m_cut();
        m_cutDone = true;
    }
}

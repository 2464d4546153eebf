#pragma once

#include <QDeadlineTimer>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Cuts a database call that runs past its deadline, from a thread of its
// own: the store's thread may be blocked in a read that no time-out of the
// database's own ends (a stopped PostgreSQL backend answers no cancel
// request either). Once the store says that it sends COMMIT, the cut waits
// a grace time more, since a commit cut on its way has an unknown outcome.
class Watchdog
{
public:
    Watchdog();
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    // From the store's thread: until disarm(), cut runs once on the
    // watchdog's thread when the deadline passes. cut must stay valid, and
    // so must what it cuts, until disarm() returns.
    void arm(QDeadlineTimer deadline, std::function<void()> cut);
    // Just before COMMIT is sent: false when the deadline has passed or the
    // call was cut (then nothing may be committed); otherwise the cut now
    // comes graceMs after the deadline.
    bool beginCommit(qint64 graceMs);
    enum class Cut { None, BeforeCommit, DuringCommit };
    // Ends the watch; whether, and when, the cut was made since arm().
    Cut disarm();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
    std::function<void()> m_cut;
    bool m_armed = false;
    bool m_cutDone = false;
    bool m_committing = false;
    bool m_quit = false;
    std::thread m_thread;
};

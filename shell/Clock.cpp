#include "shell/Clock.h"

#include <QDateTime>
#include <QTime>

#include <ctime>

namespace {

qint64 bootTimeMs()
{
    timespec ts{};
    if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0)
        clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

qint32 SystemClock::tickCount() const
{
    // Two's-complement truncation: after 24.9 days of uptime the value turns
    // negative, after 49.7 days it wraps to 0, like the classic counter.
    return qint32(quint32(quint64(bootTimeMs())));
}

qint64 SystemClock::monotonicMs() const
{
    return bootTimeMs();
}

QDate SystemClock::today() const
{
    return QDate::currentDate();
}

int SystemClock::secondsOfDay() const
{
    return QTime::currentTime().msecsSinceStartOfDay() / 1000;
}

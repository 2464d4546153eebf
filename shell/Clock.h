#pragma once

#include <QDate>
#include <QtGlobal>

// Every reading of time that the game makes goes through here, so that tests
// can play a 30-second game in milliseconds.
class Clock
{
public:
    virtual ~Clock() = default;

    // Milliseconds since the system started, as a signed 32-bit value that
    // wraps like the classic tick counter. Used for the installation identifier.
    virtual qint32 tickCount() const = 0;
    // Milliseconds of a monotonic clock that never wraps: game time and answer
    // intervals are differences of two of these.
    virtual qint64 monotonicMs() const = 0;
    // Today's local calendar date.
    virtual QDate today() const = 0;
    // Local time of day in whole seconds, 0 to 86399.
    virtual int secondsOfDay() const = 0;
};

class SystemClock final : public Clock
{
public:
    qint32 tickCount() const override;
    qint64 monotonicMs() const override;
    QDate today() const override;
    int secondsOfDay() const override;
};

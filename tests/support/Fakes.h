#pragma once

// Stand-ins for the outside world: a clock that moves only when told, a
// random source that plays back chosen draws, a speaker that counts, message
// boxes that answer by themselves and a browser that only remembers (and
// starts or not, as told).

#include "shell/Browser.h"
#include "shell/Clock.h"
#include "shell/MessageBoxes.h"
#include "shell/RandomSource.h"
#include "shell/Sound.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <deque>
#include <functional>

class FakeClock final : public Clock
{
public:
    qint32 tick = 1000;
    qint64 monotonic = 1'000'000;
    QDate date{2001, 10, 5};
    int seconds = 12 * 3600;

    void advance(qint64 ms) { monotonic += ms; tick = qint32(quint32(tick) + quint32(ms)); }

    qint32 tickCount() const override { return tick; }
    qint64 monotonicMs() const override { return monotonic; }
    QDate today() const override { return date; }
    int secondsOfDay() const override { return seconds; }
};

// Plays back queued draws first, then falls back to a seeded real source.
class FakeRandom final : public RandomSource
{
public:
    std::deque<double> queued;
    QList<double> seeds;

    double next() override;
    void reseed(double seed) override;

private:
    MixingRandomSource m_fallback{12345};
};

class CountingSound final : public Sound
{
public:
    int beeps = 0;
    int exclamations = 0;
    void beep() override { ++beeps; }
    void exclamation() override { ++exclamations; }
};

class PresetMessageBoxes final : public MessageBoxes
{
public:
    struct Shown
    {
        enum Kind { Inform, Ask } kind;
        Icon icon;
        QString text;
    };

    QList<Shown> shown;
    bool nextAnswer = false;
    // Runs while a box "is open": lets a test look at the windows then.
    std::function<void()> onShow;

    void setNextAnswer(bool yes) { nextAnswer = yes; }

    void inform(QWidget *parent, Icon icon, const QString &text) override;
    bool askYesNo(QWidget *parent, const QString &text) override;
};

class RecordingBrowser final : public Browser
{
public:
    QList<QUrl> opened;
    bool starts = true;
    bool open(const QUrl &url) override
    {
        opened << url;
        return starts;
    }
};

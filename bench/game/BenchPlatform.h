#pragma once

// The real clock and random source with a throw-away settings folder and a
// silent speaker: what the benchmarks of the game loop run against.

#include "shell/Browser.h"
#include "shell/Clock.h"
#include "shell/MessageBoxes.h"
#include "shell/Platform.h"
#include "shell/RandomSource.h"
#include "shell/SettingsStore.h"
#include "shell/Sound.h"

#include <QTemporaryDir>
#include <QUrl>

struct SilentSound final : Sound
{
    void beep() override {}
    void exclamation() override {}
};

struct NoBrowser final : Browser
{
    bool open(const QUrl &) override { return true; }
};

struct BenchPlatform
{
    QTemporaryDir dir;
    IniSettingsStore settings{dir.path()};
    SystemClock clock;
    MixingRandomSource random;
    SilentSound sound;
    QtMessageBoxes messages;
    NoBrowser browser;
    Platform platform{settings, clock, random, sound, messages, browser, SiteConfig{}};
};

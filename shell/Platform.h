#pragma once

#include <QString>

class Browser;
class Clock;
class MessageBoxes;
class RandomSource;
class SettingsStore;
class Sound;

// Where the game's web addresses point. Scheme and host, no trailing slash.
struct SiteConfig
{
    QString makerSite;
    QString rankingServer;
    // How long a ranking entry may take before it counts as failed.
    int transferTimeoutMs = 60000;
};

// Everything the windows need from outside the program. The app passes the
// real services; tests pass fakes, so no test touches the player's settings,
// the clock, the speaker or the network.
struct Platform
{
    SettingsStore &settings;
    Clock &clock;
    RandomSource &random;
    Sound &sound;
    MessageBoxes &messages;
    Browser &browser;
    SiteConfig site;
};

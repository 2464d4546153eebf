#pragma once

// A complete Platform of fakes, with a settings store in a temporary folder
// that vanishes with the test.

#include "shell/Platform.h"
#include "shell/SettingsStore.h"
#include "support/Fakes.h"

#include <QTemporaryDir>

class TestPlatform
{
public:
    TestPlatform();

    QTemporaryDir dir;
    IniSettingsStore settings{dir.path()};
    FakeClock clock;
    FakeRandom random;
    CountingSound sound;
    PresetMessageBoxes messages;
    RecordingBrowser browser;
    Platform platform{settings, clock, random, sound, messages, browser,
                      SiteConfig{QStringLiteral("http://maker.test"),
                                 QStringLiteral("http://ranking.test"), 60000}};

    QString iniFile() const { return settings.fileName(QStringLiteral("Tovrika")); }
    QString stored(const QString &key) const
    {
        return settings.read(QStringLiteral("Tovrika"), QStringLiteral("UserData"), key);
    }
    void store(const QString &key, const QString &value)
    {
        settings.write(QStringLiteral("Tovrika"), QStringLiteral("UserData"), key, value);
    }
};

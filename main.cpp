// Tovrika: a mental-arithmetic game. Builds the real platform services and
// hands over to the start routine.

#include "game/frmMain.h"
#include "shell/Browser.h"
#include "shell/BuildConfig.h"
#include "shell/Clock.h"
#include "shell/FontWarmup.h"
#include "shell/Fonts.h"
#include "shell/MessageBoxes.h"
#include "shell/Platform.h"
#include "shell/QtTranslation.h"
#include "shell/RandomSource.h"
#include "shell/SettingsStore.h"
#include "shell/Sound.h"
#include "shell/modMain.h"

#include <QApplication>

int main(int argc, char **argv)
{
    FontWarmup fontWarmup;
    installFontSubstitutions();
    QApplication app(argc, argv);
    // The desktop entry's name: docks and Wayland compositors match the window to it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tovrika.Tovrika"));
    installApplicationFont();
    installQtJapanese(&app);

    IniSettingsStore settings;
    SystemClock clock;
    MixingRandomSource random;
    SystemSound sound;
    QtMessageBoxes messages;
    DesktopBrowser browser;
    Platform platform{settings, clock, random, sound, messages, browser, BuildConfig::site()};

    const auto window = modMain::Main(platform, [&] { fontWarmup.wait(); });
    return app.exec();
}

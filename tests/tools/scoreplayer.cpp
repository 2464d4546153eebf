// One copy of the game for the tests that run several at once on one
// settings file: the real main window over the settings folder given, with a
// fake clock and message boxes that answer by themselves. It plays a timed
// game of the 30-second mode to the score named on each line of its input,
// "play N", and answers each line with one line:
//
//   label=<shown high score> record=<0|1> messages=<boxes shown so far>
//
// Its first line, before any input, is the same report of the window as it
// opened.
//
//   tovrika_scoreplayer SETTINGS_FOLDER

#include "game/frmMain.h"
#include "support/NoResultMain.h"
#include "support/TestPlatform.h"

#include "ui_frmMain.h"

#include <QApplication>
#include <QLabel>
#include <QStandardPaths>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

using Player = NoResultMain;

void report(Player &window, const PresetMessageBoxes &messages)
{
    std::printf("label=%s record=%d messages=%d\n", qPrintable(window.controls().lblHiScore->text()),
                window.bHiScore ? 1 : 0, int(messages.shown.size()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tovrika_scoreplayer SETTINGS_FOLDER\n");
        return 2;
    }

    TestPlatform t;
    IniSettingsStore shared(QString::fromLocal8Bit(argv[1]));
    Platform withShared{shared, t.clock, t.random, t.sound, t.messages, t.browser, t.platform.site};
    Player window(withShared);
    report(window, t.messages);

    for (std::string line; std::getline(std::cin, line);) {
        int score = -1;
        if (std::sscanf(line.c_str(), "play %d", &score) != 1 || score < 0) {
            std::fprintf(stderr, "unknown command: %s\n", line.c_str());
            return 2;
        }
        window.Form_KeyPress(u' ');
        for (int i = 0; i < score; ++i)
            window.Form_KeyPress(char16_t(u'0' + window.expectedAnswer()));
        t.clock.advance(30000);
        window.Timer1_Timer();
        report(window, t.messages);
    }
    return 0;
}

#pragma once

// QTEST_MAIN with the game's start-up conditions: the font substitution in
// place before the first widget, and QStandardPaths pointed away from the
// player's own folders.

#include "shell/Fonts.h"
#include "support/Skips.h"

#include <QApplication>
#include <QStandardPaths>
#include <QTest>

#define TOVRIKA_TEST_MAIN(TestObject)                                   \
    int main(int argc, char **argv)                                     \
    {                                                                   \
        QStandardPaths::setTestModeEnabled(true);                       \
        installFontSubstitutions();                                     \
        QApplication app(argc, argv);                                   \
        installApplicationFont();                                       \
        TestObject tc;                                                  \
        QTEST_SET_MAIN_SOURCE_PATH                                      \
        return tovrikaExitCode(QTest::qExec(&tc, argc, argv));          \
    }

#pragma once

// Skips that the machine causes (a tool missing, no root, no loop device)
// must not pass for a check that ran. TOVRIKA_SKIP notes the skip, and a
// test program whose checks passed but that skipped one ends with 77,
// which ctest reports as skipped (SKIP_RETURN_CODE). Skips by design, such
// as a check that belongs to the other database's run, stay plain QSKIPs.

#include <QTest>

inline bool &tovrikaSkippedForTheMachine()
{
    static bool skipped = false;
    return skipped;
}

inline int tovrikaExitCode(int qtestResult)
{
    return qtestResult == 0 && tovrikaSkippedForTheMachine() ? 77 : qtestResult;
}

#define TOVRIKA_SKIP(reason)                   \
    do {                                       \
        tovrikaSkippedForTheMachine() = true;  \
        QSKIP(reason);                         \
    } while (false)

#define TOVRIKA_GUILESS_MAIN(TestObject)                        \
    int main(int argc, char **argv)                             \
    {                                                           \
        QCoreApplication app(argc, argv);                       \
        TestObject tc;                                          \
        QTEST_SET_MAIN_SOURCE_PATH                              \
        return tovrikaExitCode(QTest::qExec(&tc, argc, argv));  \
    }

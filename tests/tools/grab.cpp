// Grabs the game's windows as a screen of the current scale shows them, for
// the test that compares scales (run it with QT_SCALE_FACTOR set): the main
// window in the ready state as main.png, and the result window of a short
// 30-second game as result.png, both into the folder given.
//
//   tovrika_grab OUTPUT_FOLDER

#include "game/frmMain.h"
#include "result/frmResult.h"
#include "shell/Fonts.h"
#include "support/NoResultMain.h"
#include "support/TestPlatform.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QStandardPaths>
#include <QTest>

#include <cstdio>

namespace {

using GrabbedMain = NoResultMain;

} // namespace

int main(int argc, char **argv)
{
    QStandardPaths::setTestModeEnabled(true);
    installFontSubstitutions();
    QApplication app(argc, argv);
    installApplicationFont();
    if (argc != 2) {
        std::fprintf(stderr, "usage: tovrika_grab OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));

    TestPlatform t;
    GrabbedMain window(t.platform);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    if (!window.grab().save(output.filePath(QStringLiteral("main.png"))))
        return 1;

    // A played record for the chart: answers of varied length, some wrong.
    window.Form_KeyPress(u' ');
    for (int i = 0; i < 40; ++i) {
        t.clock.advance(200 + (i * 37) % 900);
        const int answer = window.expectedAnswer();
        window.Form_KeyPress(char16_t(u'0' + (i % 7 == 3 ? (answer + 1) % 10 : answer)));
    }
    t.clock.advance(30000);
    window.Timer1_Timer();
    frmResult result(window, 0, t.platform, &window);
    result.show();
    if (!QTest::qWaitForWindowExposed(&result))
        return 1;
    if (!result.grab().save(output.filePath(QStringLiteral("result.png"))))
        return 1;
    std::printf("scale %.2f\n", window.devicePixelRatioF());
    return 0;
}

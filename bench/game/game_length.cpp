// Game length: plays five real-clock 30-second games without a key and
// prints each game's measured length (lRealTime). Goal: every one within
// 29 950 to 30 060 ms.

#include "BenchPlatform.h"
#include "game/frmMain.h"
#include "shell/Fonts.h"

#include <QApplication>
#include <QEventLoop>

#include <cstdio>

namespace {

class TimedMain : public frmMain
{
public:
    using frmMain::frmMain;
    QEventLoop *loop = nullptr;

protected:
    void ShowResultWindow() override
    {
        if (loop)
            loop->quit();
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    installFontSubstitutions();
    QApplication app(argc, argv);
    BenchPlatform bench;
    TimedMain w(bench.platform);
    w.show();

    const int games = argc > 1 ? std::atoi(argv[1]) : 5;
    bool allMet = true;
    for (int i = 0; i < games; ++i) {
        QEventLoop loop;
        w.loop = &loop;
        w.Form_KeyPress(u'x');
        loop.exec();
        const bool met = w.lRealTime >= 29950 && w.lRealTime <= 30060;
        allMet = allMet && met;
        std::printf("game %d: lRealTime %d ms%s\n", i + 1, w.lRealTime, met ? "" : "  (outside the goal)");
        std::fflush(stdout);
    }
    std::printf("goal: every game within 29950..30060 ms -> %s\n", allMet ? "met" : "missed");
    return 0;
}

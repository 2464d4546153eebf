#pragma once

// The main window with the modal result window replaced by a counter that
// also notes what the game held at the moment it would have opened.

#include "game/frmMain.h"

class NoResultMain : public frmMain
{
public:
    using frmMain::frmMain;
    int resultsShown = 0;
    bool playingWhileResultShown = true;
    bool timerRunningWhileResultShown = true;

protected:
    void ShowResultWindow() override
    {
        ++resultsShown;
        playingWhileResultShown = isPlaying();
        timerRunningWhileResultShown = gameTimer().isActive();
    }
};

#include "shell/Sound.h"

#include <QApplication>

void SystemSound::beep()
{
    QApplication::beep();
}

void SystemSound::exclamation()
{
    // The desktop offers one alert sound to Qt widgets; it serves both.
    QApplication::beep();
}

#pragma once

#include <QString>

// The game's title: the main window's caption and the caption of every
// message box.
inline QString appTitle()
{
    return QStringLiteral("Tovrika？");
}

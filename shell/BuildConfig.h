#pragma once

#include "shell/Platform.h"

#include <QString>

// Values fixed when the game is configured with CMake.
namespace BuildConfig {

int versionMajor();
int versionMinor();
int versionRevision();
// Scheme and host of the maker's site, no trailing slash (TOVRIKA_MAKER_SITE).
QString makerSite();
// Scheme and host of the ranking server, no trailing slash (TOVRIKA_RANKING_SERVER).
QString rankingServer();
// The game's web addresses and its entry's time limit, as the program runs with them.
SiteConfig site();

} // namespace BuildConfig

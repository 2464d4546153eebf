#pragma once

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

} // namespace BuildConfig

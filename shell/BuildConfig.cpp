#include "shell/BuildConfig.h"

#include "BuildConfig.h.generated"

namespace BuildConfig {

int versionMajor() { return TOVRIKA_VERSION_MAJOR; }
int versionMinor() { return TOVRIKA_VERSION_MINOR; }
int versionRevision() { return TOVRIKA_VERSION_PATCH; }
QString makerSite() { return QStringLiteral(TOVRIKA_MAKER_SITE); }
QString rankingServer() { return QStringLiteral(TOVRIKA_RANKING_SERVER); }
SiteConfig site() { return SiteConfig{makerSite(), rankingServer()}; }

} // namespace BuildConfig

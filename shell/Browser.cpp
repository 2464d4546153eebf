#include "shell/Browser.h"

#include <QDesktopServices>
#include <QUrl>

bool DesktopBrowser::open(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

#include "shell/modMain.h"

#include "game/frmMain.h"
#include "shell/Clock.h"
#include "shell/Platform.h"
#include "shell/SettingsStore.h"

#include <QDate>

QString strUserID;

namespace modMain {

qint64 DayNumber(const QDate &date)
{
    return QDate(1899, 12, 30).daysTo(date);
}

QString MakeUserID(qint32 tickCount, qint64 dayNumber)
{
    const double product = double(dayNumber) * double(tickCount);
    // A whole number below 10^15 for every date before the year 3000: 'f'
    // with no decimals writes exactly its digits, "-" first when negative.
    // -0.0 (a negative tick on day 0) is written as "0" like +0.0.
    return QString::number(product == 0.0 ? 0.0 : product, 'f', 0);
}

std::unique_ptr<frmMain> Main(Platform &platform, const std::function<void()> &beforeShow)
{
    const QString app = QStringLiteral("Tovrika");
    const QString section = QStringLiteral("UserData");
    const QString key = QStringLiteral("UserID");

    strUserID = platform.settings.read(app, section, key);
    if (strUserID.isEmpty()) {
        strUserID = MakeUserID(platform.clock.tickCount(), DayNumber(platform.clock.today()));
        // A store that cannot be written only means a new identifier next
        // time; the game itself does not depend on it.
        platform.settings.write(app, section, key, strUserID);
    }

    auto window = std::make_unique<frmMain>(platform);
    if (beforeShow)
        beforeShow();
    window->show();
    return window;
}

} // namespace modMain

#include "shell/modMain.h"

#include "game/frmMain.h"
#include "shell/Clock.h"
#include "shell/Platform.h"
#include "shell/SettingsStore.h"

#include <QDate>
#include <QEvent>
#include <QTimer>

#include <utility>

#include <malloc.h>

QString strUserID;

namespace {

// Runs a job once the window has painted its first frame, or as the window
// goes if it never did.
class AfterFirstPaint : public QObject
{
public:
    AfterFirstPaint(QWidget *window, std::function<void()> job)
        : QObject(window)
        , m_job(std::move(job))
    {
        window->installEventFilter(this);
    }
    ~AfterFirstPaint() override { run(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Queued: the frame is painted and sent to the screen first.
            QTimer::singleShot(0, this, [this] { run(); });
        }
        return false;
    }

private:
    void run()
    {
        if (auto job = std::exchange(m_job, nullptr))
            job();
    }

    std::function<void()> m_job;
};

} // namespace

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
    const bool made = strUserID.isEmpty();
    if (made)
        strUserID = MakeUserID(platform.clock.tickCount(), DayNumber(platform.clock.today()));

    auto window = std::make_unique<frmMain>(platform);
    if (made) {
        // Stored once the first frame is on the screen: writing it to disk
        // (and syncing it there) took a good part of a first start's time to
        // the first frame. A store that cannot be written, or a game gone
        // before, only means a new identifier next time; the game itself does
        // not depend on it.
        new AfterFirstPaint(window.get(), [&platform, app, section, key, id = strUserID] {
            platform.settings.write(app, section, key, id);
        });
    }
    // Building the window and loading its fonts and pictures leaves freed
    // blocks on the heap that the allocator keeps; once the first frame is
    // out, they go back to the system.
    new AfterFirstPaint(window.get(), [] { malloc_trim(0); });
    if (beforeShow)
        beforeShow();
    window->show();
    return window;
}

} // namespace modMain

#pragma once

#include <QString>

#include <functional>
#include <memory>

class QDate;
class frmMain;
struct Platform;

// The installation identifier, set once by Main() before the main window
// exists and only read afterwards (ranking page, ranking entry).
extern QString strUserID;

namespace modMain {

// Whole days since 30 December 1899 (5 October 2001 is day 37169).
qint64 DayNumber(const QDate &date);

// The identifier made from a tick count and a day number: the decimal text of
// their product in double precision, without exponent or grouping.
QString MakeUserID(qint32 tickCount, qint64 dayNumber);

// The start routine: reads the identifier (creating it on first use, and
// storing it once the window's first frame is painted), keeps it in
// strUserID, then creates and shows the main window.
// beforeShow runs between the two: start-up work done in the background that
// the first frame needs is waited for there.
std::unique_ptr<frmMain> Main(Platform &platform, const std::function<void()> &beforeShow = {});

} // namespace modMain

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The moment of a Common Log Format line, "07/Dec/2026:20:19:01 +0000".
QByteArray accessLogTime(const QDateTime &when);
// The same for now, in local time, formatted once a second per thread: the
// zone offset costs the C library a look at /etc/localtime each time.
QByteArray accessLogTimeNow();

// One line of the Common Log Format, with a moment from accessLogTime:
// host - - [07/Dec/2026:20:19:01 +0000] "GET /path?query HTTP/1.1" 200 2
// An answer cut short (the client stopped reading) ends in " cut", its
// size what the client took in.
QByteArray accessLogLine(const QString &host, const QByteArray &when, const QByteArray &method,
                         const QByteArray &target, const QByteArray &protocol, int status, qint64 bytes,
                         bool cut = false);

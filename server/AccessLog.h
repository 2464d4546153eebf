#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// One line of the Common Log Format:
// host - - [07/Dec/2026:20:19:01 +0000] "GET /path?query HTTP/1.1" 200 2
QByteArray accessLogLine(const QString &host, const QDateTime &when, const QByteArray &method,
                         const QByteArray &target, const QByteArray &protocol, int status, qint64 bytes);

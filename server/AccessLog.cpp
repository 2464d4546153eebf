#include "server/AccessLog.h"

#include <QLocale>

QByteArray accessLogLine(const QString &host, const QDateTime &when, const QByteArray &method,
                         const QByteArray &target, const QByteArray &protocol, int status, qint64 bytes)
{
    static const char *const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate date = when.date();
    const int offsetMinutes = when.offsetFromUtc() / 60;
    const int absOffset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    QByteArray line = host.toLatin1();
    line += " - - [";
    line += QByteArray::number(date.day()).rightJustified(2, '0') + '/' + Months[date.month() - 1] + '/'
            + QByteArray::number(date.year()) + ':' + when.time().toString(QStringLiteral("HH:mm:ss")).toLatin1();
    line += offsetMinutes < 0 ? " -" : " +";
    line += QByteArray::number(absOffset / 60).rightJustified(2, '0')
            + QByteArray::number(absOffset % 60).rightJustified(2, '0');
    line += "] \"";
    // The request line is logged as it came on the wire; a quote or a control
    // byte in it cannot break the line.
    for (char c : method + ' ' + target + ' ' + protocol) {
        if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            line += "\\x" + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
        else
            line += c;
    }
    line += "\" " + QByteArray::number(status) + ' ' + (bytes > 0 ? QByteArray::number(bytes) : "-") + '\n';
    return line;
}

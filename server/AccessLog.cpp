#include "server/AccessLog.h"

#include "server/TextEscape.h"

#include <QLocale>

QByteArray accessLogTime(const QDateTime &when)
{
    static const char *const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate date = when.date();
    const int offsetMinutes = when.offsetFromUtc() / 60;
    const int absOffset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    QByteArray text = QByteArray::number(date.day()).rightJustified(2, '0') + '/' + Months[date.month() - 1] + '/'
                      + QByteArray::number(date.year()) + ':'
                      + when.time().toString(QStringLiteral("HH:mm:ss")).toLatin1();
    text += offsetMinutes < 0 ? " -" : " +";
    text += QByteArray::number(absOffset / 60).rightJustified(2, '0')
            + QByteArray::number(absOffset % 60).rightJustified(2, '0');
    return text;
}

QByteArray accessLogTimeNow()
{
    thread_local qint64 lastSecond = -1;
    thread_local QByteArray text;
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second != lastSecond) {
        lastSecond = second;
        text = accessLogTime(QDateTime::fromSecsSinceEpoch(second));
    }
    return text;
}

QByteArray accessLogLine(const QString &host, const QByteArray &when, const QByteArray &method,
                         const QByteArray &target, const QByteArray &protocol, int status, qint64 bytes, bool cut)
{
    QByteArray line = host.toLatin1();
    line += " - - [";
    line += when;
    line += "] \"";
    // The request line is logged as it came on the wire, every byte that
    // could break the line or a terminal escaped; what the HTTP library
    // answered itself has no method nor protocol to show.
    line += escapeBytes(method.isEmpty() ? QByteArray("-") : method) + ' ' + escapeBytes(target) + ' '
            + escapeBytes(protocol.isEmpty() ? QByteArray("-") : protocol);
    line += "\" " + QByteArray::number(status) + ' ' + (bytes > 0 ? QByteArray::number(bytes) : "-");
    if (cut)
        line += " cut";
    line += '\n';
    return line;
}

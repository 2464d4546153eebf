#pragma once

// A loopback port that nobody listened on a moment ago: for a program the
// test starts and points at it, or for an address that must refuse.

#include <QTcpServer>

inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

#pragma once

#include "server/support/ServerProcess.h"

#include <QHostAddress>
#include <QList>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <vector>

// Many requests on a connection each, all sent before any answer is
// awaited, so that they are in the server at once; the answers are read
// while the event loop runs.
class ConcurrentRequests
{
public:
    struct Request
    {
        quint16 port = 0;
        QByteArray target;
        // Another loopback address stands for another client.
        QHostAddress from = QHostAddress();
        QByteArray host = QByteArrayLiteral("127.0.0.1");
    };

    explicit ConcurrentRequests(const QList<Request> &requests);
    // GET of each target on port.
    ConcurrentRequests(quint16 port, const QList<QByteArray> &targets);

    // Waits until every connection is closed or timeoutMs have passed;
    // polled(finished) is called at each turn with how many have ended.
    QList<ServerProcess::Reply> wait(int timeoutMs = 30000, const std::function<void(int)> &polled = {});
    int finished() const;

private:
    std::vector<std::unique_ptr<QTcpSocket>> m_sockets;
    QList<QByteArray> m_responses;
};

#include "server/support/ConcurrentRequests.h"

#include <QElapsedTimer>
#include <QTest>

ConcurrentRequests::ConcurrentRequests(const QList<Request> &requests) : m_responses(requests.size())
{
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const Request &request = requests[i];
        auto socket = std::make_unique<QTcpSocket>();
        if (!request.from.isNull())
            socket->bind(request.from);
        QObject::connect(socket.get(), &QTcpSocket::readyRead, socket.get(),
                         [this, s = socket.get(), i] { m_responses[i] += s->readAll(); });
        socket->connectToHost(QHostAddress::LocalHost, request.port);
        // Sent at once, so that the server holds the request before the test goes on.
        if (socket->waitForConnected(5000)) {
            socket->write("GET " + request.target + " HTTP/1.1\r\nHost: " + request.host
                          + "\r\nConnection: close\r\n\r\n");
            socket->waitForBytesWritten(5000);
        }
        m_sockets.push_back(std::move(socket));
    }
}

static QList<ConcurrentRequests::Request> onePort(quint16 port, const QList<QByteArray> &targets)
{
    QList<ConcurrentRequests::Request> requests;
    for (const QByteArray &target : targets)
        requests.append({port, target});
    return requests;
}

ConcurrentRequests::ConcurrentRequests(quint16 port, const QList<QByteArray> &targets)
    : ConcurrentRequests(onePort(port, targets))
{
}

int ConcurrentRequests::finished() const
{
    return int(std::count_if(m_sockets.begin(), m_sockets.end(),
                             [](const auto &s) { return s->state() == QAbstractSocket::UnconnectedState; }));
}

QList<ServerProcess::Reply> ConcurrentRequests::wait(int timeoutMs, const std::function<void(int)> &polled)
{
    QElapsedTimer waited;
    waited.start();
    for (int done = finished(); done < int(m_sockets.size()) && waited.elapsed() < timeoutMs; done = finished()) {
        if (polled)
            polled(done);
        QTest::qWait(5);
    }
    QList<ServerProcess::Reply> replies;
    for (size_t i = 0; i < m_sockets.size(); ++i) {
        const QByteArray response = m_responses[qsizetype(i)] + m_sockets[i]->readAll();
        ServerProcess::Reply reply = ServerProcess::parse(response);
        reply.raw = response;
        reply.closed = m_sockets[i]->state() == QAbstractSocket::UnconnectedState;
        replies << reply;
    }
    return replies;
}

#include "server/GuardedTcpServer.h"

#include <QTcpSocket>
#include <QTimer>

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Unknown";
    }
}

QByteArray rawResponse(int status, const QByteArray &contentType, const QByteArray &body, bool close,
                       bool headOnly, const QByteArray &extraHeaders)
{
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    response += "Content-Type: " + contentType + "\r\n";
    response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    response += "X-Content-Type-Options: nosniff\r\n";
    response += extraHeaders;
    if (close)
        response += "Connection: close\r\n";
    response += "\r\n";
    if (!headOnly)
        response += body;
    return response;
}

namespace {

// Watches one connection's bytes as they arrive, before the HTTP server
// reads them: the head of each request is measured up to its blank line.
class RequestGuard : public QObject
{
public:
    RequestGuard(QTcpSocket *socket, const GuardedTcpServer::Limits &limits, GuardedTcpServer *server)
        : QObject(socket), m_socket(socket), m_limits(limits), m_server(server)
    {
        m_deadline.setSingleShot(true);
        m_deadline.setInterval(limits.idleMs);
        connect(&m_deadline, &QTimer::timeout, this, [this] { close(408, "no complete request in time"); });
        connect(socket, &QTcpSocket::readyRead, this, &RequestGuard::inspect);
        // Progress of an answer counts as activity: a slow database does not
        // close the connection of a waiting client.
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { m_deadline.start(); });
        m_deadline.start();
    }

private:
    void inspect()
    {
        if (m_closing) {
            m_socket->readAll();
            return;
        }
        const QByteArray data = m_socket->peek(m_socket->bytesAvailable());
        for (char c : data) {
            if (c == '\n') {
                if (m_lineLength == 0) {
                    // A blank line: the end of a head, or a stray line before one.
                    if (m_headBytes > 0) {
                        m_headBytes = 0;
                        m_lines = 0;
                        m_deadline.start();
                    }
                    continue;
                }
                ++m_lines;
                m_lineLength = 0;
            } else if (c != '\r') {
                ++m_lineLength;
            }
            if (++m_headBytes > m_limits.maxHeadBytes) {
                if (m_lines == 0)
                    close(414, "request line too long");
                else
                    close(431, "request head too large");
                return;
            }
        }
    }

    void close(int status, const char *reason)
    {
        m_closing = true;
        m_deadline.stop();
        m_socket->readAll();
        emit m_server->rejected(m_socket->peerAddress().toString(), QString::fromLatin1(reason));
        if (status != 408)
            m_socket->write(rawResponse(status, "text/plain; charset=utf-8", "ERROR", true));
        m_socket->disconnectFromHost();
        // A client that does not read its answer is not waited for long.
        QTimer::singleShot(2000, m_socket, [socket = m_socket] { socket->abort(); });
    }

    QTcpSocket *m_socket;
    GuardedTcpServer::Limits m_limits;
    GuardedTcpServer *m_server;
    QTimer m_deadline;
    int m_headBytes = 0;
    int m_lineLength = 0;
    int m_lines = 0;
    bool m_closing = false;
};

} // namespace

GuardedTcpServer::GuardedTcpServer(Limits limits, QObject *parent) : QTcpServer(parent), m_limits(limits)
{
}

void GuardedTcpServer::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    if (m_open >= m_limits.maxConnections) {
        emit rejected(socket->peerAddress().toString(), QStringLiteral("too many connections"));
        socket->write(rawResponse(503, "text/plain; charset=utf-8", "ERROR", true));
        socket->disconnectFromHost();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(2000, socket, [socket] { socket->abort(); socket->deleteLater(); });
        return;
    }
    ++m_open;
    connect(socket, &QObject::destroyed, this, [this] { --m_open; });
    // Connected before the HTTP server connects its own reader, so the guard
    // sees every byte first.
    new RequestGuard(socket, m_limits, this);
    // QTcpServer announces it with newConnection once this returns.
    addPendingConnection(socket);
}

#include "support/LoopbackHttpServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

// What a connection has received so far, until its request head is complete.
const char *const PendingProperty = "loopbackPending";

} // namespace

LoopbackHttpServer::LoopbackHttpServer(QObject *parent)
    : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::onNewConnection);
}

LoopbackHttpServer::~LoopbackHttpServer() = default;

bool LoopbackHttpServer::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 LoopbackHttpServer::port() const
{
    return m_server->serverPort();
}

QString LoopbackHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void LoopbackHttpServer::setMode(Mode mode, const QByteArray &body, int status)
{
    m_mode = mode;
    m_body = body;
    m_status = status;
    m_location.clear();
}

void LoopbackHttpServer::redirect(const QByteArray &location, const QByteArray &body)
{
    setMode(Mode::Answer, body, 302);
    m_location = location;
}

void LoopbackHttpServer::sendHuge(qint64 bytes)
{
    m_mode = Mode::Huge;
    m_hugeBytes = bytes;
    m_status = 200;
}

QList<QByteArray> LoopbackHttpServer::requestTargets() const
{
    QList<QByteArray> targets;
    for (const QByteArray &line : m_requestLines) {
        const QList<QByteArray> parts = line.split(' ');
        targets << (parts.size() >= 2 ? parts.at(1) : QByteArray());
    }
    return targets;
}

void LoopbackHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connections;
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        auto written = std::make_shared<qint64>(0);
        connect(socket, &QTcpSocket::bytesWritten, this, [written](qint64 n) { *written += n; });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket, written] {
            m_lastWritten = *written;
            socket->deleteLater();
        });
    }
}

void LoopbackHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray pending = socket->property(PendingProperty).toByteArray() + socket->readAll();
    const qsizetype headEnd = pending.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        socket->setProperty(PendingProperty, pending);
        return;
    }
    // One request per connection is all the game sends; the rest is ignored.
    socket->setProperty(PendingProperty, QByteArray());
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    const QByteArray line = pending.left(pending.indexOf("\r\n"));
    m_requestLines << line;
    const QList<QByteArray> parts = line.split(' ');
    emit requestReceived(parts.size() >= 2 ? parts.at(1) : QByteArray());
    respond(socket);
}

QByteArray LoopbackHttpServer::head(int status, qint64 length)
{
    QByteArray text = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n"
                      "Content-Type: text/plain\r\n";
    if (length >= 0)
        text += "Content-Length: " + QByteArray::number(length) + "\r\n";
    return text + "Connection: close\r\n\r\n";
}

void LoopbackHttpServer::respond(QTcpSocket *socket)
{
    const QByteArray chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    QByteArray chunks;
    for (const char byte : std::as_const(m_body))
        chunks += "1;ext=x\r\n" + QByteArray(1, byte) + "\r\n";

    switch (m_mode) {
    case Mode::NeverAnswer:
        return;
    case Mode::HangUp:
        break;
    case Mode::Answer: {
        QByteArray answerHead = head(m_status, m_body.size());
        if (!m_location.isEmpty())
            answerHead.insert(answerHead.size() - 2, "Location: " + m_location + "\r\n");
        socket->write(answerHead + m_body);
        break;
    }
    case Mode::Chunked:
        socket->write(chunkedHead + chunks + "0\r\n\r\n");
        break;
    case Mode::UntilClose:
        socket->write(head(m_status, -1) + m_body);
        break;
    case Mode::CloseHalfway:
        socket->write(head(m_status, m_body.size()) + m_body.left(m_body.size() / 2));
        break;
    case Mode::ChunkedCut:
        socket->write(chunkedHead + chunks);
        break;
    case Mode::Trickle: {
        socket->write(head(m_status, 1000));
        auto *timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [socket] { socket->write("x"); });
        timer->start(100);
        return;
    }
    case Mode::HostileChunk:
        // The size of the second chunk overflows any running total of the
        // body a reader keeps in a signed 64-bit count.
        socket->write(chunkedHead + "2\r\nOK\r\n7fffffffffffffff\r\n" + QByteArray(4096, 'x'));
        break;
    case Mode::Huge:
        socket->write(head(m_status, m_hugeBytes));
        socket->write(QByteArray(m_hugeBytes, 'A'));
        break;
    }
    // Closes once everything written has gone out.
    socket->disconnectFromHost();
}

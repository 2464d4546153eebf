#pragma once

#include <QTcpServer>

// The listening socket handed to the HTTP server. It holds the limits that
// the HTTP server does not hold by itself, before a byte reaches it: a cap on
// open connections, a cap on the size of a request head (414 for a request
// line, 431 for headers, then the connection is closed), and a deadline for
// a silent connection or a request head sent slowly, so that no client can
// hold the server.
class GuardedTcpServer : public QTcpServer
{
    Q_OBJECT

public:
    struct Limits
    {
        int maxConnections = 256;
        int maxHeadBytes = 8192;
        int idleMs = 10000;
    };

    explicit GuardedTcpServer(Limits limits, QObject *parent = nullptr);

    int openConnections() const { return m_open; }

signals:
    // A limit closed a connection: for the error log.
    void rejected(const QString &peer, const QString &reason);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    Limits m_limits;
    int m_open = 0;
};

// A response written straight to the socket, for the guard's own refusals
// and for every answer of the server: status line, the headers that this
// server always sends, and the body.
QByteArray rawResponse(int status, const QByteArray &contentType, const QByteArray &body, bool close,
                       bool headOnly = false, const QByteArray &extraHeaders = QByteArray());
QByteArray reasonPhrase(int status);

#pragma once

// A tiny HTTP server on 127.0.0.1 for the ranking-entry tests. It runs on the
// test's own thread (the client waits in a local event loop, which serves
// both), records the request line of every request it receives and answers
// in one of a few ways, well-behaved or not.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

class LoopbackHttpServer : public QObject
{
    Q_OBJECT

public:
    enum class Mode {
        Answer,       // status line, Content-Length, the whole body, close
        Chunked,      // the whole body in one-byte chunks, then the last chunk
        UntilClose,   // no length at all: the body ends where the line closes
        NeverAnswer,  // read the request, then say nothing and keep the line open
        HangUp,       // read the request, then close without a word
        CloseHalfway, // announce the whole body, send half of it, close
        ChunkedCut,   // chunked, but the line closes before the last chunk
        Trickle,      // announce a long body, then one byte every 100 ms
        Huge,         // announce and send a body of hugeBytes() bytes
        HostileChunk, // chunked: "OK", then a chunk of 2^63-1 bytes announced
    };

    explicit LoopbackHttpServer(QObject *parent = nullptr);
    ~LoopbackHttpServer() override;

    // Port 0 picks a free port. False when the port cannot be had.
    bool listen(quint16 port = 0);
    quint16 port() const;
    // "http://127.0.0.1:<port>", the form the game's ranking server takes.
    QString baseUrl() const;

    // Sets how the following requests are answered.
    void answer(const QByteArray &body, int status = 200) { setMode(Mode::Answer, body, status); }
    void answerChunked(const QByteArray &body) { setMode(Mode::Chunked, body); }
    void answerUntilClose(const QByteArray &body) { setMode(Mode::UntilClose, body); }
    void neverAnswer() { setMode(Mode::NeverAnswer); }
    void hangUp() { setMode(Mode::HangUp); }
    void closeHalfway(const QByteArray &body, int status = 200) { setMode(Mode::CloseHalfway, body, status); }
    void chunkedCut(const QByteArray &body) { setMode(Mode::ChunkedCut, body); }
    void trickle() { setMode(Mode::Trickle); }
    void hostileChunk() { setMode(Mode::HostileChunk); }
    // A 302 with this body and a Location header.
    void redirect(const QByteArray &location, const QByteArray &body);
    void sendHuge(qint64 bytes = 10 * 1024 * 1024);
    Mode mode() const { return m_mode; }
    qint64 hugeBytes() const { return m_hugeBytes; }

    // Every request line received, oldest first ("GET /path?query HTTP/1.1").
    QList<QByteArray> requestLines() const { return m_requestLines; }
    // The request targets alone: path and query exactly as sent.
    QList<QByteArray> requestTargets() const;
    // Connections accepted, whether or not they carried a request.
    int connections() const { return m_connections; }
    // Bytes that went out on the last connection that has closed: less than
    // the response means the client hung up before taking all of it.
    qint64 lastBytesWritten() const { return m_lastWritten; }

signals:
    void requestReceived(const QByteArray &target);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void setMode(Mode mode, const QByteArray &body = {}, int status = 200);
    void respond(QTcpSocket *socket);
    static QByteArray head(int status, qint64 length);

    QTcpServer *m_server;
    Mode m_mode = Mode::Answer;
    QByteArray m_body;
    int m_status = 200;
    QByteArray m_location;
    qint64 m_hugeBytes = 0;
    QList<QByteArray> m_requestLines;
    int m_connections = 0;
    qint64 m_lastWritten = 0;
};

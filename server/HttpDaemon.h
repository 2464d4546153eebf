#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

// One request as the handler sees it: what the client sent in its head, with
// the target exactly as it came on the wire.
struct HttpRequest
{
    QByteArray method;
    QByteArray version;
    // The request target undecoded, and split at its first '?'.
    QByteArray target;
    QByteArray path;
    QByteArray rawQuery;
    bool hasQuery = false;
    // The peer of the connection (a proxy's address when behind one).
    QHostAddress peer;
    QList<std::pair<QByteArray, QByteArray>> headers;
    // The request announced a body (Content-Length above 0 or Transfer-Encoding).
    bool announcesBody = false;

    // The first value of a header, matched without regard to case; null if absent.
    QByteArray header(QByteArrayView name) const;
    // Every value of a header, in the order of its lines.
    QList<QByteArray> headerValues(QByteArrayView name) const;
    // Sets the target as it came and its path and query; of an absolute
    // target ("http://host/path?query") the path and query.
    void setTarget(const QByteArray &raw);
};

struct HttpAnswer
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    // Extra header lines, each "Name: value" without the line end.
    QList<QByteArray> headers;
    // Close the connection once this answer is sent.
    bool close = false;
    // A page that may be kept by browsers and proxies: see negotiate() in
    // HttpCaching.h; its gzip copy and tag when they were made beforehand.
    bool cacheable = false;
    QByteArray gzipped;
    QByteArray etag;
};

// Answers a request, now or later and from any thread, exactly once.
using HttpReply = std::function<void(HttpAnswer)>;

// The server's request handler: called on the HTTP thread for each request
// once its head is complete, one request at a time per connection.
class HttpHandler
{
public:
    virtual ~HttpHandler() = default;
    virtual void handle(const HttpRequest &request, HttpReply reply) = 0;
    // Once each answer has been sent, or cut short (the client stopped
    // reading or went away), for the access log. Answers that the HTTP
    // library gives itself come here too, with what is known of their
    // request: no method nor protocol, and the status alone.
    virtual void answered(const HttpRequest &request, const HttpAnswer &answer, qint64 bytes, bool cut) = 0;
};

// The HTTP layer: libmicrohttpd on a thread of its own, with every limit
// set once at start. Per connection one request at a time, answered in
// order; an answer that waits (on the database) suspends its connection,
// which reads nothing more until the answer has been sent. A client cannot
// grow the server's memory beyond the per-connection pool, hold more than
// its share of connections, or take longer than the idle time to send a
// request head.
class HttpDaemon
{
public:
    struct Limits
    {
        // Open connections at most; past this, connections get 503 and are closed.
        int maxConnections = 256;
        // Open connections from one address at most (trusted proxies excepted);
        // past this, connections are closed at once.
        int maxPerAddress = 16;
        // Seconds a connection may take to send a request head, and may stay
        // without progress (the client reading nothing) while an answer is sent.
        int idleSeconds = 10;
        // Bytes of one request head at most (414 for the request line, 431 for headers).
        int maxHeadBytes = 8192;
        // Addresses whose connections are not counted per address.
        QList<QHostAddress> exempt;
        // Connections refused per address are told once per this interval, as a count.
        int refusalReportMs = 60000;
    };

    HttpDaemon(Limits limits, HttpHandler *handler);
    ~HttpDaemon();
    HttpDaemon(const HttpDaemon &) = delete;
    HttpDaemon &operator=(const HttpDaemon &) = delete;

    // Binds and starts serving; false with a message otherwise.
    bool start(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const;
    int openConnections() const;
    // Stops accepting new connections; those open are served on.
    void stopListening();
    // Closes every connection and ends the thread.
    void stop();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

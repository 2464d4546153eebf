#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Our internet transfer object: fetches an http URL with one GET and hands
// back the response body, nothing else. It holds the design values that the
// entry window was drawn with (HTTP, port 80, URL "http://", 60 s).
//
// OpenURL waits in a local event loop rather than blocking the thread, so the
// windows keep repainting while the caller keeps its own window disabled; the
// modal chain keeps the windows underneath from taking input.
//
// The GET goes through libcurl on a handle of its own per request, never
// reusing a connection: QNetworkAccessManager resends a request by itself
// when the server drops the connection before answering, and an entry must
// never reach the ranking twice. Proxies are taken from the environment as
// curl reads it (http_proxy, all_proxy, no_proxy).
class Inet
{
public:
    enum class Protocol { HTTP };

    // Bodies longer than this are no answer word: the transfer is abandoned
    // rather than read into memory.
    static constexpr qsizetype MaxBodyBytes = 64 * 1024;

    Protocol protocol() const { return m_protocol; }
    // The port of a URL without one; a port written in the URL wins.
    int remotePort() const { return m_remotePort; }
    // The URL of the last request ("http://" until the first).
    QString url() const { return m_url; }
    // How long one request may take, from connecting to the last byte.
    int requestTimeoutMs() const { return m_requestTimeoutMs; }
    void setRequestTimeoutMs(int ms) { m_requestTimeoutMs = ms; }

    // One GET of url, never retried, redirects not followed. url is the
    // encoded form, "http://host[:port]/path?query"; path and query go out
    // byte for byte as given. The body when a complete response arrived,
    // whatever its status (an error page is simply no answer word); nullopt
    // otherwise: a URL that is not http, no connection, time-out, a
    // connection lost before the end of the body, or a body longer than
    // MaxBodyBytes. The head serves only to find the end of the body.
    std::optional<QByteArray> OpenURL(const QByteArray &url);

private:
    Protocol m_protocol = Protocol::HTTP;
    int m_remotePort = 80;
    QString m_url = QStringLiteral("http://");
    int m_requestTimeoutMs = 60000;
};

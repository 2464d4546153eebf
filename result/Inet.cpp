#include "result/Inet.h"

#include "result/CurlLibrary.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QUrl>

#include <memory>
#include <thread>

namespace {

// The body as it arrives, up to the cap; past it the transfer is stopped.
struct Body
{
    QByteArray bytes;
    qsizetype cap = 0;
    bool overflowed = false;
};

size_t keepBody(char *data, size_t size, size_t count, void *userData)
{
    auto *body = static_cast<Body *>(userData);
    const size_t bytes = size * count;
    if (bytes > size_t(body->cap - body->bytes.size())) {
        body->overflowed = true;
        return 0; // curl ends the transfer with CURLE_WRITE_ERROR
    }
    body->bytes.append(data, qsizetype(bytes));
    return bytes;
}

// One GET on a handle of its own, so that no connection is reused and curl
// has nothing to resend a request on. Blocks; run off the window's thread.
// port 0 keeps the port of the URL.
std::optional<QByteArray> perform(const CurlLibrary &lib, const QByteArray &url, int port, int timeoutMs,
                                  qsizetype cap)
{
    const std::unique_ptr<CURL, CurlLibrary::EasyCleanup> handle(lib.easyInit(), lib.easyCleanup);
    if (!handle)
        return std::nullopt;
    CURL *curl = handle.get();
    Body body{{}, cap, false};
    curl_slist *headers = lib.slistAppend(nullptr, "Connection: close");
    const std::unique_ptr<curl_slist, CurlLibrary::SlistFreeAll> headerList(headers, lib.slistFreeAll);

    lib.easySetopt(curl, CURLOPT_URL, url.constData());
    if (port > 0)
        lib.easySetopt(curl, CURLOPT_PORT, long(port));
    lib.easySetopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    lib.easySetopt(curl, CURLOPT_HTTPGET, 1L);
    lib.easySetopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    // The path and query go out as built: no "/../" squashing.
    lib.easySetopt(curl, CURLOPT_PATH_AS_IS, 1L);
    lib.easySetopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    lib.easySetopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    lib.easySetopt(curl, CURLOPT_FORBID_REUSE, 1L);
    // The whole request, connecting and name lookup included, within the
    // time-out, so neither a silent server nor a trickling one holds it.
    lib.easySetopt(curl, CURLOPT_TIMEOUT_MS, long(timeoutMs));
    lib.easySetopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(timeoutMs));
    lib.easySetopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib.easySetopt(curl, CURLOPT_USERAGENT, "Tovrika/1.00");
    lib.easySetopt(curl, CURLOPT_HTTPHEADER, headers);
    lib.easySetopt(curl, CURLOPT_WRITEFUNCTION, &keepBody);
    lib.easySetopt(curl, CURLOPT_WRITEDATA, &body);
    // Proxies come from the environment as curl reads it (http_proxy,
    // all_proxy, no_proxy); for an http URL the proxy is sent the request
    // itself, never asked for a tunnel.
    lib.easySetopt(curl, CURLOPT_HTTPPROXYTUNNEL, 0L);

    // A complete response under any status is the answer: only the body is
    // judged. A connection lost before the end of the body is no answer.
    if (lib.easyPerform(curl) != CURLE_OK || body.overflowed)
        return std::nullopt;
    return body.bytes;
}

} // namespace

std::optional<QByteArray> Inet::OpenURL(const QByteArray &url)
{
    m_url = QString::fromLatin1(url);

    const QUrl parsed = QUrl::fromEncoded(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme() != QLatin1String("http") || parsed.host().isEmpty())
        return std::nullopt;
    QByteArray target = url;
    if (const qsizetype fragment = target.indexOf('#'); fragment >= 0)
        target.truncate(fragment);
    // The design port stands in for a URL without one.
    const int port = parsed.port() < 0 ? m_remotePort : 0;

    // Loaded here on the window's thread, the first time an entry is sent.
    const CurlLibrary &lib = CurlLibrary::system();
    if (!lib.ok()) {
        qWarning("ranking entry: %s", qPrintable(lib.error()));
        return std::nullopt;
    }

    // The transfer blocks a worker thread; this one waits in a local event
    // loop, so the windows keep repainting while the caller keeps its own
    // window disabled.
    std::optional<QByteArray> result;
    QEventLoop loop;
    std::thread worker([&] {
        result = perform(lib, target, port, m_requestTimeoutMs, MaxBodyBytes);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return result;
}

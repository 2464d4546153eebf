#include "result/Inet.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QUrl>

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <thread>

namespace {

struct CurlDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};

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
std::optional<QByteArray> perform(const QByteArray &url, int port, int timeoutMs, qsizetype cap)
{
    const std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
    if (!handle)
        return std::nullopt;
    CURL *curl = handle.get();
    Body body{{}, cap, false};
    curl_slist *headers = curl_slist_append(nullptr, "Connection: close");
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers, &curl_slist_free_all);

    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    if (port > 0)
        curl_easy_setopt(curl, CURLOPT_PORT, long(port));
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    // The path and query go out as built: no "/../" squashing.
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    // The whole request, connecting and name lookup included, within the
    // time-out, so neither a silent server nor a trickling one holds it.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Tovrika/1.00");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &keepBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    // Proxies come from the environment as curl reads it (http_proxy,
    // all_proxy, no_proxy); for an http URL the proxy is sent the request
    // itself, never asked for a tunnel.
    curl_easy_setopt(curl, CURLOPT_HTTPPROXYTUNNEL, 0L);

    // A complete response under any status is the answer: only the body is
    // judged. A connection lost before the end of the body is no answer.
    if (curl_easy_perform(curl) != CURLE_OK || body.overflowed)
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

    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    // The transfer blocks a worker thread; this one waits in a local event
    // loop, so the windows keep repainting while the caller keeps its own
    // window disabled.
    std::optional<QByteArray> result;
    QEventLoop loop;
    std::thread worker([&] {
        result = perform(target, port, m_requestTimeoutMs, MaxBodyBytes);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return result;
}

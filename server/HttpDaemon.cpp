#include "server/HttpDaemon.h"

#include "server/HttpRules.h"

#include <QHash>
#include <QSet>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <linux/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <unordered_set>

namespace {

qint64 monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

QHostAddress addressOf(const sockaddr *address)
{
    return address ? normalAddress(QHostAddress(address)) : QHostAddress();
}

// The bytes of what this server sent that the client's side has taken in:
// while it grows, a slow reader is still reading.
quint64 bytesAcked(int fd)
{
    tcp_info info{};
    socklen_t length = sizeof info;
    if (fd < 0 || ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return 0;
    return info.tcpi_bytes_acked;
}

// The pool records each header line and query argument in a few dozen bytes.
// Room for this many is far beyond any browser's or game's request. A head of
// thousands of bare keys ("a&a&a...") fills the pool: the library gives up
// with 431 (logged) and closes the connection, having no room left to send
// it. The pool is not made big enough for those because the library clears
// all of it after every request on a kept-alive connection: at 282 KB that
// was a fifth of the server's time serving the compressed page.
constexpr size_t ArgumentRecordBytes = 64;
constexpr size_t MaxRecords = 256;

// A header name as HTTP defines it: one token, nothing else.
bool isToken(const QByteArray &name)
{
    static constexpr char Allowed[] = "!#$%&'*+-.^_`|~";
    if (name.isEmpty())
        return false;
    for (char c : name) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && !std::strchr(Allowed, c))
            return false;
    }
    return true;
}

// Connections beyond the cap are still accepted, up to this many more, so
// that they can be told 503 instead of being cut off without a word.
constexpr int OverflowReserve = 64;
// The loop's longest sleep: how late a head deadline may be noticed.
constexpr int LoopMs = 100;

} // namespace

QByteArray HttpRequest::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

QList<QByteArray> HttpRequest::headerValues(QByteArrayView name) const
{
    QList<QByteArray> values;
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            values.append(value);
    }
    return values;
}

void HttpRequest::setTarget(const QByteArray &raw)
{
    target = raw;
    QByteArray local = raw;
    // The absolute form, which a server must accept: its path is what counts.
    for (QByteArrayView scheme : {QByteArrayView("http://"), QByteArrayView("https://")}) {
        if (QByteArrayView(local).first(qMin(local.size(), scheme.size())).compare(scheme, Qt::CaseInsensitive) == 0) {
            const qsizetype end = local.indexOf('/', scheme.size());
            const qsizetype question = local.indexOf('?', scheme.size());
            const qsizetype start = end >= 0 && (question < 0 || end < question) ? end : question;
            local = start < 0 ? QByteArray("/") : start == question ? "/" + local.mid(start) : local.mid(start);
            break;
        }
    }
    const qsizetype question = local.indexOf('?');
    hasQuery = question >= 0;
    path = hasQuery ? local.left(question) : local;
    rawQuery = hasQuery ? local.mid(question + 1) : QByteArray();
}

// What a connection's state is while it is open: kept in its socket context.
struct Connection
{
    MHD_Connection *connection = nullptr;
    int fd = -1;
    QHostAddress peer;
    bool counted = false;
    // Beyond the cap: every request is answered 503 and the connection closed.
    bool overflow = false;
    // A request head is complete and its answer not yet sent.
    bool inRequest = false;
    // When the head now awaited began: the connection's start or the last answer's end.
    qint64 headStartMs = 0;
    // When the answer now being sent last made progress (queued, or more of
    // it taken in by the client); 0 while none is being sent.
    qint64 answerProgressMs = 0;
    quint64 ackedAtProgress = 0;
    quint64 ackedAtQueue = 0;
    bool cut = false;
    // The request whose head is being read, until the library completes it;
    // one it never completes is one it answered itself.
    struct RequestState *current = nullptr;
    bool anyRequest = false;
};

// The part of a request that an answer from another thread touches. The
// request itself may be gone by then (the connection closed at shutdown),
// so both hold it and the mutex says who is first.
struct Pending
{
    std::mutex mutex;
    MHD_Connection *connection = nullptr;
    bool suspended = false;
    bool ready = false;
    bool gone = false;
    HttpAnswer answer;
};

struct RequestState
{
    HttpRequest request;
    bool started = false;
    bool handled = false;
    bool queued = false;
    // What was queued, for the access log once it is sent.
    HttpAnswer sent;
    qint64 bodyBytes = 0;
    std::shared_ptr<Pending> pending = std::make_shared<Pending>();
};

struct HttpDaemon::Private
{
    Limits limits;
    HttpHandler *handler = nullptr;
    MHD_Daemon *daemon = nullptr;
    std::thread loop;
    std::atomic<bool> running{false};
    std::atomic<bool> quiesce{false};
    std::atomic<int> open{0};
    quint16 port = 0;
    // Touched on the loop thread only.
    QHash<QByteArray, int> perAddress;
    QSet<Connection *> connections;
    // The status of the last answer the library gave itself, from its own
    // message; its connection closes next.
    int libraryStatus = 0;
    // Connections refused since the last report, per address.
    QHash<QByteArray, int> refused;
    qint64 refusalReportedMs = 0;
    // The last big answers made, kept to be queued again as they are: the
    // same page goes to every visitor until it changes, and building its
    // response and headers anew each time was a tenth of this thread.
    struct KeptResponse
    {
        HttpAnswer answer;
        MHD_Response *response = nullptr;
        quint64 lastUse = 0;
    };
    std::array<KeptResponse, 2> kept;
    quint64 uses = 0;
    MHD_Response *keptResponse(const HttpAnswer &answer);
    bool keep(const HttpAnswer &answer, MHD_Response *response);
    // Requests that wait for an answer from another thread.
    std::mutex pendingMutex;
    std::unordered_set<std::shared_ptr<Pending>> waiting;

    bool isExempt(const QHostAddress &address) const
    {
        for (const QHostAddress &exempt : limits.exempt) {
            if (exempt.isEqual(address, QHostAddress::TolerantConversion))
                return true;
        }
        return false;
    }

    static QByteArray addressKey(const QHostAddress &address) { return normalAddress(address).toString().toLatin1(); }

    void run();
    void sweep();
    void reportRefusals();
    // The library's own wait does not end for a resumed connection; this
    // does. An answer from another thread may come as the server stops: the
    // descriptor is closed under the same lock, never written after.
    void wake()
    {
        const std::uint64_t one = 1;
        std::lock_guard lock(wakeMutex);
        if (wakeFd >= 0)
            [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    }
    std::mutex wakeMutex;
    int wakeFd = -1;
    int epollFd = -1;
    MHD_Result respond(MHD_Connection *connection, RequestState *state, const HttpAnswer &answer);

    static MHD_Result accept(void *cls, const sockaddr *address, socklen_t);
    static void notifyConnection(void *cls, MHD_Connection *connection, void **socketContext,
                                 MHD_ConnectionNotificationCode code);
    static void *uriLog(void *cls, const char *uri, MHD_Connection *connection);
    void logLibraryAnswer(Connection *socket, RequestState *state, MHD_Connection *connection);
    static MHD_Result access(void *cls, MHD_Connection *connection, const char *url, const char *method,
                             const char *version, const char *uploadData, size_t *uploadDataSize, void **context);
    static void completed(void *cls, MHD_Connection *connection, void **context, MHD_RequestTerminationCode code);
    static void log(void *cls, const char *format, va_list arguments);
};

MHD_Result HttpDaemon::Private::accept(void *cls, const sockaddr *address, socklen_t)
{
    auto *self = static_cast<Private *>(cls);
    const QHostAddress peer = addressOf(address);
    if (self->isExempt(peer))
        return MHD_YES;
    const QByteArray key = addressKey(peer);
    if (self->perAddress.value(key) >= self->limits.maxPerAddress) {
        // Counted and told once per interval: a flood must not become one
        // line on standard error per connection.
        ++self->refused[key];
        return MHD_NO;
    }
    return MHD_YES;
}

void HttpDaemon::Private::notifyConnection(void *cls, MHD_Connection *connection, void **socketContext,
                                           MHD_ConnectionNotificationCode code)
{
    auto *self = static_cast<Private *>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto *state = new Connection;
        state->connection = connection;
        if (const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
            state->fd = info->connect_fd;
        if (const MHD_ConnectionInfo *info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
            state->peer = addressOf(info->client_addr);
        state->headStartMs = monotonicMs();
        state->counted = !self->isExempt(state->peer);
        if (state->counted)
            ++self->perAddress[addressKey(state->peer)];
        state->overflow = self->open.load() >= self->limits.maxConnections;
        if (!state->overflow)
            ++self->open;
        self->connections.insert(state);
        *socketContext = state;
        return;
    }
    auto *state = static_cast<Connection *>(*socketContext);
    if (!state)
        return;
    if (state->current || !state->anyRequest)
        self->logLibraryAnswer(state, state->current, connection);
    delete state->current;
    if (state->counted) {
        const QByteArray key = addressKey(state->peer);
        if (--self->perAddress[key] <= 0)
            self->perAddress.remove(key);
    }
    if (!state->overflow)
        --self->open;
    self->connections.remove(state);
    delete state;
    *socketContext = nullptr;
}

void *HttpDaemon::Private::uriLog(void *, const char *uri, MHD_Connection *connection)
{
    auto *state = new RequestState;
    state->request.target = QByteArray(uri);
    if (const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)) {
        if (auto *socket = static_cast<Connection *>(info->socket_context)) {
            delete socket->current;
            socket->current = state;
            socket->anyRequest = true;
        }
    }
    return state;
}

// An answer the library gave itself (a version it does not speak, a head
// it cannot parse): logged with the status it told, and the target when it
// had read one. An HTTP/0.9 line never reaches the target's callback.
void HttpDaemon::Private::logLibraryAnswer(Connection *socket, RequestState *state, MHD_Connection *connection)
{
    int status = std::exchange(libraryStatus, 0);
    if (const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS))
        status = info->http_status != 0 ? int(info->http_status) : status;
    if (status == 0)
        return;
    HttpRequest request = state ? state->request : HttpRequest();
    if (request.target.isEmpty())
        request.target = "-";
    request.peer = socket->peer;
    HttpAnswer answer;
    answer.status = status;
    handler->answered(request, answer, 0, false);
}

MHD_Result HttpDaemon::Private::respond(MHD_Connection *connection, RequestState *state, const HttpAnswer &answer)
{
    state->queued = true;
    if (const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)) {
        if (auto *socket = static_cast<Connection *>(info->socket_context)) {
            socket->answerProgressMs = monotonicMs();
            socket->ackedAtQueue = socket->ackedAtProgress = bytesAcked(socket->fd);
        }
    }
    MHD_Response *response = keptResponse(answer);
    bool keptHere = response != nullptr;
    if (!response) {
        // The response holds a share of the body's bytes instead of a copy: a
        // kept page goes out as it is kept.
        auto *body = new QByteArray(answer.body);
        response = MHD_create_response_from_buffer_with_free_callback_cls(
            size_t(body->size()), const_cast<char *>(body->constData()),
            [](void *bytes) { delete static_cast<QByteArray *>(bytes); }, body);
        if (!response) {
            delete body;
            return MHD_NO;
        }
        if (!answer.contentType.isEmpty())
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.constData());
        MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
        for (const QByteArray &line : answer.headers) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                MHD_add_response_header(response, line.left(colon).constData(),
                                        line.mid(colon + 1).trimmed().constData());
        }
        if (answer.close)
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
        keptHere = keep(answer, response);
    }
    const MHD_Result queued = MHD_queue_response(connection, unsigned(answer.status), response);
    if (!keptHere)
        MHD_destroy_response(response);
    if (queued != MHD_YES) {
        // The library closes the connection: the answer is logged as cut.
        std::fprintf(stderr, "tovrika-ranking: %s: cannot queue an answer %d\n",
                     qPrintable(state->request.peer.toString()), answer.status);
        return MHD_NO;
    }
    state->sent = HttpAnswer{answer.status, answer.contentType, {}, answer.headers, answer.close, false, {}, {}};
    state->bodyBytes = state->request.method == "HEAD" ? 0 : answer.body.size();
    return MHD_YES;
}

// Only a big answer that keeps its connection open is worth keeping, and it
// is the same answer only when it shares the very bytes of the kept one.
bool worthKeeping(const HttpAnswer &answer)
{
    return !answer.close && answer.body.size() >= 1024;
}

MHD_Response *HttpDaemon::Private::keptResponse(const HttpAnswer &answer)
{
    if (!worthKeeping(answer))
        return nullptr;
    for (KeptResponse &slot : kept) {
        const HttpAnswer &was = slot.answer;
        if (slot.response && answer.body.isSharedWith(was.body) && answer.body.size() == was.body.size()
            && answer.status == was.status && answer.contentType == was.contentType && answer.headers == was.headers) {
            slot.lastUse = ++uses;
            return slot.response;
        }
    }
    return nullptr;
}

// Takes the creator's reference to the response when it keeps it; a queue
// holds one of its own while it sends.
bool HttpDaemon::Private::keep(const HttpAnswer &answer, MHD_Response *response)
{
    if (!worthKeeping(answer))
        return false;
    KeptResponse &slot = *std::min_element(kept.begin(), kept.end(), [](const auto &a, const auto &b) {
        return a.lastUse < b.lastUse;
    });
    if (slot.response)
        MHD_destroy_response(slot.response);
    slot.answer = HttpAnswer{answer.status, answer.contentType, answer.body, answer.headers, false, false, {}, {}};
    slot.response = response;
    slot.lastUse = ++uses;
    return true;
}

MHD_Result HttpDaemon::Private::access(void *cls, MHD_Connection *connection, const char *url, const char *method,
                                       const char *version, const char *, size_t *uploadDataSize, void **context)
{
    auto *self = static_cast<Private *>(cls);
    auto *state = static_cast<RequestState *>(*context);
    if (!state) {
        state = static_cast<RequestState *>(uriLog(cls, url, connection));
        *context = state;
    }
    // A body is never read: the answer to a request with one closes the
    // connection, so nothing sent after it is taken for a request.
    if (*uploadDataSize > 0) {
        *uploadDataSize = 0;
        return MHD_YES;
    }
    if (!state->started) {
        // The head is complete. The answer is queued from a later call: the
        // library closes a connection whose answer is queued in this first
        // one, which is what a request with a body gets.
        state->started = true;
        const MHD_ConnectionInfo *socketInfo = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        auto *socket = socketInfo ? static_cast<Connection *>(socketInfo->socket_context) : nullptr;
        HttpRequest &request = state->request;
        request.method = method;
        request.version = version;
        request.setTarget(request.target);
        MHD_get_connection_values(
            connection, MHD_HEADER_KIND,
            [](void *list, MHD_ValueKind, const char *key, const char *value) {
                static_cast<HttpRequest *>(list)->headers.append({QByteArray(key), QByteArray(value ? value : "")});
                return MHD_YES;
            },
            &request);
        const QByteArray length = request.header("Content-Length").trimmed();
        request.announcesBody = !request.header("Transfer-Encoding").isNull() || (!length.isNull() && length != "0");
        qsizetype headerBytes = 0;
        const char *fault = requestFault(request);
        for (const auto &[key, value] : std::as_const(request.headers)) {
            headerBytes += key.size() + value.size() + 4;
            // Whitespace before a header's colon, among others.
            if (!isToken(key))
                fault = "malformed header name";
        }
        const char *tooLarge = request.target.size() > self->limits.maxHeadBytes ? "request line too long"
                               : request.target.size() + headerBytes > self->limits.maxHeadBytes
                                   ? "request head too large"
                                   : nullptr;
        if (!socket)
            return MHD_NO;
        {
            socket->inRequest = true;
            request.peer = socket->peer;
            if (tooLarge) {
                std::fprintf(stderr, "tovrika-ranking: %s: connection closed: %s\n",
                             qPrintable(socket->peer.toString()), tooLarge);
                const int status = request.target.size() > self->limits.maxHeadBytes ? 414 : 431;
                return self->respond(connection, state,
                                     HttpAnswer{status, "text/plain; charset=utf-8", "ERROR", {}, true, false, {}, {}});
            }
            if (fault) {
                // HTTP requires a 400: a proxy and this server could read
                // different requests from such a head.
                std::fprintf(stderr, "tovrika-ranking: %s: connection closed: %s\n",
                             qPrintable(socket->peer.toString()), fault);
                return self->respond(connection, state,
                                     HttpAnswer{400, "text/plain; charset=utf-8", "ERROR", {}, true, false, {}, {}});
            }
            if (socket->overflow) {
                std::fprintf(stderr, "tovrika-ranking: %s: connection closed: too many connections\n",
                             qPrintable(socket->peer.toString()));
                return self->respond(connection, state, HttpAnswer{503, "text/plain; charset=utf-8", "ERROR", {}, true, false, {}, {}});
            }
        }
        if (!request.announcesBody)
            return MHD_YES;
    }
    if (!state->handled) {
        state->handled = true;
        std::shared_ptr<Pending> pending = state->pending;
        pending->connection = connection;
        self->handler->handle(state->request, [self, pending](HttpAnswer answer) {
            {
                std::lock_guard lock(pending->mutex);
                if (pending->ready || pending->gone)
                    return;
                pending->answer = std::move(answer);
                pending->ready = true;
                if (!pending->suspended)
                    return;
                MHD_resume_connection(pending->connection);
            }
            self->wake();
            std::lock_guard waitingLock(self->pendingMutex);
            self->waiting.erase(pending);
        });
        std::lock_guard lock(pending->mutex);
        if (!pending->ready) {
            pending->suspended = true;
            {
                std::lock_guard waitingLock(self->pendingMutex);
                self->waiting.insert(pending);
            }
            MHD_suspend_connection(connection);
            return MHD_YES;
        }
    }
    if (state->queued)
        return MHD_YES;
    std::lock_guard lock(state->pending->mutex);
    if (!state->pending->ready)
        return MHD_YES;
    return self->respond(connection, state, state->pending->answer);
}

void HttpDaemon::Private::completed(void *cls, MHD_Connection *connection, void **context,
                                    MHD_RequestTerminationCode code)
{
    auto *self = static_cast<Private *>(cls);
    auto *state = static_cast<RequestState *>(*context);
    Connection *socket = nullptr;
    if (const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT))
        socket = static_cast<Connection *>(info->socket_context);
    if (state) {
        {
            std::lock_guard lock(state->pending->mutex);
            state->pending->gone = true;
        }
        const bool whole = code == MHD_REQUEST_TERMINATED_COMPLETED_OK;
        if (state->queued && state->sent.status != 0) {
            qint64 bytes = state->bodyBytes;
            if (!whole && socket) {
                // As much as the client took in, head included: no more is known.
                const quint64 acked = qMax(bytesAcked(socket->fd), socket->ackedAtProgress) - socket->ackedAtQueue;
                bytes = qMin(bytes, qint64(acked));
            }
            self->handler->answered(state->request, state->sent, bytes, !whole);
        } else if (!state->queued) {
            // Answered by the library itself (a pool that ran out, a version
            // it does not speak): the status is all it tells.
            const MHD_ConnectionInfo *status = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS);
            if (status && status->http_status != 0) {
                if (socket)
                    state->request.peer = socket->peer;
                HttpAnswer answer;
                answer.status = int(status->http_status);
                self->handler->answered(state->request, answer, 0, !whole);
            }
        }
    }
    delete state;
    *context = nullptr;
    if (socket) {
        socket->current = nullptr;
        socket->inRequest = false;
        socket->answerProgressMs = 0;
        socket->headStartMs = monotonicMs();
    }
}

void HttpDaemon::Private::log(void *cls, const char *format, va_list arguments)
{
    char message[512];
    std::vsnprintf(message, sizeof message, format, arguments);
    QByteArray line(message);
    const qsizetype code = line.indexOf("HTTP response code is ");
    if (code >= 0)
        static_cast<Private *>(cls)->libraryStatus = line.mid(code + 22, 3).toInt();
    std::fprintf(stderr, "tovrika-ranking: http: %s\n", line.trimmed().constData());
}

// Two kinds of client would hold a connection for good: one that sends its
// head a byte at a time, never idle, and one that never reads its answers.
// Either is cut once it has taken longer than the idle time, on this
// thread, where the library closes its sockets, so the descriptor is still
// the connection's own. Silent connections are left to the library's own
// idle time-out, a second earlier.
void HttpDaemon::Private::sweep()
{
    const qint64 now = monotonicMs();
    const qint64 limitMs = qint64(limits.idleSeconds) * 1000 + 1000;
    for (Connection *connection : std::as_const(connections)) {
        if (connection->cut)
            continue;
        const char *reason = nullptr;
        if (!connection->inRequest && now - connection->headStartMs >= limitMs)
            reason = "no complete request head";
        else if (connection->answerProgressMs > 0) {
            const quint64 acked = bytesAcked(connection->fd);
            if (acked != connection->ackedAtProgress) {
                connection->ackedAtProgress = acked;
                connection->answerProgressMs = now;
                // The library's own idle time counts from its last send, and a
                // full socket that drains slowly is long not writable: what the
                // client takes in renews it too (a time-out set anew after none
                // starts afresh).
                MHD_set_connection_option(connection->connection, MHD_CONNECTION_OPTION_TIMEOUT, 0u);
                MHD_set_connection_option(connection->connection, MHD_CONNECTION_OPTION_TIMEOUT,
                                          unsigned(limits.idleSeconds));
            } else if (now - connection->answerProgressMs >= limitMs) {
                reason = "answer not read";
            }
        }
        if (!reason)
            continue;
        connection->cut = true;
        std::fprintf(stderr, "tovrika-ranking: %s: connection closed: %s in %d s\n",
                     qPrintable(connection->peer.toString()), reason, limits.idleSeconds);
        ::shutdown(connection->fd, SHUT_RDWR);
    }
    if (now - refusalReportedMs >= limits.refusalReportMs)
        reportRefusals();
}

void HttpDaemon::Private::reportRefusals()
{
    refusalReportedMs = monotonicMs();
    for (auto it = refused.cbegin(); it != refused.cend(); ++it)
        std::fprintf(stderr, "tovrika-ranking: %s: %d connections refused: more than %d connections from this address\n",
                     it.key().constData(), it.value(), limits.maxPerAddress);
    refused.clear();
}

void HttpDaemon::Private::run()
{
    while (running.load()) {
        if (quiesce.exchange(false)) {
            const MHD_socket listening = MHD_quiesce_daemon(daemon);
            if (listening != MHD_INVALID_SOCKET)
                ::close(listening);
        }
        MHD_UNSIGNED_LONG_LONG timeout = LoopMs;
        if (MHD_get_timeout(daemon, &timeout) != MHD_YES || timeout > LoopMs)
            timeout = LoopMs;
        pollfd watched[2] = {{epollFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        ::poll(watched, 2, int(timeout));
        if (watched[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(wakeFd, &count, sizeof count);
        }
        MHD_run(daemon);
        sweep();
    }
}

HttpDaemon::HttpDaemon(Limits limits, HttpHandler *handler) : d(std::make_unique<Private>())
{
    d->limits = std::move(limits);
    d->handler = handler;
}

HttpDaemon::~HttpDaemon() { stop(); }

bool HttpDaemon::start(const QHostAddress &address, quint16 port, QString *error)
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    unsigned int flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, bytes.c, sizeof bytes.c);
        length = sizeof *v6;
        flags |= MHD_USE_IPv6;
    } else {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&storage);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *v4;
    }
    Q_UNUSED(length);
    // The request head, the answer's headers and the library's own records
    // share the connection's pool: room for a head at the limit, so that this
    // server measures it, and for MaxRecords of its lines and arguments.
    const size_t pool = size_t(d->limits.maxHeadBytes) * 2 + 4096 + MaxRecords * ArgumentRecordBytes;
    d->daemon = MHD_start_daemon(
        flags, port, &Private::accept, d.get(), &Private::access, d.get(),
        MHD_OPTION_EXTERNAL_LOGGER, &Private::log, d.get(),
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr *>(&storage),
        MHD_OPTION_CONNECTION_LIMIT, unsigned(d->limits.maxConnections + OverflowReserve),
        MHD_OPTION_CONNECTION_TIMEOUT, unsigned(d->limits.idleSeconds),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, pool,
        MHD_OPTION_CONNECTION_MEMORY_INCREMENT, size_t(1024),
        MHD_OPTION_STRICT_FOR_CLIENT, 0,
        MHD_OPTION_NOTIFY_CONNECTION, &Private::notifyConnection, d.get(),
        MHD_OPTION_URI_LOG_CALLBACK, &Private::uriLog, d.get(),
        MHD_OPTION_NOTIFY_COMPLETED, &Private::completed, d.get(),
        MHD_OPTION_END);
    if (!d->daemon) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (const MHD_DaemonInfo *info = MHD_get_daemon_info(d->daemon, MHD_DAEMON_INFO_BIND_PORT))
        d->port = info->port;
    if (const MHD_DaemonInfo *info = MHD_get_daemon_info(d->daemon, MHD_DAEMON_INFO_EPOLL_FD))
        d->epollFd = info->epoll_fd;
    d->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d->wakeFd < 0 || d->epollFd < 0) {
        *error = QStringLiteral("cannot make the HTTP loop's event descriptor: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        MHD_stop_daemon(d->daemon);
        d->daemon = nullptr;
        return false;
    }
    d->refusalReportedMs = monotonicMs();
    d->running = true;
    d->loop = std::thread([this] { d->run(); });
    return true;
}

quint16 HttpDaemon::port() const { return d->port; }

int HttpDaemon::openConnections() const { return d->open.load(); }

void HttpDaemon::stopListening()
{
    d->quiesce = true;
    d->wake();
}

void HttpDaemon::stop()
{
    if (!d->daemon)
        return;
    d->running = false;
    d->wake();
    if (d->loop.joinable())
        d->loop.join();
    // Connections still waiting for an answer must be resumed before the
    // library lets go of them.
    std::unordered_set<std::shared_ptr<Pending>> waiting;
    {
        std::lock_guard lock(d->pendingMutex);
        waiting.swap(d->waiting);
    }
    for (const std::shared_ptr<Pending> &pending : waiting) {
        std::lock_guard pendingLock(pending->mutex);
        if (!pending->ready) {
            pending->answer = HttpAnswer{503, "text/plain; charset=utf-8", "ERROR", {}, true, false, {}, {}};
            pending->ready = true;
            MHD_resume_connection(pending->connection);
        }
    }
    MHD_stop_daemon(d->daemon);
    d->daemon = nullptr;
    for (Private::KeptResponse &slot : d->kept) {
        if (slot.response)
            MHD_destroy_response(slot.response);
        slot = {};
    }
    d->reportRefusals();
    std::lock_guard lock(d->wakeMutex);
    ::close(d->wakeFd);
    d->wakeFd = -1;
}

#include "server/RankingServer.h"

#include "protocol/RankingProtocol.h"
#include "server/AccessLog.h"
#include "server/HttpCaching.h"
#include "server/HttpRules.h"
#include "server/Pages.h"
#include "server/StoreWorker.h"

#include <QDateTime>
#include <QUrlQuery>

#include <chrono>
#include <cstdio>

namespace {

constexpr char TextType[] = "text/plain; charset=utf-8";
constexpr char HtmlType[] = "text/html; charset=utf-8";
constexpr char JsonType[] = "application/json";
constexpr char NoStore[] = "Cache-Control: no-store";

qint64 nowMs() { return QDateTime::currentMSecsSinceEpoch(); }
// How old a kept page is: not the wall clock, which may be set back.
qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}


HttpAnswer answer(int status, const char *type, const QByteArray &body, QList<QByteArray> headers = {})
{
    return HttpAnswer{status, type, body, std::move(headers), false, false, {}, {}};
}

HttpAnswer unavailable() { return answer(503, TextType, "ERROR", {NoStore}); }

// A page that browsers and proxies may keep for a few seconds.
HttpAnswer cacheable(const char *type, const QByteArray &body, const QByteArray &gzip = {},
                     const QByteArray &tag = {})
{
    HttpAnswer page = answer(200, type, body);
    page.cacheable = true;
    page.gzipped = gzip;
    page.etag = tag;
    return page;
}

// A visitor's page, tagged from the page's tag and what differs from it:
// hashing its two megabytes on every request would cost more than sending them.
HttpAnswer visitorAnswer(const Pages::RenderedPage &page, const QString &visitorId,
                         const QList<VisitorStanding> &standings, const QTimeZone &zone)
{
    const QList<Pages::Splice> splices = Pages::visitorSplices(page, visitorId, standings, zone);
    return cacheable(HtmlType, Pages::spliced(page.bytes, splices), {},
                     entityTag(page.etag + Pages::spliceKey(splices)));
}

} // namespace

// The operator's address: /metrics and nothing else, no access log.
class RankingServer::MetricsHandler : public HttpHandler
{
public:
    explicit MetricsHandler(RankingServer *server) : m_server(server) {}

    void handle(const HttpRequest &request, HttpReply reply) override
    {
        if (request.method != "GET" && request.method != "HEAD") {
            reply(answer(405, TextType, "ERROR", {"Allow: GET, HEAD"}));
        } else if (request.path != "/metrics") {
            reply(answer(404, TextType, "ERROR"));
        } else {
            m_server->m_metrics.setOpenConnections(m_server->m_http->openConnections());
            reply(answer(200, "text/plain; version=0.0.4; charset=utf-8", m_server->m_metrics.render(), {NoStore}));
        }
    }
    void answered(const HttpRequest &, const HttpAnswer &, qint64, bool) override {}

private:
    RankingServer *m_server;
};

RankingServer::RankingServer(ServerOptions options, DatabaseConfig database, QObject *parent)
    : QObject(parent), m_options(std::move(options)),
      m_snapshotFile(snapshotFile(m_options.snapshot, database)),
      m_worker(std::make_unique<StoreWorker>(std::move(database), m_options.top, m_options.zone)),
      m_rate(m_options.rate)
{
    m_logTimer.setInterval(200);
    connect(&m_logTimer, &QTimer::timeout, this, &RankingServer::flushLog);
}

RankingServer::~RankingServer() { stopAll(); }

void RankingServer::stopAll()
{
    m_logTimer.stop();
    if (m_metricsHttp)
        m_metricsHttp->stop();
    if (m_http)
        m_http->stop();
    flushLog();
    m_worker->stop();
}

void RankingServer::settled()
{
    // Counted back where the answer is given: waking this object's thread
    // for each answer cost more than making a kept page's answer. Only a
    // stop waits for the count; shutdown() sets m_stopping before it looks
    // at the count, so either it sees this answer counted back or this
    // sees it stopping and calls again.
    --m_waiting;
    if (m_stopping)
        QMetaObject::invokeMethod(this, &RankingServer::finishShutdown);
}

void RankingServer::setStartInterrupt(std::function<bool()> interrupted)
{
    m_worker->setInterrupt(std::move(interrupted));
}

bool RankingServer::start(QString *error)
{
    m_worker->setGroupCommit(m_options.groupCommit);
    if (!m_snapshotFile.isEmpty())
        m_worker->setSnapshot(m_snapshotFile, m_options.snapshotSeconds);
    m_worker->setChangeObserver([this](bool rows) { m_pages.changed(rows, steadyMs()); });
    m_worker->setCommitObserver([this](int entries, double seconds, bool committed) {
        m_metrics.countCommit(entries, seconds, committed);
        m_metrics.setDatabaseUp(committed);
    });
    if (!m_worker->start(error))
        return false;
    m_metrics.setDatabaseUp(true);
    HttpDaemon::Limits limits;
    limits.maxConnections = m_options.maxConnections;
    limits.maxPerAddress = m_options.maxPerAddress;
    limits.idleSeconds = m_options.idleSeconds;
    // A proxy speaks for many clients: its connections are not capped per address.
    limits.exempt = m_options.trustedProxies;
    m_http = std::make_unique<HttpDaemon>(limits, static_cast<HttpHandler *>(this));
    if (!m_http->start(m_options.address, m_options.port, error)) {
        m_http.reset();
        m_worker->stop();
        return false;
    }
    if (m_options.metrics) {
        HttpDaemon::Limits metricsLimits;
        metricsLimits.maxConnections = 16;
        metricsLimits.idleSeconds = m_options.idleSeconds;
        m_metricsHandler = std::make_unique<MetricsHandler>(this);
        m_metricsHttp = std::make_unique<HttpDaemon>(metricsLimits, m_metricsHandler.get());
        if (!m_metricsHttp->start(m_options.metricsAddress, m_options.metricsPort, error)) {
            m_metricsHttp.reset();
            m_http->stop();
            m_http.reset();
            m_worker->stop();
            return false;
        }
    }
    m_logTimer.start();
    return true;
}

quint16 RankingServer::port() const { return m_http ? m_http->port() : 0; }

quint16 RankingServer::metricsPort() const { return m_metricsHttp ? m_metricsHttp->port() : 0; }

QString RankingServer::clientOf(const HttpRequest &request) const
{
    return forwardedClient(request.peer, request.headerValues("X-Forwarded-For"), m_options.trustedProxies).toString();
}

void RankingServer::handle(const HttpRequest &request, HttpReply reply)
{
    // Whatever follows a request that announced a body cannot be trusted to
    // be the next request: every answer to one closes the connection.
    const bool close = request.announcesBody
                       || request.header("Connection").toLower().contains("close");
    // Counted before the check for stopping, and counted back when answered:
    // shutdown either waits for this answer or this request sees it stopping.
    ++m_waiting;
    HttpReply send = [this, reply, close, ifNoneMatch = request.header("If-None-Match"),
                      acceptEncoding = request.header("Accept-Encoding")](HttpAnswer answer) {
        answer.close = answer.close || close;
        HttpRequest conditions;
        conditions.headers = {{"If-None-Match", ifNoneMatch}, {"Accept-Encoding", acceptEncoding}};
        if (ifNoneMatch.isNull())
            conditions.headers.removeFirst();
        negotiate(conditions, answer);
        reply(std::move(answer));
        settled();
    };
    if (m_stopping) {
        HttpAnswer refused = unavailable();
        refused.close = true;
        send(refused);
        return;
    }
    const bool head = request.method == "HEAD";
    if (request.method != "GET" && !head) {
        send(answer(405, TextType, "ERROR", {"Allow: GET, HEAD"}));
        return;
    }
    if (request.announcesBody) {
        send(answer(400, TextType, "ERROR"));
        return;
    }

    if (request.path == RankingProtocol::EntryPath) {
        // An entry changes the boards: only GET sends one.
        if (head)
            send(answer(405, TextType, "ERROR", {"Allow: GET"}));
        else
            handleEntry(clientOf(request), request.rawQuery, send);
    } else if (request.path == RankingProtocol::RankingPagePath) {
        QString visitor = QUrlQuery(QString::fromLatin1(request.rawQuery))
                              .queryItemValue(QLatin1String(RankingProtocol::RankingPageIdKey), QUrl::FullyDecoded);
        if (!RankingProtocol::isValidUserId(visitor))
            visitor.clear();
        handleRankingPage(visitor, clientOf(request), acceptsGzip(request.header("Accept-Encoding")), send);
    } else if (request.path == RankingProtocol::HomePagePath) {
        static const QByteArray home = Pages::homePage();
        static const QByteArray homeGzip = gzipped(home);
        static const QByteArray homeTag = entityTag(home);
        send(cacheable(HtmlType, home, homeGzip, homeTag));
    } else if (request.path == "/healthz") {
        handleHealth(send);
    } else if (request.path == "/api/ranking") {
        handleApi(QUrlQuery(QString::fromLatin1(request.rawQuery)), send);
    } else {
        send(answer(404, HtmlType, Pages::notFoundPage()));
    }
}

void RankingServer::handleEntry(const QString &client, const QByteArray &rawQuery, const HttpReply &reply)
{
    using Status = RankingProtocol::ParsedEntry::Status;
    const RankingProtocol::ParsedEntry parsed = RankingProtocol::parseEntryQuery(rawQuery);
    if (parsed.status == Status::InvalidVersion) {
        m_metrics.countEntry(Metrics::Answer::InvalidVersion);
        reply(answer(200, TextType, RankingProtocol::AnswerInvalidVersion, {NoStore}));
        return;
    }
    if (parsed.status != Status::Valid) {
        m_metrics.countEntry(Metrics::Answer::Refused);
        reply(answer(400, TextType, "ERROR", {NoStore}));
        return;
    }
    const qint64 now = nowMs();
    if (now - m_lastPruneMs > 60000) {
        m_rate.prune(now);
        m_lastPruneMs = now;
    }
    if (!m_rate.admit({QStringLiteral("a:") + client, QStringLiteral("i:") + parsed.entry.userId}, now)) {
        m_metrics.countEntry(Metrics::Answer::Busy);
        reply(answer(429, TextType, "BUSY", {NoStore, "Retry-After: 60"}));
        return;
    }
    m_worker->submit(PendingEntry{parsed.entry, client, now}, this,
                     [this, reply, client, userId = parsed.entry.userId](std::optional<EntryAnswer> result) {
        // Counted already; the writer's next page shows it.
        if (result) {
            m_pages.wrote(PageCache::writerKey(userId, client));
            m_pages.wrote(PageCache::writerKey(QString(), client));
        }
        if (!result) {
            m_metrics.countEntry(Metrics::Answer::Error);
            reply(unavailable());
        } else if (*result == EntryAnswer::Ok) {
            m_metrics.countEntry(Metrics::Answer::Ok);
            reply(answer(200, TextType, RankingProtocol::AnswerOk, {NoStore}));
        } else {
            m_metrics.countEntry(Metrics::Answer::CannotRankIn);
            reply(answer(200, TextType, RankingProtocol::AnswerCannotRankIn, {NoStore}));
        }
    });
}

void RankingServer::handleRankingPage(const QString &visitorId, const QString &client, bool gzip,
                                     const HttpReply &reply)
{
    const QTimeZone zone = m_options.zone;
    const qint64 now = nowMs();
    const PageCache::Periods periods = PageCache::periodsAt(now, zone);
    const PageCache::Generation owed = m_pages.owed(PageCache::writerKey(visitorId, client));
    // Served here, on the HTTP thread, from what is kept while it may be.
    bool refresh = false;
    const std::shared_ptr<const Pages::RenderedPage> page = m_pages.page(periods, owed, steadyMs(), &refresh);
    std::optional<QList<VisitorStanding>> own;
    if (page && !visitorId.isEmpty())
        own = m_pages.standings(periods, visitorId, owed, steadyMs(), &refresh);
    if (!page || (!visitorId.isEmpty() && !own)) {
        m_worker->read([this, reply, visitorId, owed, now, periods](RankingStore &store) {
            reply(readRankingPage(store, visitorId, owed, now, periods, true));
        });
    } else if (visitorId.isEmpty()) {
        reply(cacheable(HtmlType, page->bytes, page->gzipped, page->etag));
    } else if (gzip) {
        // A visitor's page has no compressed copy kept: compressing its
        // megabytes here would hold up every other connection for
        // milliseconds, so the reader's thread does it.
        m_worker->read([reply, page, visitorId, standings = std::move(*own), zone](RankingStore &) {
            reply(visitorAnswer(*page, visitorId, standings, zone));
        });
    } else {
        reply(visitorAnswer(*page, visitorId, *own, zone));
    }
    if (refresh) {
        m_worker->read([this, visitorId](RankingStore &store) {
            const qint64 at = nowMs();
            readRankingPage(store, visitorId, m_pages.generation(), at, PageCache::periodsAt(at, m_options.zone), false);
            m_pages.refreshed();
        });
    }
}

HttpAnswer RankingServer::readRankingPage(RankingStore &store, const QString &visitorId,
                                          const PageCache::Generation &owed, qint64 now,
                                          const PageCache::Periods &periods, bool answered)
{
    const QTimeZone zone = m_options.zone;
    // Counted before reading: a change during the reads is read again next time.
    const PageCache::Generation read = m_pages.generation(steadyMs());
    std::shared_ptr<const Pages::RenderedPage> page = m_pages.page(periods, owed, read.atMs, nullptr);
    if (!page) {
        const std::optional<QList<BoardView>> boards = store.firstRows(now);
        if (!boards)
            return unavailable();
        Pages::RenderedPage rendered = Pages::renderRankingPage(*boards, zone, &m_rowMemo);
        rendered.gzipped = gzipped(rendered.bytes);
        rendered.etag = entityTag(rendered.bytes, rendered.gzipped);
        page = std::make_shared<const Pages::RenderedPage>(std::move(rendered));
        m_pages.storePage(periods, read, page);
    }
    if (visitorId.isEmpty())
        return answered ? cacheable(HtmlType, page->bytes, page->gzipped, page->etag) : HttpAnswer();
    std::optional<QList<VisitorStanding>> standings = m_pages.standings(periods, visitorId, owed, read.atMs, nullptr);
    if (!standings) {
        // Among the first rows the page marks the row itself.
        auto below = [&](const Pages::RenderedPage::Spot &spot) {
            return spot.rowsEnd >= 0 && !spot.rowOpening.contains(visitorId);
        };
        unsigned wanted = 0;
        for (const Pages::RenderedPage::Spot &spot : page->spots)
            wanted |= below(spot) ? 1u << boardSlot(spot.mode, spot.board) : 0u;
        const std::optional<QList<VisitorStanding>> all = store.standings(visitorId, now, wanted);
        if (!all)
            return unavailable();
        standings.emplace();
        for (const Pages::RenderedPage::Spot &spot : page->spots)
            standings->append(all->at(boardSlot(spot.mode, spot.board)));
        m_pages.storeStandings(periods, read, visitorId, *standings);
    }
    return answered ? visitorAnswer(*page, visitorId, *standings, zone) : HttpAnswer();
}

void RankingServer::handleApi(const QUrlQuery &query, const HttpReply &reply)
{
    const QString modeText = query.queryItemValue(QStringLiteral("md"));
    const QString boardName = query.queryItemValue(QStringLiteral("board"));
    const std::optional<Board> board = boardFromName(boardName.isEmpty() ? QStringLiteral("all") : boardName);
    if ((modeText != QLatin1String("0") && modeText != QLatin1String("1")) || !board) {
        reply(answer(400, JsonType, R"({"error":"md must be 0 or 1, board today, week or all"})"));
        return;
    }
    QString visitor = query.queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
    if (!RankingProtocol::isValidUserId(visitor))
        visitor.clear();
    const int mode = modeText.toInt();
    const QTimeZone zone = m_options.zone;
    const qint64 now = nowMs();
    m_worker->read([reply, mode, board, visitor, zone, now](RankingStore &store) {
        const std::optional<BoardView> view = store.board(mode, *board, visitor, now);
        reply(view ? cacheable(JsonType, Pages::boardJson(*view, visitor, zone))
                   : answer(503, JsonType, R"({"error":"database unavailable"})", {NoStore}));
    });
}

void RankingServer::handleHealth(const HttpReply &reply)
{
    m_worker->read([this, reply](RankingStore &store) {
        const bool up = store.ping();
        m_metrics.setDatabaseUp(up);
        reply(up ? answer(200, TextType, "OK", {NoStore}) : unavailable());
    });
}

void RankingServer::answered(const HttpRequest &request, const HttpAnswer &answer, qint64 bytes, bool cut)
{
    m_metrics.countRequest(answer.status);
    const QByteArray line = accessLogLine(clientOf(request), accessLogTimeNow(), request.method, request.target,
                                          request.version, answer.status, bytes, cut);
    std::lock_guard lock(m_logMutex);
    m_logBuffer += line;
    if (m_logBuffer.size() > 64 * 1024) {
        std::fwrite(m_logBuffer.constData(), 1, size_t(m_logBuffer.size()), stdout);
        std::fflush(stdout);
        m_logBuffer.clear();
    }
}

void RankingServer::flushLog()
{
    std::lock_guard lock(m_logMutex);
    if (m_logBuffer.isEmpty())
        return;
    std::fwrite(m_logBuffer.constData(), 1, size_t(m_logBuffer.size()), stdout);
    std::fflush(stdout);
    m_logBuffer.clear();
}

void RankingServer::shutdown()
{
    if (m_stopping.exchange(true))
        return;
    if (m_http)
        m_http->stopListening();
    finishShutdown();
}

void RankingServer::finishShutdown()
{
    if (m_waiting > 0 || m_finished)
        return; // the last answer in flight calls again
    m_finished = true;
    // Answers just queued still have to leave the sockets.
    QTimer::singleShot(100, this, [this] {
        stopAll();
        emit finished();
    });
}

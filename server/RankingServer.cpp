#include "server/RankingServer.h"

#include "result/RankingProtocol.h"
#include "server/AccessLog.h"
#include "server/GuardedTcpServer.h"
#include "server/Pages.h"
#include "server/StoreWorker.h"

#include <QDateTime>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <cstdio>

namespace {

constexpr char TextType[] = "text/plain; charset=utf-8";
constexpr char HtmlType[] = "text/html; charset=utf-8";
constexpr char JsonType[] = "application/json";
constexpr char NoStore[] = "Cache-Control: no-store\r\n";

qint64 nowMs() { return QDateTime::currentMSecsSinceEpoch(); }

} // namespace

// What a response needs to know of its request, kept past the handler for
// answers that wait on the database.
struct RankingServer::Exchange
{
    QPointer<QTcpSocket> socket;
    QString client;
    QByteArray method;
    QByteArray target;
    bool head = false;
    bool close = false;
};

RankingServer::RankingServer(ServerOptions options, DatabaseConfig database, QObject *parent)
    : QObject(parent), m_options(std::move(options)),
      m_worker(std::make_unique<StoreWorker>(std::move(database), m_options.top, m_options.zone)),
      m_rate(m_options.rate)
{
    m_pruneTimer.setInterval(60000);
    connect(&m_pruneTimer, &QTimer::timeout, this, [this] { m_rate.prune(nowMs()); });
    m_logTimer.setInterval(200);
    connect(&m_logTimer, &QTimer::timeout, this, &RankingServer::flushLog);
}

RankingServer::~RankingServer()
{
    flushLog();
    m_worker->stop();
}

bool RankingServer::start(QString *error)
{
    m_worker->setGroupCommit(m_options.groupCommit);
    if (!m_worker->start(error))
        return false;
    GuardedTcpServer::Limits limits;
    limits.maxConnections = m_options.maxConnections;
    limits.idleMs = m_options.idleSeconds * 1000;
    m_tcp = new GuardedTcpServer(limits, this);
    connect(m_tcp, &GuardedTcpServer::rejected, this, [](const QString &peer, const QString &reason) {
        std::fprintf(stderr, "tovrika-ranking: %s: connection closed: %s\n", qPrintable(peer), qPrintable(reason));
    });
    if (!m_tcp->listen(m_options.address, m_options.port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(m_options.address.toString())
                     .arg(m_options.port)
                     .arg(m_tcp->errorString());
        m_worker->stop();
        return false;
    }
    m_http = std::make_unique<QHttpServer>();
    // Every request comes here: the server's own dispatch answers methods,
    // paths and limits exactly as this server defines them.
    m_http->setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        dispatch(request, std::move(responder));
    });
    m_http->bind(m_tcp);
    m_pruneTimer.start();
    m_logTimer.start();
    return true;
}

quint16 RankingServer::port() const { return m_tcp ? m_tcp->serverPort() : 0; }

void RankingServer::dispatch(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    Exchange exchange;
    exchange.socket = responder.socket();
    exchange.client = request.remoteAddress().toString();
    const QUrl url = request.url();
    exchange.target = url.path(QUrl::FullyEncoded).toLatin1();
    const QByteArray rawQuery = url.query(QUrl::FullyEncoded).toLatin1();
    if (url.hasQuery())
        exchange.target += '?' + rawQuery;
    if (m_stopping) {
        exchange.method = "GET";
        exchange.close = true;
        send(exchange, 503, TextType, "ERROR", NoStore);
        return;
    }
    bool hasBody = !request.body().isEmpty();
    for (const auto &header : request.headers()) {
        const QByteArray name = header.first.toLower();
        if (name == "connection" && header.second.toLower().contains("close"))
            exchange.close = true;
        if (name == "transfer-encoding" || (name == "content-length" && header.second.trimmed() != "0"))
            hasBody = true;
        if (name == "x-forwarded-for" && m_options.trustedProxies.contains(request.remoteAddress())) {
            // The proxy appends the address it saw last; earlier ones are the client's word.
            const QHostAddress forwarded(QString::fromLatin1(header.second.split(',').last().trimmed()));
            if (!forwarded.isNull())
                exchange.client = forwarded.toString();
        }
    }
    switch (request.method()) {
    case QHttpServerRequest::Method::Get:
        exchange.method = "GET";
        break;
    case QHttpServerRequest::Method::Head:
        exchange.method = "HEAD";
        exchange.head = true;
        break;
    default:
        exchange.method = "OTHER";
        send(exchange, 405, TextType, "ERROR", "Allow: GET, HEAD\r\n");
        return;
    }
    if (hasBody) {
        // A GET carries no body; what follows it cannot be trusted to be the next request.
        exchange.close = true;
        send(exchange, 400, TextType, "ERROR");
        return;
    }

    const QString path = url.path(QUrl::FullyEncoded);
    if (path == QLatin1String(RankingProtocol::EntryPath)) {
        handleEntry(exchange, rawQuery);
    } else if (path == QLatin1String(RankingProtocol::RankingPagePath)) {
        QString visitor = QUrlQuery(url).queryItemValue(QLatin1String(RankingProtocol::RankingPageIdKey),
                                                        QUrl::FullyDecoded);
        if (!RankingProtocol::isValidUserId(visitor))
            visitor.clear();
        handleRankingPage(exchange, visitor);
    } else if (path == QLatin1String(RankingProtocol::HomePagePath)) {
        send(exchange, 200, HtmlType, Pages::homePage());
    } else if (path == QLatin1String("/api/ranking")) {
        handleApi(exchange, QUrlQuery(url));
    } else {
        send(exchange, 404, HtmlType, Pages::notFoundPage());
    }
}

void RankingServer::handleEntry(const Exchange &exchange, const QByteArray &rawQuery)
{
    using Status = RankingProtocol::ParsedEntry::Status;
    const RankingProtocol::ParsedEntry parsed = RankingProtocol::parseEntryQuery(rawQuery);
    if (parsed.status == Status::InvalidVersion) {
        send(exchange, 200, TextType, RankingProtocol::AnswerInvalidVersion, NoStore);
        return;
    }
    if (parsed.status != Status::Valid) {
        send(exchange, 400, TextType, "ERROR", NoStore);
        return;
    }
    const qint64 now = nowMs();
    if (!m_rate.admit({QStringLiteral("a:") + exchange.client, QStringLiteral("i:") + parsed.entry.userId}, now)) {
        send(exchange, 429, TextType, "BUSY", QByteArray(NoStore) + "Retry-After: 60\r\n");
        return;
    }
    ++m_waiting;
    m_worker->submit(PendingEntry{parsed.entry, exchange.client, now}, this,
                     [this, exchange](std::optional<EntryAnswer> answer) {
                         --m_waiting;
                         if (!answer)
                             send(exchange, 503, TextType, "ERROR", NoStore);
                         else if (*answer == EntryAnswer::Ok)
                             send(exchange, 200, TextType, RankingProtocol::AnswerOk, NoStore);
                         else
                             send(exchange, 200, TextType, RankingProtocol::AnswerCannotRankIn, NoStore);
                         if (m_stopping)
                             finishShutdown();
                     });
}

void RankingServer::handleRankingPage(const Exchange &exchange, const QString &visitorId)
{
    ++m_waiting;
    const QTimeZone zone = m_options.zone;
    const qint64 now = nowMs();
    m_worker->read([this, exchange, visitorId, zone, now](RankingStore &store) {
        QList<BoardView> boards;
        bool ok = true;
        for (int mode = 0; mode < RankingProtocol::ModeCount && ok; ++mode) {
            for (Board board : AllBoards) {
                std::optional<BoardView> view = store.board(mode, board, visitorId, now);
                if (!view) {
                    ok = false;
                    break;
                }
                boards.append(*view);
            }
        }
        const QByteArray page = ok ? Pages::rankingPage(boards, visitorId, zone) : QByteArray();
        QMetaObject::invokeMethod(this, [this, exchange, ok, page] {
            --m_waiting;
            if (ok)
                send(exchange, 200, HtmlType, page, NoStore);
            else
                send(exchange, 503, TextType, "ERROR", NoStore);
            if (m_stopping)
                finishShutdown();
        });
    });
}

void RankingServer::handleApi(const Exchange &exchange, const QUrlQuery &query)
{
    const QString modeText = query.queryItemValue(QStringLiteral("md"));
    const std::optional<Board> board =
        boardFromName(query.queryItemValue(QStringLiteral("board")).isEmpty()
                          ? QStringLiteral("all")
                          : query.queryItemValue(QStringLiteral("board")));
    if ((modeText != QLatin1String("0") && modeText != QLatin1String("1")) || !board) {
        send(exchange, 400, JsonType, R"({"error":"md must be 0 or 1, board today, week or all"})");
        return;
    }
    QString visitor = query.queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
    if (!RankingProtocol::isValidUserId(visitor))
        visitor.clear();
    const int mode = modeText.toInt();
    const QTimeZone zone = m_options.zone;
    const qint64 now = nowMs();
    ++m_waiting;
    m_worker->read([this, exchange, mode, board, visitor, zone, now](RankingStore &store) {
        const std::optional<BoardView> view = store.board(mode, *board, visitor, now);
        const QByteArray json = view ? Pages::boardJson(*view, visitor, zone) : QByteArray();
        QMetaObject::invokeMethod(this, [this, exchange, json, ok = view.has_value()] {
            --m_waiting;
            if (ok)
                send(exchange, 200, JsonType, json, NoStore);
            else
                send(exchange, 503, JsonType, R"({"error":"database unavailable"})", NoStore);
            if (m_stopping)
                finishShutdown();
        });
    });
}

void RankingServer::send(const Exchange &exchange, int status, const QByteArray &contentType,
                         const QByteArray &body, const QByteArray &extraHeaders)
{
    log(accessLogLine(exchange.client, QDateTime::currentDateTime(), exchange.method, exchange.target, status,
                      exchange.head ? 0 : body.size()));
    QTcpSocket *socket = exchange.socket.data();
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return; // the client left before its answer was ready
    const bool close = exchange.close || m_stopping || status == 400;
    socket->write(rawResponse(status, contentType, body, close, exchange.head, extraHeaders));
    if (close)
        socket->disconnectFromHost();
}

void RankingServer::log(const QByteArray &line)
{
    m_logBuffer += line;
    if (m_logBuffer.size() > 64 * 1024)
        flushLog();
}

void RankingServer::flushLog()
{
    if (m_logBuffer.isEmpty())
        return;
    std::fwrite(m_logBuffer.constData(), 1, size_t(m_logBuffer.size()), stdout);
    std::fflush(stdout);
    m_logBuffer.clear();
}

void RankingServer::shutdown()
{
    if (m_stopping)
        return;
    m_stopping = true;
    if (m_tcp)
        m_tcp->close();
    finishShutdown();
}

void RankingServer::finishShutdown()
{
    if (m_waiting > 0 || m_finished)
        return; // the last answer in flight calls again
    m_finished = true;
    m_pruneTimer.stop();
    m_logTimer.stop();
    flushLog();
    m_worker->stop();
    // Answers just written still have to leave the sockets.
    QTimer::singleShot(100, this, &RankingServer::finished);
}

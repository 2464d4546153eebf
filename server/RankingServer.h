#pragma once

#include "server/DatabaseConfig.h"
#include "server/HttpDaemon.h"
#include "server/Metrics.h"
#include "server/PageCache.h"
#include "server/RateLimiter.h"
#include "server/ServerOptions.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>
#include <functional>
#include <memory>
#include <mutex>

class StoreWorker;
class QUrlQuery;

// The ranking server: the entry CGI, the ranking page, the home page and the
// JSON boards. Requests come from the HTTP layer's thread; entries and board
// reads go to the store's thread, and their answers come back through this
// object's thread.
class RankingServer : public QObject, private HttpHandler
{
    Q_OBJECT

public:
    RankingServer(ServerOptions options, DatabaseConfig database, QObject *parent = nullptr);
    ~RankingServer() override;

    // Opens the database and starts listening; false with a message otherwise.
    bool start(QString *error);
    // Asked while start() folds the log: true ends the start (a stop signal).
    void setStartInterrupt(std::function<bool()> interrupted);
    quint16 port() const;
    // Where /metrics is served; 0 when it is not.
    quint16 metricsPort() const;
    // Stops accepting, answers the requests in flight, closes the database,
    // then emits finished().
    void shutdown();

signals:
    void finished();

private:
    void handle(const HttpRequest &request, HttpReply reply) override;
    void answered(const HttpRequest &request, const HttpAnswer &answer, qint64 bytes, bool cut) override;

    QString clientOf(const HttpRequest &request) const;
    void handleEntry(const QString &client, const QByteArray &rawQuery, const HttpReply &reply);
    void handleRankingPage(const QString &visitorId, const QString &client, bool gzip, const HttpReply &reply);
    // On the reader's thread: the page from what is kept and may be shown to
    // one owed owed, reading and rendering what is not; an empty answer
    // unless answered (a read in the background only keeps what it read).
    HttpAnswer readRankingPage(class RankingStore &store, const QString &visitorId, const PageCache::Generation &owed,
                               qint64 now, const PageCache::Periods &periods, bool answered);
    void handleApi(const QUrlQuery &query, const HttpReply &reply);
    void handleHealth(const HttpReply &reply);
    // An answer that waited has been given.
    void settled();
    void flushLog();
    void finishShutdown();
    void stopAll();

    ServerOptions m_options;
    QString m_snapshotFile;
    std::unique_ptr<StoreWorker> m_worker;
    std::unique_ptr<HttpDaemon> m_http;
    Metrics m_metrics;
    PageCache m_pages;
    // Used on the store's read thread only, where pages are rendered.
    Pages::RowMemo m_rowMemo;
    class MetricsHandler;
    std::unique_ptr<MetricsHandler> m_metricsHandler;
    std::unique_ptr<HttpDaemon> m_metricsHttp;
    // Used on the HTTP thread only.
    RateLimiter m_rate;
    qint64 m_lastPruneMs = 0;
    QTimer m_logTimer;
    std::mutex m_logMutex;
    QByteArray m_logBuffer;
    std::atomic<int> m_waiting{0};
    std::atomic<bool> m_stopping{false};
    bool m_finished = false;
};

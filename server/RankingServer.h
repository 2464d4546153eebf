#pragma once

#include "server/DatabaseConfig.h"
#include "server/RateLimiter.h"
#include "server/ServerOptions.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>

class GuardedTcpServer;
class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponder;
class QTcpSocket;
class StoreWorker;

// The ranking server: the entry CGI, the ranking page, the home page and the
// JSON boards, on Qt's HTTP server behind the guarded listening socket, with
// the boards in the store's thread.
class RankingServer : public QObject
{
    Q_OBJECT

public:
    RankingServer(ServerOptions options, DatabaseConfig database, QObject *parent = nullptr);
    ~RankingServer() override;

    // Opens the database and starts listening; false with a message otherwise.
    bool start(QString *error);
    quint16 port() const;
    // Stops accepting, answers the requests in flight, closes the database,
    // then emits finished().
    void shutdown();

signals:
    void finished();

private:
    struct Exchange;
    void dispatch(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void handleEntry(const Exchange &exchange, const QByteArray &rawQuery);
    void handleRankingPage(const Exchange &exchange, const QString &visitorId);
    void handleApi(const Exchange &exchange, const class QUrlQuery &query);
    void send(const Exchange &exchange, int status, const QByteArray &contentType, const QByteArray &body,
              const QByteArray &extraHeaders = QByteArray());
    void log(const QByteArray &line);
    void flushLog();
    void finishShutdown();

    ServerOptions m_options;
    std::unique_ptr<StoreWorker> m_worker;
    std::unique_ptr<QHttpServer> m_http;
    GuardedTcpServer *m_tcp = nullptr;
    RateLimiter m_rate;
    QTimer m_pruneTimer;
    QTimer m_logTimer;
    QByteArray m_logBuffer;
    int m_waiting = 0;
    bool m_stopping = false;
    bool m_finished = false;
};

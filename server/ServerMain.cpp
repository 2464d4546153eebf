#include "server/ServerMain.h"

#include "server/AdminMain.h"
#include "server/DatabaseConfig.h"
#include "server/RankingServer.h"
#include "server/ServerOptions.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

bool installSignalHandlers()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A client that closes early must not end the server with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "tovrika-ranking: %s (see --help)\n", qPrintable(message));
    return 2;
}

} // namespace

int runRankingServer(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tovrika-ranking"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOVRIKA_VERSION));

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1 && arguments.at(1) == QLatin1String("admin"))
        return runAdmin(arguments.mid(2));
    const ParsedOptions parsed = parseServerOptions(arguments);
    if (parsed.outcome == ParsedOptions::Outcome::Error)
        return usageError(parsed.text);
    if (parsed.outcome == ParsedOptions::Outcome::Exit) {
        std::fputs(qPrintable(parsed.text), stdout);
        return 0;
    }
    ParsedDatabase database =
        parseDatabaseUrl(parsed.options.database.isEmpty() ? defaultDatabasePath() : parsed.options.database);
    if (!database.ok)
        return usageError(database.error);
    database.config.deadlineMs = parsed.options.entryDeadlineSeconds * 1000;

    if (!installSignalHandlers()) {
        std::perror("tovrika-ranking: cannot install the signal handlers");
        return 1;
    }
    RankingServer server(parsed.options, database.config);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "tovrika-ranking: %s\n", qPrintable(error));
        return 1;
    }
    // Before the line that says the server is ready, so that both are there then.
    if (server.metricsPort() != 0)
        std::fprintf(stderr, "tovrika-ranking: metrics on %s:%u\n",
                     qPrintable(parsed.options.metricsAddress.toString()), unsigned(server.metricsPort()));
    std::fprintf(stderr, "tovrika-ranking: listening on %s:%u, database %s, entry deadline %d s\n",
                 qPrintable(parsed.options.address.toString()), unsigned(server.port()),
                 qPrintable(database.config.displayName()), parsed.options.entryDeadlineSeconds);

    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &server, [&] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        server.shutdown();
    });
    QObject::connect(&server, &RankingServer::finished, &app, [] { QCoreApplication::exit(0); });
    return app.exec();
}

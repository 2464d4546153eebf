#include "server/ServerMain.h"

#include "server/AdminMain.h"
#include "server/BoundedOutput.h"
#include "server/DatabaseConfig.h"
#include "server/RankingServer.h"
#include "server/ServerOptions.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
// Set by a stop signal, for the start-up that runs before the event loop.
volatile std::sig_atomic_t stopAsked = 0;

void onSignal(int number)
{
    if (number == SIGTERM || number == SIGINT || number == SIGQUIT)
        stopAsked = 1;
    const char byte = char(number);
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGQUIT stop the server cleanly: what is in flight is
// answered and logged, and the exit status is 0. SIGHUP (logrotate, a
// closed terminal) and SIGUSR1 have nothing to reopen, since the logs go to
// standard output and standard error: they are told on standard error and
// the server serves on. Death by a signal would lose the buffered access
// log, and systemd would not restart a server killed by SIGHUP.
constexpr int StopSignals[] = {SIGTERM, SIGINT, SIGQUIT};
constexpr int KeepSignals[] = {SIGHUP, SIGUSR1};

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
    for (int number : StopSignals)
        if (sigaction(number, &action, nullptr) != 0)
            return false;
    for (int number : KeepSignals)
        if (sigaction(number, &action, nullptr) != 0)
            return false;
    return true;
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "tovrika-ranking: %s (see --help)\n", qPrintable(message));
    return 2;
}

} // namespace

int runRankingServer(int argc, char *argv[])
{
    // The database, its -wal and -shm, a backup and their folder hold every
    // player's ID and address: for the owner alone, whatever umask started us.
    ::umask(077);
    QCoreApplication app(argc, argv);
    // Qt has its copy of the arguments; the password leaves /proc/PID/cmdline.
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--database", 10) == 0)
            hideDatabasePassword(argv[i][10] == '=' ? argv[i] : i + 1 < argc ? argv[i + 1] : argv[i]);
    }
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
    ParsedDatabase database = parseDatabaseUrl(parsed.options.database.isEmpty()
                                                   ? QStringLiteral("sqlite:") + defaultDatabasePath()
                                                   : parsed.options.database);
    if (!database.ok)
        return usageError(database.error);
    database.config.deadlineMs = parsed.options.entryDeadlineSeconds * 1000;

    // From here no write to standard output or error waits on their reader.
    BoundedOutput accessLog(STDOUT_FILENO, "the access log");
    BoundedOutput errors(STDERR_FILENO, "standard error");
    accessLog.start();
    errors.start();
    if (!database.config.password.isEmpty())
        std::fprintf(stderr, "tovrika-ranking: the password in --database was on the command line, which every "
                             "local user may read while the server starts; PGPASSFILE or PGPASSWORD keep it off\n");

    if (!installSignalHandlers()) {
        std::perror("tovrika-ranking: cannot install the signal handlers");
        return 1;
    }
    RankingServer server(parsed.options, database.config);
    server.setStartInterrupt([] { return stopAsked != 0; });
    QString error;
    if (!server.start(&error)) {
        // A stop asked for while the log was folded is a clean stop.
        if (stopAsked) {
            std::fprintf(stderr, "tovrika-ranking: stopped before serving\n");
            return 0;
        }
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
        char byte = 0;
        if (::read(signalPipe[0], &byte, 1) != 1)
            return;
        if (byte == SIGHUP || byte == SIGUSR1) {
            std::fprintf(stderr, "tovrika-ranking: %s: nothing to reopen (the logs go to standard output and "
                                 "standard error); serving on\n", byte == SIGHUP ? "SIGHUP" : "SIGUSR1");
            return;
        }
        server.shutdown();
    });
    QObject::connect(&server, &RankingServer::finished, &app, [] { QCoreApplication::exit(0); });
    return app.exec();
}

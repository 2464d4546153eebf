// Stand-in ranking server for the tests of the real window: listens on
// 127.0.0.1, answers every request with the same body and appends each
// request target (path and query, exactly as received) as one line to the
// record file. Runs until it is killed.
//
//   tovrika_testserver --port N --body TEXT --record FILE [--status CODE]

#include "support/LoopbackHttpServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Loopback ranking server for tests"));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("TCP port (0: any)"),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption bodyOption(QStringLiteral("body"), QStringLiteral("Response body"),
                                        QStringLiteral("TEXT"), QStringLiteral("OK"));
    const QCommandLineOption recordOption(QStringLiteral("record"),
                                          QStringLiteral("File that receives one line per request"),
                                          QStringLiteral("FILE"));
    const QCommandLineOption statusOption(QStringLiteral("status"), QStringLiteral("HTTP status"),
                                          QStringLiteral("CODE"), QStringLiteral("200"));
    parser.addOptions({portOption, bodyOption, recordOption, statusOption});
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        std::fprintf(stderr, "bad --port\n");
        return 2;
    }

    QFile record(parser.value(recordOption));
    if (parser.isSet(recordOption) && !record.open(QIODevice::WriteOnly | QIODevice::Append)) {
        std::fprintf(stderr, "cannot open the record file\n");
        return 2;
    }

    LoopbackHttpServer server;
    server.answer(parser.value(bodyOption).toUtf8(), parser.value(statusOption).toInt());
    if (!server.listen(quint16(port))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    QObject::connect(&server, &LoopbackHttpServer::requestReceived, &app,
                     [&record](const QByteArray &target) {
                         if (!record.isOpen())
                             return;
                         record.write(target + '\n');
                         record.flush();
                     });

    std::printf("listening on %u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}

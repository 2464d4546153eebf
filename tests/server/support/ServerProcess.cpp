#include "server/support/ServerProcess.h"

#include "protocol/RankingProtocol.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>

#include <csignal>

ServerProcess::ServerProcess() = default;

ServerProcess::~ServerProcess()
{
    if (isRunning())
        kill9();
}

QString ServerProcess::executable() { return QStringLiteral(TOVRIKA_RANKING_EXECUTABLE); }

bool ServerProcess::start(const QString &databaseUrl, const QStringList &extraArguments, QString *error)
{
    m_process = std::make_unique<QProcess>();
    m_output.clear();
    m_error.clear();
    QStringList arguments{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--database"),
                          databaseUrl};
    arguments << extraArguments;
    m_process->setProcessEnvironment(m_environment);
    if (m_prefix.isEmpty())
        m_process->start(executable(), arguments);
    else
        m_process->start(m_prefix.first(), m_prefix.mid(1) + QStringList{executable()} + arguments);
    if (!m_process->waitForStarted(10000)) {
        *error = QStringLiteral("cannot start ") + executable();
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("listening on [^ ]+:(\\d+),"));
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 20000) {
        m_process->waitForReadyRead(100);
        m_error += m_process->readAllStandardError();
        m_output += m_process->readAllStandardOutput();
        const QRegularExpressionMatch match = listening.match(QString::fromUtf8(m_error));
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return true;
        }
        if (m_process->state() == QProcess::NotRunning)
            break;
    }
    *error = QStringLiteral("the server did not start: ") + QString::fromUtf8(m_error);
    return false;
}

qint64 ServerProcess::pid() const { return m_process ? m_process->processId() : 0; }

bool ServerProcess::isRunning() const { return m_process && m_process->state() != QProcess::NotRunning; }

void ServerProcess::kill9()
{
    m_process->kill();
    m_process->waitForFinished(10000);
}

void ServerProcess::signal(int number)
{
    if (isRunning())
        ::kill(pid_t(m_process->processId()), number);
}

int ServerProcess::terminate()
{
    ::kill(pid_t(m_process->processId()), SIGTERM);
    if (!m_process->waitForFinished(20000))
        return -1;
    if (m_process->exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process->exitCode();
}

int ServerProcess::exitCode()
{
    if (!m_process || (m_process->state() != QProcess::NotRunning && !m_process->waitForFinished(5000)))
        return -1;
    return m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
}

QByteArray ServerProcess::standardOutput()
{
    if (m_process)
        m_output += m_process->readAllStandardOutput();
    return m_output;
}

QByteArray ServerProcess::standardError()
{
    if (m_process)
        m_error += m_process->readAllStandardError();
    return m_error;
}

int ServerProcess::total(int mode)
{
    const Reply reply = get("/api/ranking?md=" + QByteArray::number(mode) + "&board=all");
    return QJsonDocument::fromJson(reply.body).object().value("total").toInt(-1);
}

ServerProcess::Reply ServerProcess::parse(const QByteArray &response)
{
    Reply reply;
    const qsizetype end = response.indexOf("\r\n\r\n");
    if (end < 0) {
        reply.head = response;
        return reply;
    }
    reply.head = response.left(end);
    const QList<QByteArray> statusLine = reply.head.left(reply.head.indexOf("\r\n")).split(' ');
    if (statusLine.size() >= 2)
        reply.status = statusLine.at(1).toInt();
    reply.body = response.mid(end + 4);
    return reply;
}

ServerProcess::Reply ServerProcess::exchange(const QByteArray &raw, int timeoutMs, const QHostAddress &from)
{
    QTcpSocket socket;
    // Another loopback address stands for another client.
    if (!from.isNull())
        socket.bind(from);
    socket.connectToHost(QHostAddress::LocalHost, m_port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(raw);
    socket.waitForBytesWritten(5000);
    QByteArray response;
    QElapsedTimer waited;
    waited.start();
    bool closed = false;
    while (waited.elapsed() < timeoutMs) {
        if (socket.waitForReadyRead(50))
            response += socket.readAll();
        if (socket.state() != QAbstractSocket::ConnectedState) {
            response += socket.readAll();
            closed = true;
            break;
        }
    }
    Reply reply = parse(response);
    reply.closed = closed;
    reply.raw = response;
    return reply;
}

ServerProcess::Reply ServerProcess::get(const QByteArray &target, const QByteArray &method)
{
    return exchange(method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

QByteArray entryTarget(int score, const QByteArray &name, const QByteArray &userId, int mode,
                       const QByteArray &version)
{
    return QByteArray(RankingProtocol::EntryPath) + "?hs=" + QByteArray::number(score) + "&nm=" + name + '@'
           + userId + "&md=" + QByteArray::number(mode) + "&vr=" + version;
}

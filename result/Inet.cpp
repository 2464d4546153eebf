#include "result/Inet.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

// Reads one HTTP/1.1 response as its bytes arrive and keeps its body. The
// head is read only to know where the body ends (Content-Length, chunked, or
// the end of the connection) and to skip interim 1xx answers.
class ResponseReader
{
public:
    enum class State { StatusLine, Headers, Body, ChunkSize, ChunkData, ChunkEnd, Trailers, Done, Failed };

    explicit ResponseReader(qsizetype cap) : m_cap(cap) {}

    State state() const { return m_state; }
    bool finished() const { return m_state == State::Done || m_state == State::Failed; }
    const QByteArray &body() const { return m_body; }

    void feed(const QByteArray &bytes)
    {
        m_pending += bytes;
        while (!finished() && step()) {
        }
    }

    // The server closed the connection: the end of the body only when the
    // response carries no length of its own.
    void connectionClosed()
    {
        if (finished())
            return;
        if (m_state == State::Body && m_remaining < 0)
            m_state = State::Done;
        else
            m_state = State::Failed;
    }

private:
    // Takes one line (without its CRLF) off the front; false while incomplete.
    bool takeLine(QByteArray &line)
    {
        const qsizetype end = m_pending.indexOf('\n');
        if (end < 0) {
            if (m_pending.size() > m_cap)
                m_state = State::Failed;
            return false;
        }
        line = m_pending.left(end);
        if (line.endsWith('\r'))
            line.chop(1);
        m_pending.remove(0, end + 1);
        m_headBytes += end + 1;
        if (m_headBytes > m_cap) {
            m_state = State::Failed;
            return false;
        }
        return true;
    }

    bool takeBody(qsizetype count)
    {
        const qsizetype n = count < 0 ? m_pending.size() : qMin(count, m_pending.size());
        if (m_body.size() + n > m_cap) {
            m_state = State::Failed;
            return false;
        }
        m_body += m_pending.left(n);
        m_pending.remove(0, n);
        return true;
    }

    // One step of reading; false when it needs more bytes (or has ended).
    bool step()
    {
        QByteArray line;
        switch (m_state) {
        case State::StatusLine: {
            if (!takeLine(line))
                return false;
            const QList<QByteArray> parts = line.split(' ');
            bool ok = false;
            m_status = parts.size() >= 2 && parts.at(0).startsWith("HTTP/1.") && parts.at(1).size() == 3
                           ? parts.at(1).toInt(&ok)
                           : 0;
            m_state = ok ? State::Headers : State::Failed;
            m_remaining = -1;
            m_chunked = false;
            return ok;
        }
        case State::Headers: {
            if (!takeLine(line))
                return false;
            if (!line.isEmpty())
                return readHeader(line);
            if (m_status >= 100 && m_status < 200) { // interim answer: the real one follows
                m_state = State::StatusLine;
                return true;
            }
            // The status is not judged: the body of a complete answer is
            // the answer, whatever the status says. These carry no body.
            if (m_status == 204 || m_status == 205 || m_status == 304)
                m_remaining = 0;
            if (m_chunked)
                m_state = State::ChunkSize;
            else if (m_remaining > m_cap)
                m_state = State::Failed;
            else
                m_state = m_remaining == 0 ? State::Done : State::Body;
            return true;
        }
        case State::Body: {
            if (m_pending.isEmpty())
                return false;
            const qsizetype before = m_body.size();
            if (!takeBody(m_remaining))
                return false;
            if (m_remaining >= 0) {
                m_remaining -= m_body.size() - before;
                if (m_remaining == 0)
                    m_state = State::Done;
            }
            return true;
        }
        case State::ChunkSize: {
            if (!takeLine(line))
                return false;
            const qsizetype extension = line.indexOf(';');
            const QByteArray hex = (extension < 0 ? line : line.first(extension)).trimmed();
            bool ok = false;
            const qlonglong size = hex.toLongLong(&ok, 16);
            if (!ok || size < 0 || m_body.size() + size > m_cap) {
                m_state = State::Failed;
                return false;
            }
            m_remaining = size;
            m_state = size == 0 ? State::Trailers : State::ChunkData;
            return true;
        }
        case State::ChunkData: {
            if (m_pending.isEmpty())
                return false;
            const qsizetype before = m_body.size();
            if (!takeBody(m_remaining))
                return false;
            m_remaining -= m_body.size() - before;
            if (m_remaining == 0)
                m_state = State::ChunkEnd;
            return true;
        }
        case State::ChunkEnd:
            if (!takeLine(line))
                return false;
            m_state = line.isEmpty() ? State::ChunkSize : State::Failed;
            return m_state != State::Failed;
        case State::Trailers:
            if (!takeLine(line))
                return false;
            if (line.isEmpty())
                m_state = State::Done;
            return true;
        case State::Done:
        case State::Failed:
            break;
        }
        return false;
    }

    bool readHeader(const QByteArray &line)
    {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            m_state = State::Failed;
            return false;
        }
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "transfer-encoding") {
            m_chunked = value.toLower().endsWith("chunked");
        } else if (name == "content-length") {
            bool ok = false;
            const qlonglong length = value.toLongLong(&ok);
            // A second, different length makes the end of the body a guess.
            if (!ok || length < 0 || (m_remaining >= 0 && m_remaining != length)) {
                m_state = State::Failed;
                return false;
            }
            m_remaining = length;
        }
        return true;
    }

    const qsizetype m_cap;
    State m_state = State::StatusLine;
    QByteArray m_pending;
    QByteArray m_body;
    qsizetype m_headBytes = 0;
    int m_status = 0;
    bool m_chunked = false;
    qlonglong m_remaining = -1; // bytes of the body or chunk still due; -1: up to the close
};

} // namespace

std::optional<QByteArray> Inet::OpenURL(const QByteArray &url)
{
    m_url = QString::fromLatin1(url);

    const QUrl parsed = QUrl::fromEncoded(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme() != QLatin1String("http") || parsed.host().isEmpty())
        return std::nullopt;
    // Path and query exactly as given: QUrl would turn %2E back into "." and
    // the like, and the server is to see what was built.
    const QByteArray authorityStart = "http://";
    const qsizetype pathStart = url.indexOf('/', authorityStart.size());
    const qsizetype queryStart = url.indexOf('?', authorityStart.size());
    QByteArray target = url.mid(pathStart >= 0 && (queryStart < 0 || pathStart < queryStart)
                                    ? pathStart
                                    : (queryStart >= 0 ? queryStart : url.size()));
    if (!target.startsWith('/'))
        target.prepend('/');
    if (const qsizetype fragment = target.indexOf('#'); fragment >= 0)
        target.truncate(fragment);

    const QByteArray request = "GET " + target + " HTTP/1.1\r\n"
                               "Host: " + parsed.authority(QUrl::FullyEncoded | QUrl::RemoveUserInfo).toLatin1() + "\r\n"
                               "User-Agent: Tovrika/1.00\r\n"
                               "Accept: */*\r\n"
                               "Connection: close\r\n\r\n";

    QTcpSocket socket;
    ResponseReader reader(MaxBodyBytes);
    QEventLoop loop;
    bool over = false;

    const auto finish = [&] {
        over = true;
        loop.quit();
    };
    const auto readAvailable = [&] {
        reader.feed(socket.readAll());
        if (reader.finished())
            finish();
    };
    const auto closed = [&] {
        readAvailable();
        reader.connectionClosed();
        finish();
    };
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] { socket.write(request); });
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, readAvailable);
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, closed);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop,
                     [&](QAbstractSocket::SocketError error) {
                         if (error == QAbstractSocket::RemoteHostClosedError)
                             closed();
                         else
                             finish();
                     });
    // Bounds the whole request, so neither a silent server nor one that
    // trickles bytes can hold the entry window for longer.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, finish);
    deadline.start(m_requestTimeoutMs);

    socket.connectToHost(parsed.host(), quint16(parsed.port(m_remotePort)));
    if (!over)
        loop.exec();
    deadline.stop();
    QObject::disconnect(&socket, nullptr, &loop, nullptr);
    socket.abort();

    if (reader.state() != ResponseReader::State::Done)
        return std::nullopt;
    return reader.body();
}

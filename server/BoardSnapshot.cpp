#include "server/BoardSnapshot.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QSaveFile>

#include <zlib.h>

#include <mutex>
#include <shared_mutex>
#include <type_traits>
#include <unistd.h>

namespace {

constexpr char Magic[8] = {'T', 'O', 'V', 'B', 'O', 'A', 'R', 'D'};
// Raised with any change of the bytes below or of the rows' layout.
constexpr quint32 FormatVersion = 1;
constexpr quint32 ByteOrderMark = 0x01020304;
constexpr qsizetype Chunk = 1 << 20;

// Buffered writes with a running CRC-32, which the last four bytes carry.
class Sink
{
public:
    explicit Sink(QIODevice &out) : m_out(out) { m_buffer.reserve(Chunk + 64); }
    void raw(const void *data, qsizetype size)
    {
        m_buffer.append(static_cast<const char *>(data), size);
        if (m_buffer.size() >= Chunk)
            flush();
    }
    template <typename T> void put(const T &value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        raw(&value, sizeof value);
    }
    void text(const QString &value)
    {
        const QByteArray bytes = value.toUtf8();
        put(quint32(bytes.size()));
        raw(bytes.constData(), bytes.size());
    }
    bool finish()
    {
        flush();
        const quint32 sum = quint32(m_crc);
        m_ok = m_ok && m_out.write(reinterpret_cast<const char *>(&sum), sizeof sum) == sizeof sum;
        return m_ok;
    }

private:
    void flush()
    {
        m_crc = crc32(m_crc, reinterpret_cast<const Bytef *>(m_buffer.constData()), uInt(m_buffer.size()));
        m_ok = m_ok && m_out.write(m_buffer) == m_buffer.size();
        m_buffer.clear();
    }
    QIODevice &m_out;
    QByteArray m_buffer;
    uLong m_crc = crc32(0, nullptr, 0);
    bool m_ok = true;
};

// The reading side: every read fails once the bytes run out.
class Source
{
public:
    explicit Source(QIODevice &in) : m_in(in) {}
    bool raw(void *data, qsizetype size)
    {
        char *to = static_cast<char *>(data);
        while (size > 0 && m_ok) {
            if (m_at == m_buffer.size()) {
                sum();
                m_buffer = m_in.read(Chunk);
                m_at = 0;
                m_ok = !m_buffer.isEmpty();
                continue;
            }
            const qsizetype part = std::min(size, m_buffer.size() - m_at);
            memcpy(to, m_buffer.constData() + m_at, size_t(part));
            m_at += part;
            to += part;
            size -= part;
        }
        return m_ok;
    }
    template <typename T> bool get(T &value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return raw(&value, sizeof value);
    }
    bool text(QString &value)
    {
        quint32 size = 0;
        if (!get(size) || size > 4096)
            return m_ok = false;
        QByteArray bytes(size, Qt::Uninitialized);
        if (!raw(bytes.data(), size))
            return false;
        value = QString::fromUtf8(bytes);
        return true;
    }
    // Whether the CRC-32 at the end matches the bytes read, and nothing follows it.
    bool whole()
    {
        sum();
        const uLong expected = m_crc;
        quint32 stored = 0;
        if (!raw(&stored, sizeof stored))
            return false;
        return stored == quint32(expected) && m_at == m_buffer.size() && m_in.atEnd();
    }
    bool ok() const { return m_ok; }

private:
    void sum()
    {
        m_crc = crc32(m_crc, reinterpret_cast<const Bytef *>(m_buffer.constData()) + m_summed, uInt(m_at - m_summed));
        m_summed = m_at;
        if (m_at == m_buffer.size())
            m_summed = 0;
    }
    QIODevice &m_in;
    QByteArray m_buffer;
    qsizetype m_at = 0;
    qsizetype m_summed = 0;
    uLong m_crc = crc32(0, nullptr, 0);
    bool m_ok = true;
};

} // namespace

qint64 BoardModel::sizeEstimate() const
{
    std::shared_lock lock(m_lock);
    qint64 rows = 0;
    for (const BoardData &board : m_boards)
        rows += board.rows.size();
    return rows * qint64(sizeof(UserKey) + sizeof(Row)) + m_oddUsers.size() * 64 + m_oddNames.size() * 64 + 4096;
}

bool BoardModel::save(QIODevice &out) const
{
    Sink sink(out);
    sink.raw(Magic, sizeof Magic);
    sink.put(ByteOrderMark);
    sink.put(FormatVersion);
    sink.put(quint32(sizeof(Row)));
    sink.text(QString::fromUtf8(m_zone.id()));
    sink.put(m_position);
    sink.put(m_print.atMs);
    sink.put(quint32(m_print.kind));
    sink.put(m_print.user);
    sink.put(m_print.mode);
    sink.put(m_print.score);
    sink.put(m_print.name);
    sink.put(m_newestMs);
    sink.put(m_closedSwept);
    sink.put(quint32(m_oddUsers.size()));
    for (const QString &user : m_oddUsers)
        sink.text(user);
    sink.put(quint32(m_oddNames.size()));
    for (const QString &name : m_oddNames)
        sink.text(name);
    sink.put(quint32(m_banned.size()));
    for (UserKey user : m_banned)
        sink.put(user);
    sink.put(quint32(m_boards.size()));
    for (auto board = m_boards.cbegin(); board != m_boards.cend(); ++board) {
        sink.put(board.key());
        sink.put(quint32(board->rows.size()));
        for (auto row = board->rows.cbegin(); row != board->rows.cend(); ++row) {
            sink.put(row.key());
            sink.put(row.value());
        }
    }
    return sink.finish();
}

void BoardModel::clear()
{
    m_position = 0;
    m_print = Print{};
    m_openMinute = -1;
    setNewest(0);
    m_closedSwept = 0;
    m_boards.clear();
    m_banned.clear();
    m_oddUsers.clear();
    m_oddUserIndex.clear();
    m_oddNames.clear();
    m_oddNameIndex.clear();
}

bool BoardModel::load(QIODevice &in, QString *error)
{
    Source source(in);
    auto refuse = [&](const QString &why) {
        *error = why;
        clear();
        return false;
    };
    char magic[sizeof Magic] = {};
    quint32 order = 0, version = 0, rowSize = 0;
    if (!source.raw(magic, sizeof magic) || memcmp(magic, Magic, sizeof Magic) != 0)
        return refuse(QStringLiteral("not a snapshot of the boards"));
    if (!source.get(order) || !source.get(version) || !source.get(rowSize) || order != ByteOrderMark
        || version != FormatVersion || rowSize != sizeof(Row))
        return refuse(QStringLiteral("written by another build (format %1)").arg(version));
    QString zone;
    if (!source.text(zone) || zone.toUtf8() != m_zone.id())
        return refuse(QStringLiteral("of the time zone %1, not %2").arg(zone, QString::fromUtf8(m_zone.id())));
    quint32 count = 0, kind = 0;
    bool ok = source.get(m_position) && source.get(m_print.atMs) && source.get(kind) && source.get(m_print.user)
              && source.get(m_print.mode) && source.get(m_print.score) && source.get(m_print.name) && source.get(m_newestMs)
              && source.get(m_closedSwept) && source.get(count);
    if (ok) {
        m_openMinute = -1;
        setNewest(m_newestMs);
    }
    for (quint32 i = 0; ok && i < count; ++i) {
        QString user;
        ok = source.text(user);
        m_oddUserIndex.insert(user, OddUser | quint64(m_oddUsers.size()));
        m_oddUsers.append(user);
    }
    ok = ok && source.get(count);
    for (quint32 i = 0; ok && i < count; ++i) {
        QString name;
        ok = source.text(name);
        m_oddNameIndex.insert(name, quint32(m_oddNames.size()));
        m_oddNames.append(name);
    }
    ok = ok && source.get(count);
    for (quint32 i = 0; ok && i < count; ++i) {
        UserKey user = 0;
        ok = source.get(user);
        m_banned.insert(user);
    }
    ok = ok && source.get(count);
    for (quint32 i = 0; ok && i < count; ++i) {
        qint64 key = 0;
        quint32 rows = 0;
        ok = source.get(key) && source.get(rows);
        BoardData &data = m_boards[key];
        // A damaged count must not reserve the machine's memory: the CRC tells only at the end.
        if (ok && rows <= quint32(in.size() / qint64(sizeof(UserKey) + sizeof(Row))))
            data.rows.reserve(rows);
        std::map<qint32, qint64> counts;
        for (quint32 r = 0; ok && r < rows; ++r) {
            UserKey user = 0;
            Row row;
            ok = source.get(user) && source.get(row);
            data.rows.insert(user, row);
            ++counts[row.score];
        }
        data.counts.insert(counts.begin(), counts.end());
        refreshFirst(data);
    }
    m_print.kind = LogRow::Kind(kind);
    if (!ok || !source.whole())
        return refuse(QStringLiteral("cut short or damaged"));
    return true;
}

namespace BoardSnapshot {

bool write(const BoardModel &model, const QString &path, qint64 *position, QString *error)
{
    // The log shares the disk: a snapshot never takes the room its commits need.
    const qint64 room = QStorageInfo(QFileInfo(path).absolutePath()).bytesAvailable();
    const qint64 needed = model.sizeEstimate() + (qint64(64) << 20);
    if (room >= 0 && room < needed)
        return *error = QStringLiteral("not written: %1 MiB free beside %2, %3 MiB needed to leave the log room")
                            .arg(room >> 20).arg(path).arg(needed >> 20), false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString()), false;
    bool saved = false;
    {
        std::shared_lock lock(model.lock());
        saved = model.save(file) && file.flush();
        *position = model.position();
    }
    // Synced before the rename, so that a crash leaves the old file or the whole new one.
    if (!saved || ::fdatasync(file.handle()) != 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString()), false;
    return true;
}

bool read(const QString &path, BoardModel &into, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.exists() ? QStringLiteral("cannot read %1: %2").arg(path, file.errorString())
                               : QStringLiteral("there is none yet");
        return false;
    }
    return into.load(file, error);
}

} // namespace BoardSnapshot

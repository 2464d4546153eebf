// Snapshots of the boards: any fold of log lines (entries, removals, bans,
// IDs and names that pack and those that do not, days apart) is read back
// from its snapshot as the same boards, and a snapshot cut short or with a
// byte changed is refused, never read as other boards. Raw bytes given as a
// snapshot are refused or read without harm.
#include "server/BoardModel.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const QTimeZone &tokyo()
{
    static const QTimeZone zone("Asia/Tokyo");
    return zone;
}

QByteArray saved(const BoardModel &model)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!model.save(buffer))
        std::abort();
    return bytes;
}

bool loads(const QByteArray &bytes, BoardModel &into)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QString error;
    return into.load(buffer, &error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 1) {
        BoardModel model(3, tokyo());
        if (loads(QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)), model))
            model.dump();
        return 0;
    }
    static const char *const users[] = {"1", "007", "7", "-12", "odd id", "12345678901234567"};
    static const char *const names[] = {"A", "Taro", "名前", "x15charactersxx", "<b>"};
    BoardModel model(1 + data[0] % 4, tokyo());
    qint64 id = 0;
    for (std::size_t i = 1; i + 3 < size; i += 4) {
        LogRow row;
        row.id = ++id;
        row.kind = LogRow::Kind(data[i] % 8 < 5 ? 0 : data[i] % 8 - 4);
        row.atMs = 1796644800000 + qint64(data[i + 1]) * 3600000;
        row.userId = QString::fromUtf8(users[data[i + 2] % std::size(users)]);
        row.name = QString::fromUtf8(names[(data[i + 2] >> 4) % std::size(names)]);
        row.mode = row.kind == LogRow::Kind::Remove ? int(data[i + 3] % 3) - 1 : data[i + 3] % 2;
        row.score = data[i + 3] % 302;
        model.apply(row);
    }
    const QByteArray bytes = saved(model);
    BoardModel read(model.top(), tokyo());
    if (!loads(bytes, read) || read.dump() != model.dump() || read.positionPrint() != model.positionPrint()
        || saved(read).size() != bytes.size())
        std::abort();
    QByteArray changed = bytes;
    const qsizetype at = qsizetype(data[size - 1]) * 7919 % changed.size();
    changed[at] = char(changed[at] ^ (1 << (data[size - 1] % 8)));
    BoardModel refused(model.top(), tokyo());
    if (loads(changed, refused) || loads(bytes.left(at), refused))
        std::abort();
    return 0;
}

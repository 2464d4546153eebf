// The ranking server's reading of an entry, from arbitrary bytes taken as
// the request target that the HTTP layer hands over: an entry read as valid
// holds only what the entry rule admits, and written back as the game
// writes it, it reads the same again.
#include "protocol/RankingProtocol.h"
#include "server/HttpDaemon.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace RankingProtocol;
    HttpRequest request;
    request.setTarget(QByteArray(EntryPath) + '?' + QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (request.path != EntryPath)
        std::abort();
    const ParsedEntry parsed = parseEntryQuery(request.rawQuery);
    if (parsed.status != ParsedEntry::Status::Valid)
        return 0;
    const Entry &entry = parsed.entry;
    if (entry.score < 0 || entry.score > MaxScore || entry.mode < 0 || entry.mode >= ModeCount
        || !isValidName(entry.name) || !isValidUserId(entry.userId))
        std::abort();
    const QByteArray again = "hs=" + QByteArray::number(entry.score) + "&nm=" + entry.name.toLatin1() + '@'
                             + entry.userId.toLatin1() + "&md=" + QByteArray::number(entry.mode) + "&vr=2";
    const ParsedEntry reread = parseEntryQuery(again);
    if (reread.status != ParsedEntry::Status::Valid || reread.entry.score != entry.score
        || reread.entry.mode != entry.mode || reread.entry.name != entry.name
        || reread.entry.userId != entry.userId)
        std::abort();
    return 0;
}

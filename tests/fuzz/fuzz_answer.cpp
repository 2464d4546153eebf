// Fuzzes the meaning of a ranking server's answer: any body gives one of the
// four messages, and only the three exact answer words give anything but the
// error message.

#include "FuzzInput.h"
#include "result/RankingEntry.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body = FuzzInput::bytes(data, size);
    const RankingEntry::Answer answer = RankingEntry::answerFor(body);
    const bool word = body == "OK" || body == "CANNOT_RANK_IN" || body == "INVALID_VERSION";
    const bool error = answer.icon == MessageBoxes::Icon::Error;
    if (word == error)
        std::abort();
    if (error && answer.message != RankingEntry::failureMessage())
        std::abort();
    return 0;
}

// Fuzzes the tag syntax: any tag and key, read without fault; a bare key
// appended as the last item is always found, and an item that comes first
// always wins.

#include "FuzzInput.h"
#include "shell/modCommon.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto [tag, key] = FuzzInput::twoTexts(data, size);
    const std::optional<QString> value = GetTagValue(tag, key);

    if (!key.isEmpty() && !key.contains(u';') && !key.contains(u'=')) {
        if (!GetTagValue(tag + QLatin1Char(';') + key, key).has_value())
            std::abort();  // the appended bare key must be found
        const std::optional<QString> first = GetTagValue(key + QLatin1String("=x;") + tag, key);
        if (!first || *first != u"x")
            std::abort();  // the first item with the key wins
    }
    if (value && value->size() > tag.size())
        std::abort();  // a value is a piece of the tag
    return 0;
}

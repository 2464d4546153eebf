// Ranks and shares from arbitrary rows: competition ranks count the rows
// with a higher score, equal scores share a rank, and the share text stays a
// percentage with one decimal. The rows are put in board order only as the
// ranking expects its input; the order itself is the database's and the
// server tests check it on boards written out by hand.
#include "server/Boards.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QList<BoardRow> rows;
    for (std::size_t i = 0; i + 2 < size; i += 3) {
        BoardRow row;
        row.score = (data[i] | (data[i + 1] << 8)) % 302;
        row.reachedMs = data[i + 2];
        rows.append(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const BoardRow &a, const BoardRow &b) {
        return a.score != b.score ? a.score > b.score : a.reachedMs < b.reachedMs;
    });
    assignRanks(rows);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const auto higher = std::count_if(rows.cbegin(), rows.cend(),
                                          [&](const BoardRow &row) { return row.score > rows[i].score; });
        if (rows[i].rank != higher + 1)
            std::abort();
        const QString share = shareText(rows[i].rank, rows.size());
        if (!share.startsWith(QStringLiteral("上位 ")) || !share.endsWith(u'%') || share.count(u'.') != 1)
            std::abort();
    }
    return 0;
}

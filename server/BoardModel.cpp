#include "server/BoardModel.h"

#include "protocol/RankingProtocol.h"

#include <QDateTime>

#include <algorithm>

BoardModel::BoardModel(int top, QTimeZone zone) : m_top(top), m_zone(std::move(zone)) {}

quint32 BoardModel::intern(QHash<QString, quint32> &index, QList<QString> &values, const QString &value)
{
    const auto found = index.constFind(value);
    if (found != index.cend())
        return found.value();
    const quint32 number = quint32(values.size());
    values.append(value);
    index.insert(value, number);
    return number;
}

qint64 BoardModel::higher(const BoardData &data, qint32 score) const
{
    qint64 rows = 0;
    for (auto it = data.counts.begin(); it != data.counts.end() && it->first > score; ++it)
        rows += it->second;
    return rows;
}

BoardModel::BoardData &BoardModel::touch(qint64 key)
{
    BoardData &data = m_boards[key];
    if (m_trying && !m_undoFirst.contains(key))
        m_undoFirst.insert(key, data.first);
    return data;
}

void BoardModel::remember(qint64 key, quint32 user, const BoardData &data)
{
    if (!m_trying)
        return;
    const auto found = data.rows.constFind(user);
    m_undo.push_back(Undo{key, user, found != data.rows.cend(), found != data.rows.cend() ? *found : Row{}});
}

bool BoardModel::ranksIn(const BoardData &data, qint32 score) const
{
    // Below full first rows: top rows at least stand higher, without counting.
    if (qsizetype(data.first.size()) >= m_top && score < std::prev(data.first.end())->score)
        return false;
    return higher(data, score) < m_top;
}

void BoardModel::put(BoardData &data, quint32 user, const Row &row)
{
    auto existing = data.rows.find(user);
    if (existing != data.rows.end()) {
        auto count = data.counts.find(existing->score);
        if (--count->second == 0)
            data.counts.erase(count);
        data.first.erase(OrderKey{existing->score, existing->reachedMs, existing->seq, user});
        *existing = row;
    } else {
        data.rows.insert(user, row);
    }
    ++data.counts[row.score];
    if (!ranksIn(data, row.score))
        return;
    data.first.insert(OrderKey{row.score, row.reachedMs, row.seq, user});
    // The rows pushed past top leave, a score at a time: equal scores share a rank.
    while (!data.first.empty()) {
        const qint32 lowest = std::prev(data.first.end())->score;
        if (higher(data, lowest) < m_top)
            break;
        while (!data.first.empty() && std::prev(data.first.end())->score == lowest)
            data.first.erase(std::prev(data.first.end()));
    }
}

void BoardModel::erase(BoardData &data, quint32 user)
{
    const auto existing = data.rows.constFind(user);
    if (existing == data.rows.cend())
        return;
    auto count = data.counts.find(existing->score);
    if (--count->second == 0)
        data.counts.erase(count);
    // Rows below a first row move up; below another row they stay below top.
    if (data.first.erase(OrderKey{existing->score, existing->reachedMs, existing->seq, user}) > 0)
        data.firstStale = true;
    data.rows.erase(existing);
}

void BoardModel::refreshFirst(BoardData &data)
{
    data.first.clear();
    data.firstStale = false;
    qint64 above = 0;
    std::optional<qint32> lowest;
    for (const auto &[score, rows] : data.counts) {
        if (above >= m_top)
            break;
        lowest = score;
        above += rows;
    }
    if (!lowest)
        return;
    for (auto it = data.rows.cbegin(); it != data.rows.cend(); ++it) {
        if (it->score >= *lowest)
            data.first.insert(OrderKey{it->score, it->reachedMs, it->seq, it.key()});
    }
}

void BoardModel::refreshStale()
{
    for (qint64 key : std::as_const(m_stale)) {
        BoardData &data = m_boards[key];
        if (data.firstStale)
            refreshFirst(data);
    }
    m_stale.clear();
}

void BoardModel::takeOff(quint32 user, int mode)
{
    QList<qint64> &keys = m_boardsOf[user];
    QList<qint64> kept;
    for (qint64 key : std::as_const(keys)) {
        if (mode >= 0 && int(key % 8) / BoardCount != mode) {
            kept.append(key);
            continue;
        }
        BoardData &data = touch(key);
        remember(key, user, data);
        erase(data, user);
        if (data.firstStale)
            m_stale.append(key);
    }
    keys = kept;
}

EntryAnswer BoardModel::apply(const LogRow &row, bool *rowsChanged)
{
    if (row.id <= m_position)
        return EntryAnswer::CannotRankIn;
    m_position = row.id;
    const quint32 user = intern(m_userIndex, m_userIds, row.userId);
    auto ban = [&](bool banned) {
        if (m_trying)
            m_undoBans.emplace_back(user, m_banned.contains(user));
        banned ? void(m_banned.insert(user)) : void(m_banned.remove(user));
    };
    bool ranksIn = false;
    switch (row.kind) {
    case LogRow::Kind::Entry: {
        if (row.removed || m_banned.contains(user) || row.mode < 0 || row.mode >= RankingProtocol::ModeCount)
            break;
        const Row made{intern(m_nameIndex, m_names, row.name), row.score, row.atMs, row.id};
        for (Board board : AllBoards) {
            const qint64 key = boardKey(row.mode, board, periodKey(board, row.atMs, m_zone));
            BoardData &data = touch(key);
            const auto existing = data.rows.constFind(user);
            if (existing == data.rows.cend() || existing->score < row.score) {
                if (existing == data.rows.cend())
                    m_boardsOf[user].append(key);
                remember(key, user, data);
                put(data, user, made);
            } else if (existing->score > row.score) {
                // This score is not the installation's there: it cannot stand on this board.
                continue;
            }
            ranksIn = ranksIn || this->ranksIn(data, row.score);
        }
        if (rowsChanged && ranksIn)
            *rowsChanged = true;
        break;
    }
    case LogRow::Kind::Remove:
        takeOff(user, row.mode);
        break;
    case LogRow::Kind::Ban:
        takeOff(user, -1);
        ban(true);
        break;
    case LogRow::Kind::Unban:
        ban(false);
        break;
    case LogRow::Kind::Refuse:
        ban(true);
        break;
    }
    if (row.kind != LogRow::Kind::Entry && rowsChanged)
        *rowsChanged = true;
    refreshStale();
    return ranksIn ? EntryAnswer::Ok : EntryAnswer::CannotRankIn;
}

void BoardModel::begin()
{
    m_trying = true;
    m_undo.clear();
    m_undoFirst.clear();
    m_undoBans.clear();
    m_undoPosition = m_position;
}

void BoardModel::commit()
{
    m_trying = false;
    m_undo.clear();
    m_undoFirst.clear();
    m_undoBans.clear();
}

void BoardModel::rollback()
{
    for (auto undo = m_undo.rbegin(); undo != m_undo.rend(); ++undo) {
        BoardData &data = m_boards[undo->key];
        QList<qint64> &keys = m_boardsOf[undo->user];
        const auto current = data.rows.find(undo->user);
        if (current != data.rows.end()) {
            auto count = data.counts.find(current->score);
            if (--count->second == 0)
                data.counts.erase(count);
            data.rows.erase(current);
        }
        if (undo->had) {
            data.rows.insert(undo->user, undo->row);
            ++data.counts[undo->row.score];
            if (!keys.contains(undo->key))
                keys.append(undo->key);
        } else {
            keys.removeOne(undo->key);
        }
    }
    for (auto it = m_undoFirst.begin(); it != m_undoFirst.end(); ++it) {
        BoardData &data = m_boards[it.key()];
        data.first = std::move(it.value());
        data.firstStale = false;
    }
    for (auto ban = m_undoBans.rbegin(); ban != m_undoBans.rend(); ++ban)
        ban->second ? void(m_banned.insert(ban->first)) : void(m_banned.remove(ban->first));
    m_position = m_undoPosition;
    commit();
}

const BoardModel::BoardData *BoardModel::find(int mode, Board board, qint64 nowMs) const
{
    const auto found = m_boards.constFind(boardKey(mode, board, periodKey(board, nowMs, m_zone)));
    return found == m_boards.cend() ? nullptr : &found.value();
}

BoardRow BoardModel::view(quint32 user, const Row &row, int rank) const
{
    return BoardRow{rank, m_names.value(row.name), m_userIds.value(user), row.score, row.reachedMs};
}

std::optional<BoardView> BoardModel::board(int mode, Board board, const QString &visitorId, qint64 nowMs) const
{
    BoardView result;
    result.mode = mode;
    result.board = board;
    const BoardData *data = find(mode, board, nowMs);
    if (!data)
        return result;
    bool visitorShown = false;
    for (const OrderKey &key : data->first) {
        result.rows.append(view(key.user, data->rows.value(key.user), 0));
        visitorShown = visitorShown || result.rows.last().userId == visitorId;
    }
    assignRanks(result.rows);
    result.total = data->rows.size();
    if (!visitorId.isEmpty() && !visitorShown)
        result.visitorBelow = standing(mode, board, visitorId, nowMs).row;
    return result;
}

QList<BoardView> BoardModel::firstRows(qint64 nowMs) const
{
    QList<BoardView> views;
    for (int mode = 0; mode < RankingProtocol::ModeCount; ++mode) {
        for (Board each : AllBoards)
            views.append(*board(mode, each, QString(), nowMs));
    }
    return views;
}

VisitorStanding BoardModel::standing(int mode, Board board, const QString &visitorId, qint64 nowMs) const
{
    VisitorStanding own;
    const BoardData *data = find(mode, board, nowMs);
    if (!data)
        return own;
    own.total = data->rows.size();
    const auto user = m_userIndex.constFind(visitorId);
    if (user == m_userIndex.cend())
        return own;
    const auto row = data->rows.constFind(user.value());
    if (row != data->rows.cend())
        own.row = view(user.value(), *row, int(higher(*data, row->score) + 1));
    return own;
}

bool BoardModel::isBanned(const QString &userId) const
{
    const auto user = m_userIndex.constFind(userId);
    return user != m_userIndex.cend() && m_banned.contains(user.value());
}

QStringList BoardModel::describe(const QString &userId) const
{
    QStringList lines;
    const auto user = m_userIndex.constFind(userId);
    if (user == m_userIndex.cend())
        return lines;
    QList<qint64> keys = m_boardsOf.value(user.value());
    std::sort(keys.begin(), keys.end(), [](qint64 a, qint64 b) { return std::pair(a % 8, a / 8) < std::pair(b % 8, b / 8); });
    for (qint64 key : std::as_const(keys)) {
        const Row row = m_boards.value(key).rows.value(user.value());
        const int slot = int(key % 8);
        lines << QStringLiteral("row\tmode %1\t%2 %3\tscore %4\t%5\t%6")
                     .arg(slot / BoardCount)
                     .arg(boardName(Board(slot % BoardCount)))
                     .arg(key / 8)
                     .arg(row.score)
                     .arg(m_names.value(row.name),
                          QDateTime::fromMSecsSinceEpoch(row.reachedMs, m_zone)
                              .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t")));
    }
    return lines;
}

QStringList BoardModel::dump() const
{
    QStringList lines;
    for (auto board = m_boards.cbegin(); board != m_boards.cend(); ++board) {
        std::vector<OrderKey> order;
        for (auto row = board->rows.cbegin(); row != board->rows.cend(); ++row)
            order.push_back(OrderKey{row->score, row->reachedMs, row->seq, row.key()});
        std::sort(order.begin(), order.end());
        const QString prefix = QStringLiteral("%1|%2|").arg(board.key() % 8).arg(board.key() / 8, 8, 10, QLatin1Char('0'));
        int position = 0;
        for (const OrderKey &key : order) {
            lines << prefix
                         + QStringLiteral("%1|%2|%3|%4|%5|%6")
                               .arg(++position, 7, 10, QLatin1Char('0'))
                               .arg(m_userIds.value(key.user), m_names.value(board->rows.value(key.user).name))
                               .arg(key.score)
                               .arg(key.reachedMs)
                               .arg(key.seq);
        }
    }
    for (quint32 user : m_banned)
        lines << QStringLiteral("banned|") + m_userIds.value(user);
    lines.sort();
    return lines;
}

#include "server/BoardModel.h"

#include "protocol/RankingProtocol.h"

#include <QDateTime>
#include <QIODevice>

#include <zlib.h>

#include <algorithm>
#include <type_traits>

namespace {

constexpr int DigitBits = 57; // 10^17 < 2^57
constexpr quint32 OddName = 0x80000000u;
constexpr qint64 DayMs = 24 * 3600 * 1000;

int nameCode(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return 1 + (u - '0');
    if (u >= 'A' && u <= 'Z')
        return 11 + (u - 'A');
    return 37 + (u - 'a');
}

QChar nameChar(int code)
{
    if (code <= 10)
        return QChar(u'0' + (code - 1));
    if (code <= 36)
        return QChar(u'A' + (code - 11));
    return QChar(u'a' + (code - 37));
}

} // namespace

BoardModel::BoardModel(int top, QTimeZone zone) : m_top(top), m_zone(std::move(zone))
{
    setNewest(0);
}

QString BoardModel::printOf(const LogRow &row)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6")
        .arg(row.atMs)
        .arg(int(row.kind))
        .arg(row.userId)
        .arg(row.mode)
        .arg(row.score)
        .arg(row.name);
}

QString BoardModel::positionPrint() const
{
    LogRow row;
    row.atMs = m_print.atMs;
    row.kind = m_print.kind;
    row.userId = userText(m_print.user);
    row.mode = m_print.mode;
    row.score = m_print.score;
    row.name = nameText(m_print.name);
    return printOf(row);
}

std::optional<BoardModel::UserKey> BoardModel::findUser(const QString &userId) const
{
    if (RankingProtocol::isValidUserId(userId)) {
        const bool negative = userId.startsWith(u'-');
        const QStringView digits = QStringView(userId).mid(negative ? 1 : 0);
        quint64 value = 0;
        for (QChar c : digits)
            value = value * 10 + (c.unicode() - u'0');
        return value | quint64(digits.size()) << DigitBits | quint64(negative) << 62;
    }
    const auto found = m_oddUserIndex.constFind(userId);
    if (found == m_oddUserIndex.cend())
        return std::nullopt;
    return found.value();
}

BoardModel::UserKey BoardModel::userKey(const QString &userId)
{
    if (const std::optional<UserKey> known = findUser(userId))
        return *known;
    const UserKey key = OddUser | quint64(m_oddUsers.size());
    m_oddUsers.append(userId);
    m_oddUserIndex.insert(userId, key);
    return key;
}

QString BoardModel::userText(UserKey user) const
{
    if (user & OddUser)
        return m_oddUsers.value(qsizetype(user & ~OddUser));
    const int length = int(user >> DigitBits) & 31;
    const QString digits = QString::number(user & ((quint64(1) << DigitBits) - 1)).rightJustified(length, u'0');
    return (user >> 62 & 1) ? QLatin1Char('-') + digits : digits;
}

BoardModel::PackedName BoardModel::pack(const QString &name)
{
    PackedName packed;
    if (name.isEmpty() || RankingProtocol::isValidName(name)) {
        unsigned __int128 bits = 0;
        for (qsizetype i = 0; i < name.size(); ++i)
            bits |= (unsigned __int128)nameCode(name.at(i)) << (6 * i);
        for (int part = 0; part < 3; ++part)
            packed.part[part] = quint32(bits >> (32 * part));
        return packed;
    }
    auto found = m_oddNameIndex.constFind(name);
    if (found == m_oddNameIndex.cend()) {
        found = m_oddNameIndex.insert(name, quint32(m_oddNames.size()));
        m_oddNames.append(name);
    }
    packed.part[0] = found.value();
    packed.part[2] = OddName;
    return packed;
}

QString BoardModel::nameText(const PackedName &name) const
{
    if (name.part[2] & OddName)
        return m_oddNames.value(name.part[0]);
    unsigned __int128 bits = 0;
    for (int part = 0; part < 3; ++part)
        bits |= (unsigned __int128)name.part[part] << (32 * part);
    QString text;
    for (; bits != 0; bits >>= 6)
        text.append(nameChar(int(bits & 63)));
    return text;
}

qint64 BoardModel::higher(const BoardData &data, qint32 score) const
{
    qint64 rows = 0;
    for (auto it = data.counts.begin(); it != data.counts.end() && it->first > score; ++it)
        rows += it->second;
    return rows;
}

qint64 BoardModel::openFrom(Board board) const
{
    return board == Board::All ? 0 : m_openFrom[board == Board::Today ? 0 : 1];
}

void BoardModel::setNewest(qint64 atMs)
{
    m_newestMs = atMs;
    // Whole minutes: the open periods are worked out again only when the
    // newest stamp moves on by one, here under the model's write lock, so
    // that readers holding it shared only read them.
    const qint64 minute = atMs / 60000;
    if (minute == m_openMinute)
        return;
    const qint64 dayBefore = minute * 60000 - DayMs;
    m_openFrom[0] = periodKey(Board::Today, dayBefore, m_zone);
    m_openFrom[1] = periodKey(Board::Week, dayBefore, m_zone);
    m_openMinute = minute;
}

void BoardModel::letGoOfClosed()
{
    if (m_trying || openFrom(Board::Today) <= m_closedSwept)
        return;
    m_closedSwept = openFrom(Board::Today);
    m_boards.removeIf([this](const auto &board) { return !isOpen(board.key()); });
}

void BoardModel::keepFirst(qint64 key, const BoardData &data)
{
    if (m_trying)
        m_undoFirst.push_back(FirstUndo{key, FirstUndo::What::Whole, {}, data.first});
}

void BoardModel::insertFirst(qint64 board, BoardData &data, const OrderKey &key)
{
    if (data.first.insert(key).second && m_trying)
        m_undoFirst.push_back(FirstUndo{board, FirstUndo::What::Inserted, key, {}});
}

bool BoardModel::eraseFirst(qint64 board, BoardData &data, OrderKey key)
{
    if (data.first.erase(key) == 0)
        return false;
    if (m_trying)
        m_undoFirst.push_back(FirstUndo{board, FirstUndo::What::Erased, key, {}});
    return true;
}

void BoardModel::remember(qint64 key, UserKey user, const BoardData &data)
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

void BoardModel::place(qint64 board, BoardData &data, UserKey user, Row &slot, bool isNew, const Row &row)
{
    if (!isNew) {
        auto count = data.counts.find(slot.score);
        if (--count->second == 0)
            data.counts.erase(count);
        eraseFirst(board, data, OrderKey{slot.score, slot.reachedMs, slot.seq, user});
    }
    slot = row;
    ++data.counts[row.score];
    if (!ranksIn(data, row.score))
        return;
    insertFirst(board, data, OrderKey{row.score, row.reachedMs, row.seq, user});
    // The rows pushed past top leave, a score at a time: equal scores share a rank.
    while (!data.first.empty()) {
        const qint32 lowest = std::prev(data.first.end())->score;
        if (higher(data, lowest) < m_top)
            break;
        while (!data.first.empty() && std::prev(data.first.end())->score == lowest)
            eraseFirst(board, data, *std::prev(data.first.end()));
    }
}

void BoardModel::erase(qint64 board, BoardData &data, UserKey user)
{
    const auto existing = data.rows.constFind(user);
    if (existing == data.rows.cend())
        return;
    auto count = data.counts.find(existing->score);
    if (--count->second == 0)
        data.counts.erase(count);
    // Rows below a first row move up; below another row they stay below top.
    if (eraseFirst(board, data, OrderKey{existing->score, existing->reachedMs, existing->seq, user}))
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

void BoardModel::takeOff(UserKey user, int mode)
{
    for (auto board = m_boards.begin(); board != m_boards.end(); ++board) {
        if ((mode >= 0 && int(board.key() % 8) / BoardCount != mode) || !board->rows.contains(user))
            continue;
        keepFirst(board.key(), *board);
        remember(board.key(), user, *board);
        erase(board.key(), *board, user);
        if (board->firstStale)
            refreshFirst(*board);
    }
}

EntryAnswer BoardModel::apply(const LogRow &row, bool *rowsChanged)
{
    if (row.id <= m_position)
        return EntryAnswer::CannotRankIn;
    m_position = row.id;
    const UserKey user = userKey(row.userId);
    m_print = Print{row.atMs, row.kind, user, row.mode, row.score, pack(row.name)};
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
        setNewest(std::max(m_newestMs, row.atMs));
        const Row made{pack(row.name), row.score, row.atMs, row.id};
        for (Board board : AllBoards) {
            const qint64 period = periodKey(board, row.atMs, m_zone);
            if (period < openFrom(board))
                continue;
            const qint64 key = boardKey(row.mode, board, period);
            BoardData &data = m_boards[key];
            // One look-up of the installation's row, which a large board pays for in cache misses.
            const qsizetype rows = data.rows.size();
            Row &slot = data.rows[user];
            const bool isNew = data.rows.size() != rows;
            if (isNew || slot.score < row.score) {
                if (m_trying)
                    m_undo.push_back(Undo{key, user, !isNew, isNew ? Row{} : slot});
                place(key, data, user, slot, isNew, made);
            } else if (slot.score > row.score) {
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
    letGoOfClosed();
    return ranksIn ? EntryAnswer::Ok : EntryAnswer::CannotRankIn;
}

void BoardModel::begin()
{
    m_trying = true;
    m_undo.clear();
    m_undoFirst.clear();
    m_undoBans.clear();
    m_undoPosition = m_position;
    m_undoPrint = m_print;
    m_undoNewestMs = m_newestMs;
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
        }
    }
    for (auto undo = m_undoFirst.rbegin(); undo != m_undoFirst.rend(); ++undo) {
        BoardData &data = m_boards[undo->board];
        switch (undo->what) {
        case FirstUndo::What::Inserted:
            data.first.erase(undo->key);
            break;
        case FirstUndo::What::Erased:
            data.first.insert(undo->key);
            break;
        case FirstUndo::What::Whole:
            data.first = std::move(undo->whole);
            break;
        }
        data.firstStale = false;
    }
    for (auto ban = m_undoBans.rbegin(); ban != m_undoBans.rend(); ++ban)
        ban->second ? void(m_banned.insert(ban->first)) : void(m_banned.remove(ban->first));
    m_position = m_undoPosition;
    m_print = m_undoPrint;
    setNewest(m_undoNewestMs);
    commit();
}

const BoardModel::BoardData *BoardModel::find(int mode, Board board, qint64 nowMs) const
{
    const auto found = m_boards.constFind(boardKey(mode, board, periodKey(board, nowMs, m_zone)));
    return found == m_boards.cend() ? nullptr : &found.value();
}

BoardRow BoardModel::view(UserKey user, const Row &row, int rank) const
{
    return BoardRow{rank, nameText(row.name), userText(user), row.score, row.reachedMs};
}

std::optional<BoardView> BoardModel::board(int mode, Board board, const QString &visitorId, qint64 nowMs) const
{
    BoardView result;
    result.mode = mode;
    result.board = board;
    const BoardData *data = find(mode, board, nowMs);
    if (!data)
        return result;
    const std::optional<UserKey> visitor = visitorId.isEmpty() ? std::nullopt : findUser(visitorId);
    bool visitorShown = false;
    for (const OrderKey &key : data->first) {
        result.rows.append(view(key.user, data->rows.value(key.user), 0));
        visitorShown = visitorShown || key.user == visitor;
    }
    assignRanks(result.rows);
    result.total = data->rows.size();
    if (visitor && !visitorShown)
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
    const std::optional<UserKey> user = findUser(visitorId);
    if (!user)
        return own;
    const auto row = data->rows.constFind(*user);
    if (row != data->rows.cend())
        own.row = view(*user, *row, int(higher(*data, row->score) + 1));
    return own;
}

bool BoardModel::isBanned(const QString &userId) const
{
    const std::optional<UserKey> user = findUser(userId);
    return user && m_banned.contains(*user);
}

QStringList BoardModel::describe(const QString &userId) const
{
    QStringList lines;
    const std::optional<UserKey> user = findUser(userId);
    if (!user)
        return lines;
    QList<qint64> keys;
    for (auto board = m_boards.cbegin(); board != m_boards.cend(); ++board) {
        if (board->rows.contains(*user))
            keys.append(board.key());
    }
    std::sort(keys.begin(), keys.end(), [](qint64 a, qint64 b) { return std::pair(a % 8, a / 8) < std::pair(b % 8, b / 8); });
    for (qint64 key : std::as_const(keys)) {
        const Row row = m_boards.value(key).rows.value(*user);
        const int slot = int(key % 8);
        lines << QStringLiteral("row\tmode %1\t%2 %3\tscore %4\t%5\t%6")
                     .arg(slot / BoardCount)
                     .arg(boardName(Board(slot % BoardCount)))
                     .arg(key / 8)
                     .arg(row.score)
                     .arg(nameText(row.name),
                          QDateTime::fromMSecsSinceEpoch(row.reachedMs, m_zone)
                              .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t")));
    }
    return lines;
}

QStringList BoardModel::dump() const
{
    QStringList lines;
    for (auto board = m_boards.cbegin(); board != m_boards.cend(); ++board) {
        if (!isOpen(board.key()))
            continue;
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
                               .arg(userText(key.user), nameText(board->rows.value(key.user).name))
                               .arg(key.score)
                               .arg(key.reachedMs)
                               .arg(key.seq);
        }
    }
    for (UserKey user : m_banned)
        lines << QStringLiteral("banned|") + userText(user);
    lines.sort();
    return lines;
}

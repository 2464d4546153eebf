#pragma once

#include "server/Boards.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QTimeZone>

#include <map>
#include <set>
#include <shared_mutex>
#include <vector>

class QIODevice;

// One line of the entry log: an entry as it arrived, or an operator's act.
// The log is the only thing stored; everything else is its fold.
struct LogRow
{
    // The numbers stored in the log's kind column.
    enum class Kind : quint8 {
        Entry = 0,
        // Takes an ID's rows off the boards of one mode (mode 0 or 1) or of
        // both (mode -1); its later entries count afresh.
        Remove = 1,
        // Takes an ID's rows off every board and refuses its later entries.
        Ban = 2,
        // Later entries of the ID count again; nothing earlier comes back.
        Unban = 3,
        // A ban carried over from an older schema, whose live boards kept
        // the rows made before it: refuses later entries, takes nothing off.
        Refuse = 4,
    };
    qint64 id = 0;
    Kind kind = Kind::Entry;
    qint64 atMs = 0;
    QString client;
    QString userId;
    QString name;
    int mode = 0;
    int score = 0;
    // An entry taken off by an older schema's removal; folded as if absent.
    bool removed = false;
};

enum class EntryAnswer { Ok, CannotRankIn };

// The boards as the fold of the log, in log order: the one place where the
// rules of the boards live. Each board (mode, board, period) keeps one row an
// installation: its best score, with the name sent with it and the moment it
// was first reached. An entry ranks in when, on one of its three boards, its
// score is the installation's row there and its competition rank (one more
// than the rows with a higher score) is at most top; the first rows shown
// are the rows with such a rank, so the word and the page always agree.
// A day's and a week's boards close a day after their period: an entry
// stamped more than a day before the newest entry folded counts only on
// the boards still open, and closed boards are let go, so that memory holds
// two days, two weeks and all time whatever the age of the log.
//
// Not thread-safe by itself: lock() guards it where several threads share it.
class BoardModel
{
public:
    BoardModel(int top, QTimeZone zone);

    int top() const { return m_top; }
    const QTimeZone &zone() const { return m_zone; }
    // The last log line folded; lines at or below it are skipped.
    qint64 position() const { return m_position; }
    // What the last line folded says, to tell that a log still holds it.
    QString positionPrint() const;
    static QString printOf(const LogRow &row);

    // Folds one line; its answer for an entry (CannotRankIn for an act or a
    // line already folded). rowsChanged, when given, is set when first rows
    // of a board may have changed.
    EntryAnswer apply(const LogRow &row, bool *rowsChanged = nullptr);

    // What apply() changed since begin(), taken back by rollback(): the
    // answers of a batch are found by folding it before its commit, and the
    // fold is taken back for the commit that failed or until it is done.
    void begin();
    void rollback();
    void commit();

    std::optional<BoardView> board(int mode, Board board, const QString &visitorId, qint64 nowMs) const;
    QList<BoardView> firstRows(qint64 nowMs) const;
    VisitorStanding standing(int mode, Board board, const QString &visitorId, qint64 nowMs) const;
    bool isBanned(const QString &userId) const;
    // An ID's rows, one text line each, for the operator.
    QStringList describe(const QString &userId) const;
    // Every open board, one text line a row, ordered: for comparing two folds.
    QStringList dump() const;

    // The whole fold as bytes of this build's own format, for a snapshot
    // read back by the same program on the same machine.
    bool save(QIODevice &out) const;
    // About the bytes save() writes; takes the lock for reading.
    qint64 sizeEstimate() const;
    // Reads what save() wrote into this model, which must hold nothing yet;
    // false with the reason, and the model left empty, when the bytes are
    // not whole or of another format or zone.
    bool load(QIODevice &in, QString *error);
    // Forgets the whole fold, as a new model.
    void clear();

    std::shared_mutex &lock() const { return m_lock; }

private:
    // An installation's ID as one number. The IDs entries carry ("-" and up
    // to 17 digits) pack with their length, so that "007" and "7" differ;
    // any other text (an operator's typo) is numbered in m_oddUsers.
    using UserKey = quint64;
    static constexpr UserKey OddUser = UserKey(1) << 63;
    // A name of up to 15 ASCII letters and digits, six bits a character;
    // any other name is numbered in m_oddNames.
    struct PackedName
    {
        quint32 part[3] = {0, 0, 0};
    };
    struct Row
    {
        PackedName name;
        qint32 score = 0;
        qint64 reachedMs = 0;
        qint64 seq = 0;
    };
    // Board order: higher score first, then reached earlier, then logged earlier.
    struct OrderKey
    {
        qint32 score;
        qint64 reachedMs;
        qint64 seq;
        UserKey user;
        bool operator<(const OrderKey &other) const
        {
            if (score != other.score)
                return score > other.score;
            if (reachedMs != other.reachedMs)
                return reachedMs < other.reachedMs;
            if (seq != other.seq)
                return seq < other.seq;
            return user < other.user;
        }
    };
    struct BoardData
    {
        QHash<UserKey, Row> rows;
        // Rows by score, highest first: ranks and shares without counting rows.
        std::map<qint32, qint64, std::greater<qint32>> counts;
        // Exactly the rows whose competition rank is at most top, in board order.
        std::set<OrderKey> first;
        bool firstStale = false;
    };
    // (mode, board) in the low bits, the period above.
    static qint64 boardKey(int mode, Board board, qint64 period) { return period * 8 + boardSlot(mode, board); }
    static Board boardOf(qint64 key) { return Board(int(key % 8) % BoardCount); }
    UserKey userKey(const QString &userId);
    std::optional<UserKey> findUser(const QString &userId) const;
    QString userText(UserKey user) const;
    PackedName pack(const QString &name);
    QString nameText(const PackedName &name) const;
    qint64 higher(const BoardData &data, qint32 score) const;
    // Whether a row of this score (on the board already) has a rank of at most top.
    bool ranksIn(const BoardData &data, qint32 score) const;
    // The oldest period still open on a day's or a week's boards.
    qint64 openFrom(Board board) const;
    // The newest stamp folded, and the open periods it decides.
    void setNewest(qint64 atMs);
    bool isOpen(qint64 key) const { return key / 8 >= openFrom(boardOf(key)); }
    void letGoOfClosed();
    // Changes of the first rows, undone one by one: with many equal scores
    // at the top the first rows are thousands, too many to copy for a batch.
    void keepFirst(qint64 key, const BoardData &data);
    void insertFirst(qint64 board, BoardData &data, const OrderKey &key);
    // By value: the key may be the set's own, gone once erased.
    bool eraseFirst(qint64 board, BoardData &data, OrderKey key);
    void remember(qint64 key, UserKey user, const BoardData &data);
    // Puts row into slot, the installation's row on the board (just made when isNew).
    void place(qint64 board, BoardData &data, UserKey user, Row &slot, bool isNew, const Row &row);
    void erase(qint64 board, BoardData &data, UserKey user);
    void refreshFirst(BoardData &data);
    const BoardData *find(int mode, Board board, qint64 nowMs) const;
    BoardRow view(UserKey user, const Row &row, int rank) const;
    void takeOff(UserKey user, int mode);

    int m_top;
    QTimeZone m_zone;
    qint64 m_position = 0;
    // The last line folded, as far as positionPrint() tells it.
    struct Print
    {
        qint64 atMs = 0;
        LogRow::Kind kind = LogRow::Kind::Entry;
        UserKey user = 0;
        qint32 mode = 0;
        qint32 score = 0;
        PackedName name;
    };
    Print m_print;
    // The latest stamp of an entry folded: it decides which periods are open.
    qint64 m_newestMs = 0;
    qint64 m_openMinute = -1;
    qint64 m_openFrom[2] = {0, 0};
    qint64 m_closedSwept = 0;
    QHash<qint64, BoardData> m_boards;
    QSet<UserKey> m_banned;
    QList<QString> m_oddUsers;
    QHash<QString, UserKey> m_oddUserIndex;
    QList<QString> m_oddNames;
    QHash<QString, quint32> m_oddNameIndex;

    // Undo records of the batch being tried.
    struct Undo
    {
        qint64 key;
        UserKey user;
        bool had;
        Row row;
    };
    bool m_trying = false;
    std::vector<Undo> m_undo;
    // What the batch did to first rows, in order: a row put in or taken
    // out, or the whole first rows as they were before a removal.
    struct FirstUndo
    {
        qint64 board;
        enum class What : quint8 { Inserted, Erased, Whole } what;
        OrderKey key;
        std::set<OrderKey> whole;
    };
    std::vector<FirstUndo> m_undoFirst;
    std::vector<std::pair<UserKey, bool>> m_undoBans;
    qint64 m_undoPosition = 0;
    Print m_undoPrint;
    qint64 m_undoNewestMs = 0;

    mutable std::shared_mutex m_lock;
};

#include "server/RankingStore.h"

#include "server/BoardSnapshot.h"
#include "server/EntryLog.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <mutex>
#include <shared_mutex>

RankingStore::RankingStore(DatabaseConfig config, int top, QTimeZone zone, QString connectionName, Role role,
                           std::shared_ptr<BoardModel> model)
    : m_config(std::move(config)), m_top(top), m_zone(std::move(zone)), m_connectionName(std::move(connectionName)),
      m_role(role), m_log(EntryLog::create(m_config, m_connectionName, role == Role::Writer)),
      m_model(std::move(model)), m_watchdog(std::make_unique<Watchdog>())
{
}

RankingStore::~RankingStore() { close(); }

bool RankingStore::fail(const QString &message)
{
    m_lastError = message;
    return false;
}

void RankingStore::close()
{
    // The watchdog must never cut a connection that is gone: the socket
    // number may be another connection's by then.
    const Watchdog::Cut cut = m_watchdog->disarm();
    if (cut != Watchdog::Cut::None)
        m_cutBeforeClose = cut;
    m_open = false;
    m_log->disconnect();
}

bool RankingStore::open(QString *error)
{
    close();
    m_lastError.clear();
    const bool ok = ensureOpen();
    // Only the first fold may be stopped: later ones run inside appends.
    m_interrupted = nullptr;
    if (!ok && error)
        *error = m_lastError;
    return ok;
}

bool RankingStore::ensureOpen()
{
    if (m_open)
        return true;
    close();
    QString error;
    bool ok = m_log->connect(&error);
    // Once per store: a connection opened again after an outage finds the schema made.
    if (ok && m_role == Role::Writer && !m_schemaReady) {
        ok = migrate();
        m_schemaReady = ok;
    } else if (!ok) {
        m_lastError = error;
    }
    if (ok && m_role == Role::Reader && !m_log->listen(&error))
        ok = fail(error);
    if (!ok) {
        close();
        return false;
    }
    m_log->rememberFiles();
    if (!m_model)
        m_model = std::make_shared<BoardModel>(m_top, m_zone);
    m_open = true;
    if (!m_snapshotPath.isEmpty() && m_snapshotNote.isEmpty())
        readSnapshot();
    // What others appended while the connection was closed.
    bool rows = false;
    if (!catchUp(&rows)) {
        close();
        return false;
    }
    if (m_changeListener)
        m_changeListener(true);
    return true;
}

bool RankingStore::migrate()
{
    QSqlDatabase db = m_log->database();
    if (!db.transaction())
        return fail(QStringLiteral("cannot begin the schema transaction: ") + db.lastError().text());
    QSqlQuery query(db);
    QString error;
    auto abandon = [&](const QString &what) {
        if (m_lastError.isEmpty() || !what.isEmpty())
            m_lastError = what + QStringLiteral(": ") + query.lastError().text();
        db.rollback();
        return false;
    };
    m_lastError.clear();
    if (!m_log->lockSchema(&error))
        return fail(error), db.rollback(), false;
    if (!query.exec(m_log->tableNamesSql()))
        return abandon(QStringLiteral("cannot read the tables"));
    QStringList tables;
    while (query.next())
        tables << query.value(0).toString();
    query.finish();
    int version = 0;
    if (tables.contains(QLatin1String("schema_version"))) {
        if (!query.exec(QStringLiteral("SELECT version FROM schema_version")))
            return abandon(QStringLiteral("cannot read the schema version"));
        QStringList versions;
        while (query.next())
            versions << query.value(0).toString();
        query.finish();
        if (versions.size() != 1) {
            // Edited by hand or by two programs: which one holds is anyone's guess.
            db.rollback();
            return fail(QStringLiteral("the table schema_version holds %1 rows instead of one; "
                                       "leave only the version the tables really have")
                            .arg(versions.size()));
        }
        bool number = false;
        version = versions.first().toInt(&number);
        if (!number || version < 1) {
            db.rollback();
            return fail(QStringLiteral("the table schema_version holds \"%1\", not a version number; "
                                       "this is not a database of tovrika-ranking, or it was edited by hand")
                            .arg(versions.first().left(40)));
        }
    } else if (!tables.isEmpty()) {
        tables.sort();
        db.rollback();
        return fail(QStringLiteral("%1 holds tables of another program (%2) and none of tovrika-ranking's; "
                                   "give the server a database of its own")
                        .arg(m_config.displayName(), tables.mid(0, 5).join(QLatin1String(", "))));
    }
    if (version > SchemaVersion) {
        db.rollback();
        return fail(QStringLiteral("the database has schema version %1, newer than this server's %2")
                        .arg(version)
                        .arg(SchemaVersion));
    }
    if (version == 0 && !createSchema(query))
        return abandon(QStringLiteral("cannot create the schema"));
    if (version > 0 && version < SchemaVersion && !migrateFromVersion3(query))
        return abandon(QStringLiteral("cannot migrate the schema to version %1").arg(SchemaVersion));
    if (!checkZone(query)) {
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        m_lastError = QStringLiteral("cannot commit the schema: ") + db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

bool RankingStore::createSchema(QSqlQuery &query)
{
    const QStringList schema = {
        QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"),
        QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(SchemaVersion),
        // Every entry and every operator's act, in commit order: the boards are its fold.
        QStringLiteral("CREATE TABLE entry_log (id %1 PRIMARY KEY, at_ms BIGINT NOT NULL, client TEXT NOT NULL, "
                       "uid TEXT NOT NULL, name TEXT NOT NULL, mode INTEGER NOT NULL, score INTEGER NOT NULL, "
                       "answer TEXT NOT NULL, removed INTEGER NOT NULL DEFAULT 0, kind INTEGER NOT NULL DEFAULT 0)")
            .arg(m_log->lineNumberType()),
        QStringLiteral("CREATE INDEX entry_log_uid ON entry_log (uid)"),
        QStringLiteral("CREATE TABLE settings (name TEXT PRIMARY KEY, value TEXT NOT NULL)"),
    };
    for (const QString &statement : schema) {
        if (!query.exec(statement))
            return false;
    }
    return true;
}

bool RankingStore::migrateFromVersion3(QSqlQuery &query)
{
    // Versions 1 and 2 lacked what an operator does about cheaters.
    QStringList steps;
    if (!query.exec(QStringLiteral("SELECT version FROM schema_version")) || !query.next())
        return false;
    const int version = query.value(0).toInt();
    query.finish();
    if (version < 2) {
        steps << QStringLiteral("ALTER TABLE entry_log ADD COLUMN removed INTEGER NOT NULL DEFAULT 0")
              << QStringLiteral("CREATE INDEX entry_log_uid ON entry_log (uid)")
              << QStringLiteral("CREATE TABLE banned (uid TEXT PRIMARY KEY, at_ms BIGINT NOT NULL)");
    }
    // The boards of version 3 were tables changed in place. Their fold is the
    // log with three changes: an entry refused while its ID was banned never
    // reached a board (marked as a removed one is); a ban is a line at the
    // end that refuses later entries and keeps the rows made before it, as
    // the boards of version 3 did; removed entries stay marked.
    steps << QStringLiteral("ALTER TABLE entry_log ADD COLUMN kind INTEGER NOT NULL DEFAULT 0")
          << QStringLiteral("UPDATE entry_log SET removed = 1 WHERE answer = '%1' AND EXISTS "
                            "(SELECT 1 FROM banned b WHERE b.uid = entry_log.uid AND entry_log.at_ms >= b.at_ms)")
                 .arg(QLatin1String(RankingProtocol::AnswerCannotRankIn))
          << QStringLiteral("INSERT INTO entry_log (id, at_ms, client, uid, name, mode, score, answer, kind) "
                            "SELECT (SELECT COALESCE(MAX(id), 0) FROM entry_log) + ROW_NUMBER() OVER (ORDER BY uid), "
                            "at_ms, 'admin', uid, '', 0, 0, 'refuse', %1 FROM banned")
                 .arg(int(LogRow::Kind::Refuse))
          << m_log->dropOlderSql()
          << QStringLiteral("CREATE TABLE settings (name TEXT PRIMARY KEY, value TEXT NOT NULL)")
          << QStringLiteral("UPDATE schema_version SET version = %1").arg(SchemaVersion);
    for (const QString &statement : std::as_const(steps)) {
        if (!query.exec(statement))
            return false;
    }
    return true;
}

bool RankingStore::checkZone(QSqlQuery &query)
{
    // The zone decides which day and week each entry belongs to: it is the
    // database's, set when it is made (or first opened by this version).
    if (!query.exec(QStringLiteral("SELECT value FROM settings WHERE name = 'timezone'")))
        return fail(QStringLiteral("cannot read the settings: ") + query.lastError().text());
    if (query.next()) {
        const QByteArray stored = query.value(0).toString().toUtf8();
        query.finish();
        const QTimeZone zone(stored);
        if (!zone.isValid())
            return fail(QStringLiteral("the database keeps its boards in the time zone %1, which this system does "
                                       "not know")
                            .arg(QString::fromUtf8(stored)));
        if (m_zone.isValid() && m_zone.id() != zone.id())
            return fail(QStringLiteral("the database keeps its boards in the time zone %1, not %2: start with "
                                       "--timezone %1 (days and weeks would otherwise change under its boards)")
                            .arg(QString::fromUtf8(stored), QString::fromUtf8(m_zone.id())));
        m_zone = zone;
        return true;
    }
    query.finish();
    if (!m_zone.isValid())
        m_zone = QTimeZone::systemTimeZone();
    if (!query.prepare(QStringLiteral("INSERT INTO settings (name, value) VALUES ('timezone', ?)")))
        return fail(query.lastError().text());
    query.bindValue(0, QString::fromUtf8(m_zone.id()));
    if (!query.exec())
        return fail(QStringLiteral("cannot keep the time zone: ") + query.lastError().text());
    return true;
}

void RankingStore::readSnapshot()
{
    QElapsedTimer timer;
    timer.start();
    std::unique_lock lock(m_model->lock());
    QString why;
    std::optional<LogRow> last;
    if (m_model->position() != 0) {
        why = QStringLiteral("the boards were folded already");
    } else if (BoardSnapshot::read(m_snapshotPath, *m_model, &why)) {
        if (!m_log->readAt(m_model->position(), &last, &why))
            m_model->clear();
        else if (!last || BoardModel::printOf(*last) != m_model->positionPrint())
            why = QStringLiteral("the log no longer holds line %1 as it was").arg(m_model->position()), m_model->clear();
    }
    if (m_model->position() == 0) {
        m_snapshotMissing = !QFileInfo::exists(m_snapshotPath);
        m_snapshotNote = QStringLiteral("the snapshot %1 was left aside (%2): the log is folded whole")
                             .arg(m_snapshotPath, why);
        return;
    }
    m_snapshotPosition = m_model->position();
    m_snapshotNote = QStringLiteral("the boards up to log line %1 read from %2 in %3 s")
                         .arg(m_model->position())
                         .arg(m_snapshotPath)
                         .arg(timer.elapsed() / 1000.0, 0, 'f', 2);
}

bool RankingStore::catchUp(bool *rowsChanged)
{
    // Read before the model is locked, and folded a part at a time: pages
    // are rendered meanwhile, and a long start-up holds few lines at once.
    constexpr qsizetype Part = 20000;
    QList<LogRow> rows;
    rows.reserve(Part);
    QString error;
    const qint64 position = [&] {
        std::shared_lock lock(m_model->lock());
        return m_model->position();
    }();
    bool interrupted = false;
    auto fold = [&] {
        std::unique_lock lock(m_model->lock());
        for (const LogRow &row : std::as_const(rows))
            m_model->apply(row, rowsChanged);
        rows.clear();
        interrupted = m_interrupted && m_interrupted();
        return !interrupted;
    };
    const bool read = m_log->readAfter(position, [&](const LogRow &row) {
        rows.append(row);
        return rows.size() < Part || fold();
    }, &error);
    if (!read)
        return fail(error);
    if (interrupted)
        return fail(QStringLiteral("stopped while folding the log"));
    if (!rows.isEmpty())
        fold();
    return true;
}

std::optional<QList<EntryAnswer>> RankingStore::append(QList<LogRow> rows, QDeadlineTimer deadline)
{
    m_cutBeforeCommit = false;
    if (!ensureOpen())
        return std::nullopt;
    QString error;
    if (!m_log->filesIntact(&error)) {
        fail(error);
        close();
        return std::nullopt;
    }
    armDeadline(deadline);
    std::optional<QSqlDatabase> db = m_log->database();
    QList<EntryAnswer> answers;
    bool othersChanged = false;
    bool ownRows = false;
    bool done = m_log->beginAppend(&error);
    // Under the log's write lock: what others appended is folded first, so
    // the answers are those of the log in commit order.
    if (done)
        done = catchUp(&othersChanged);
    else
        fail(error);
    if (done) {
        std::unique_lock lock(m_model->lock());
        m_model->begin();
        qint64 id = m_model->position();
        for (LogRow &row : rows) {
            row.id = ++id;
            answers.append(m_model->apply(row, &ownRows));
        }
        m_model->rollback();
    }
    if (done && !m_log->append(rows, answers, ownRows, &error))
        done = fail(error);
    // Past the deadline the players are told of an error, so nothing may be committed.
    if (done && !m_watchdog->beginCommit(m_config.deadlineMs)) {
        done = fail(QStringLiteral("the entries could not be stored within %1 ms").arg(m_config.deadlineMs));
        m_cutBeforeCommit = true;
    }
    if (done && !db->commit())
        done = fail(QStringLiteral("cannot commit: ") + db->lastError().text());
    if (!done && db->isOpen())
        db->rollback();
    // No handle of the connection may be left when it is closed.
    db.reset();
    // A COMMIT that was answered stands, even if the cut came just after.
    const bool cut = disarmDeadline();
    if (!done) {
        if (cut || !m_cutBeforeCommit)
            close();
        if (cut)
            m_cutBeforeCommit = false;
        return std::nullopt;
    }
    {
        std::unique_lock lock(m_model->lock());
        for (const LogRow &row : std::as_const(rows))
            m_model->apply(row);
    }
    if (othersChanged && m_changeListener)
        m_changeListener(true);
    // Committed into a file that the next start would not open: as good as lost.
    if (!m_log->filesIntact(&error)) {
        fail(error);
        close();
        return std::nullopt;
    }
    return answers;
}

std::optional<QList<EntryAnswer>> RankingStore::submit(const QList<PendingEntry> &entries, QDeadlineTimer deadline)
{
    QList<LogRow> rows;
    rows.reserve(entries.size());
    for (const PendingEntry &pending : entries) {
        LogRow row;
        row.atMs = pending.atMs;
        row.client = pending.client;
        row.userId = pending.entry.userId;
        row.name = pending.entry.name;
        row.mode = pending.entry.mode;
        row.score = pending.entry.score;
        rows.append(row);
    }
    return append(rows, deadline);
}

bool RankingStore::armDeadline(QDeadlineTimer deadline)
{
    if (!m_open)
        return false;
    std::function<void()> cut = m_log->cutter(deadline);
    if (!cut)
        return false;
    m_cutBeforeClose = Watchdog::Cut::None;
    m_watchdog->arm(deadline, std::move(cut));
    return true;
}

bool RankingStore::disarmDeadline()
{
    Watchdog::Cut cut = m_watchdog->disarm();
    if (cut == Watchdog::Cut::None)
        cut = m_cutBeforeClose;
    m_cutBeforeClose = Watchdog::Cut::None;
    if (cut == Watchdog::Cut::None)
        return false;
    m_lastError = QStringLiteral("no answer within %1 ms, the connection was dropped%2 (%3)")
                      .arg(m_config.deadlineMs)
                      .arg(cut == Watchdog::Cut::DuringCommit
                               ? QStringLiteral(" while COMMIT was on its way: those entries may have been stored")
                               : QString())
                      .arg(m_lastError);
    close();
    return true;
}

bool RankingStore::ping()
{
    if (!ensureOpen())
        return false;
    QString error;
    bool answered = m_log->filesIntact(&error);
    if (!answered) {
        fail(error);
    } else {
        QSqlQuery query(m_log->database());
        answered = query.exec(QStringLiteral("SELECT 1")) && query.next();
        if (!answered)
            fail(QStringLiteral("the database does not answer: ") + query.lastError().text());
    }
    if (!answered)
        close();
    return answered;
}

void RankingStore::pollChanges()
{
    // Closed by a failure: opened again at most once a second, as a
    // connection to a database that hangs takes its time-out each time.
    if (!m_open && m_model) {
        if (!m_reopen.hasExpired())
            return;
        m_reopen = QDeadlineTimer(1000);
        ensureOpen();
        return;
    }
    if (!m_open)
        return;
    bool failed = false;
    QString error;
    const bool appended = m_log->othersAppended(&failed, &error);
    if (failed) {
        fail(error);
        close();
        // What was kept may no longer be served.
        if (m_changeListener)
            m_changeListener(true);
        return;
    }
    if (!appended)
        return;
    const auto position = [this] {
        std::shared_lock lock(m_model->lock());
        return m_model->position();
    };
    const qint64 before = position();
    bool rows = false;
    if (!catchUp(&rows)) {
        close();
        return;
    }
    // This server's own commits are announced to its reader too, and are
    // folded already: only lines that were not tell of a change.
    if (position() != before && m_changeListener)
        m_changeListener(rows);
}

bool RankingStore::readable()
{
    if (!m_model && !ensureOpen())
        return false;
    // The boards held are right, but of files that the next start would not find.
    QString error;
    if (!m_log->filesIntact(&error)) {
        fail(error);
        close();
        return false;
    }
    return true;
}

std::optional<BoardView> RankingStore::board(int mode, Board board, const QString &visitorId, qint64 nowMs)
{
    if (!readable())
        return std::nullopt;
    std::shared_lock lock(m_model->lock());
    return m_model->board(mode, board, visitorId, nowMs);
}

std::optional<QList<BoardView>> RankingStore::firstRows(qint64 nowMs)
{
    if (!readable())
        return std::nullopt;
    std::shared_lock lock(m_model->lock());
    return m_model->firstRows(nowMs);
}

std::optional<VisitorStanding> RankingStore::standing(int mode, Board board, const QString &visitorId, qint64 nowMs)
{
    if (!readable())
        return std::nullopt;
    std::shared_lock lock(m_model->lock());
    return m_model->standing(mode, board, visitorId, nowMs);
}

std::optional<QList<VisitorStanding>> RankingStore::standings(const QString &visitorId, qint64 nowMs, unsigned wanted)
{
    if (!readable())
        return std::nullopt;
    std::shared_lock lock(m_model->lock());
    QList<VisitorStanding> all(RankingProtocol::ModeCount * BoardCount);
    for (int i = 0; i < all.size(); ++i) {
        if (wanted & (1u << i))
            all[i] = m_model->standing(i / BoardCount, AllBoards[i % BoardCount], visitorId, nowMs);
    }
    return all;
}

bool RankingStore::act(LogRow::Kind kind, const QString &userId, int mode)
{
    LogRow row;
    row.kind = kind;
    row.atMs = QDateTime::currentMSecsSinceEpoch();
    row.client = QStringLiteral("admin");
    row.userId = userId;
    // Empty, not NULL: the column holds text.
    row.name = QString("");
    row.mode = mode;
    return append({row}, QDeadlineTimer(m_config.deadlineMs)).has_value();
}

bool RankingStore::removeId(const QString &userId, std::optional<int> mode, int *rowsRemoved)
{
    m_lastError.clear();
    if (!ensureOpen())
        return false;
    *rowsRemoved = 0;
    {
        std::shared_lock lock(m_model->lock());
        for (const QString &line : m_model->describe(userId))
            *rowsRemoved += !mode || line.startsWith(QStringLiteral("row\tmode %1\t").arg(*mode));
    }
    return act(LogRow::Kind::Remove, userId, mode.value_or(-1));
}

bool RankingStore::setBanned(const QString &userId, bool banned, qint64)
{
    m_lastError.clear();
    return act(banned ? LogRow::Kind::Ban : LogRow::Kind::Unban, userId, -1);
}

bool RankingStore::rebuild(qint64 *replayed)
{
    m_lastError.clear();
    *replayed = 0;
    if (!ensureOpen())
        return false;
    bool rows = false;
    if (!catchUp(&rows))
        return false;
    BoardModel fresh(m_top, m_zone);
    QString error;
    qint64 until = 0;
    {
        std::shared_lock lock(m_model->lock());
        until = m_model->position();
    }
    if (!m_log->readAfter(0, [&](const LogRow &row) {
            if (row.id > until)
                return false;
            fresh.apply(row);
            ++*replayed;
            return true;
        }, &error))
        return fail(error);
    std::shared_lock lock(m_model->lock());
    if (fresh.dump() != m_model->dump())
        return fail(QStringLiteral("the boards held differ from a fresh fold of the log's %1 lines").arg(*replayed));
    return true;
}

bool RankingStore::backup(const QString &file)
{
    m_lastError.clear();
    QString error;
    if (!ensureOpen())
        return false;
    return m_log->backup(file, &error) || fail(error);
}

std::optional<QStringList> RankingStore::describeId(const QString &userId)
{
    m_lastError.clear();
    if (!ensureOpen())
        return std::nullopt;
    QStringList lines;
    QSqlQuery query(m_log->database());
    auto when = [this](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms, m_zone).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"));
    };
    {
        std::shared_lock lock(m_model->lock());
        lines << (m_model->isBanned(userId) ? QStringLiteral("banned: yes") : QStringLiteral("banned: no"));
    }
    if (!query.prepare(QStringLiteral("SELECT id, at_ms, client, name, mode, score, answer, removed, kind "
                                      "FROM entry_log WHERE uid = ? ORDER BY id"))) {
        fail(query.lastError().text());
        return std::nullopt;
    }
    query.bindValue(0, userId);
    if (!query.exec()) {
        fail(QStringLiteral("cannot read the log: ") + query.lastError().text());
        return std::nullopt;
    }
    while (query.next()) {
        if (query.value(8).toInt() != int(LogRow::Kind::Entry)) {
            const int mode = query.value(4).toInt();
            lines << QStringLiteral("act %1\t%2\t%3%4")
                         .arg(query.value(0).toString(), when(query.value(1).toLongLong()), query.value(6).toString(),
                              mode >= 0 && query.value(6).toString() == QLatin1String("remove")
                                  ? QStringLiteral("\tmode %1").arg(mode)
                                  : QString());
            continue;
        }
        lines << QStringLiteral("entry %1\t%2\t%3\tmode %4\tscore %5\t%6\t%7%8")
                     .arg(query.value(0).toString(), when(query.value(1).toLongLong()), query.value(2).toString(),
                          query.value(4).toString(), query.value(5).toString(), query.value(3).toString(),
                          query.value(6).toString(), query.value(7).toInt() ? QStringLiteral("\tremoved") : QString());
    }
    std::shared_lock lock(m_model->lock());
    lines << m_model->describe(userId);
    return lines;
}

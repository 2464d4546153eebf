#include "server/PostgresBatch.h"

#include "protocol/RankingProtocol.h"

namespace PostgresBatch {

QString createFunction()
{
    // What storeEntry and placeEntry do, entry after entry, so that the
    // answers, the boards and the log come out the same; but in one statement
    // for each entry instead of some fifteen. That statement reads the boards
    // as they were before it, which decides as the steps one by one would:
    // an entry's own row and counts change only at its own score and below
    // it, never the rows that rank it (higher scores, or its score reached
    // earlier), and its three boards are apart. The log lines are written
    // together at the end, each with the number taken for it first and the
    // answer it got: the same rows as inserted and then updated. Arguments
    // are prefixed with p_ and variables with e_ or v_, as PL/pgSQL refuses a
    // name that is both a column and a variable.
    return QStringLiteral(R"sql(
CREATE OR REPLACE FUNCTION tovrika_submit(
    p_at_ms BIGINT[], p_client TEXT[], p_uid TEXT[], p_name TEXT[], p_mode INTEGER[], p_score INTEGER[],
    p_today BIGINT[], p_week BIGINT[], p_top INTEGER, p_deadline_ms BIGINT)
RETURNS BOOLEAN[]
LANGUAGE plpgsql
-- Every statement here reads by key. Before autovacuum's first ANALYZE (a
-- young database) the planner would scan a whole board for one of them.
SET enable_seqscan = off
SET enable_bitmapscan = off
SET enable_sort = off
AS $body$
DECLARE
    v_log_sequence REGCLASS := pg_get_serial_sequence('entry_log', 'id')::REGCLASS;
    v_banned TEXT[];
    v_boards TEXT[];
    v_cutoffs INTEGER[];
    v_seqs BIGINT[] := '{}';
    v_answers BOOLEAN[] := '{}';
    v_ranks_in BOOLEAN;
    v_raise TID[];
    e_at_ms BIGINT;
    e_uid TEXT;
    e_name TEXT;
    e_mode INTEGER;
    e_score INTEGER;
    e_seq BIGINT;
BEGIN
    -- Without a deadline the session's time-outs alone hold. A lock waited
    -- for past the deadline is the watchdog's to cut, as with any statement.
    IF p_deadline_ms IS NOT NULL AND (extract(epoch FROM clock_timestamp()) * 1000)::BIGINT >= p_deadline_ms THEN
        RAISE EXCEPTION 'the entries reached the database past their deadline' USING ERRCODE = '%DEADLINE%';
    END IF;
    -- A banned ID is told nothing but that it did not rank in.
    SELECT coalesce(array_agg(b.uid), '{}') INTO v_banned FROM banned b WHERE b.uid = ANY (p_uid);
    -- An entry below the score whose rows, with those above it, fill a
    -- board's first rows cannot rank in there. Within the batch rows are
    -- only added or raised, so that holds for all of its entries: the
    -- cutoff of each board is read once, and an entry below it on all
    -- three boards is placed without being ranked. None when the first
    -- rows are not full.
    SELECT array_agg(k.mode || '/' || k.board || '/' || k.period), array_agg(t.score)
      INTO v_boards, v_cutoffs
      FROM (SELECT DISTINCT e.mode, b.board, CASE b.board WHEN 0 THEN e.today WHEN 1 THEN e.week ELSE 0 END AS period
              FROM unnest(p_mode, p_today, p_week) AS e (mode, today, week)
             CROSS JOIN (VALUES (0), (1), (2)) AS b (board)) AS k
      LEFT JOIN LATERAL (
           SELECT r.score FROM (
               SELECT a.score, sum(a.n) OVER (ORDER BY a.score DESC) AS running FROM (
                   SELECT c.score, c.n FROM score_count c
                    WHERE c.mode = k.mode AND c.board = k.board AND c.period = k.period AND c.n > 0
                    ORDER BY c.score DESC LIMIT p_top) AS a) AS r
            WHERE r.running >= p_top
            ORDER BY r.score DESC LIMIT 1) AS t ON true;

    FOR i IN 1 .. coalesce(array_length(p_at_ms, 1), 0) LOOP
        e_at_ms := p_at_ms[i];
        e_uid := p_uid[i];
        e_name := p_name[i];
        e_mode := p_mode[i];
        e_score := p_score[i];
        e_seq := nextval(v_log_sequence);
        v_ranks_in := false;
        IF e_uid = ANY (v_banned) THEN
            -- Told nothing but that it did not rank in.
            NULL;
        ELSIF e_score < v_cutoffs[array_position(v_boards, e_mode || '/0/' || p_today[i])]
          AND e_score < v_cutoffs[array_position(v_boards, e_mode || '/1/' || p_week[i])]
          AND e_score < v_cutoffs[array_position(v_boards, e_mode || '/2/0')] THEN
            -- As below, without ranking.
            WITH placed AS (
                INSERT INTO best AS b (mode, board, period, uid, name, score, reached_ms, seq)
                VALUES (e_mode, 0, p_today[i], e_uid, e_name, e_score, e_at_ms, e_seq),
                       (e_mode, 1, p_week[i], e_uid, e_name, e_score, e_at_ms, e_seq),
                       (e_mode, 2, 0, e_uid, e_name, e_score, e_at_ms, e_seq)
                    ON CONFLICT (mode, board, period, uid) DO UPDATE SET seq = b.seq
                RETURNING b.board, b.period, b.ctid AS id, b.score, b.seq),
            step AS (
                SELECT p.board, p.period, p.id, p.score AS old_score,
                       CASE WHEN p.seq = e_seq THEN 0 WHEN p.score < e_score THEN 1 ELSE 2 END AS kind
                  FROM placed p),
            counted AS (
                INSERT INTO score_count AS c (mode, board, period, score, n)
                SELECT e_mode, s.board, s.period, e_score, 1 FROM step s WHERE s.kind IN (0, 1)
                 UNION ALL
                SELECT e_mode, s.board, s.period, s.old_score, -1 FROM step s WHERE s.kind = 1
                    ON CONFLICT (mode, board, period, score) DO UPDATE SET n = c.n + excluded.n)
            SELECT array_agg(s.id) FILTER (WHERE s.kind = 1) INTO v_raise FROM step s;
            IF v_raise IS NOT NULL THEN
                UPDATE best SET name = e_name, score = e_score, reached_ms = e_at_ms, seq = e_seq
                 WHERE ctid = ANY (v_raise);
            END IF;
        ELSE
            -- kind: 0 a new row, 1 a lower row to raise, 2 an equal row
            -- that stays as first reached, 3 a higher row: this score cannot
            -- stand there. A row that was there is locked and left as it was
            -- (its number is an older entry's, never the one just taken);
            -- the rows above are summed only until they fill the first rows,
            -- and those of the same score reached earlier read as one range
            -- of the board's index.
            WITH placed AS (
                INSERT INTO best AS b (mode, board, period, uid, name, score, reached_ms, seq)
                VALUES (e_mode, 0, p_today[i], e_uid, e_name, e_score, e_at_ms, e_seq),
                       (e_mode, 1, p_week[i], e_uid, e_name, e_score, e_at_ms, e_seq),
                       (e_mode, 2, 0, e_uid, e_name, e_score, e_at_ms, e_seq)
                    ON CONFLICT (mode, board, period, uid) DO UPDATE SET seq = b.seq
                RETURNING b.board, b.period, b.ctid AS id, b.score, b.reached_ms, b.seq),
            step AS (
                SELECT p.board, p.period, p.id, p.score AS old_score,
                       CASE WHEN p.seq = e_seq THEN 0 WHEN p.score < e_score THEN 1
                            WHEN p.score = e_score THEN 2 ELSE 3 END AS kind,
                       p.reached_ms, p.seq
                  FROM placed p),
            counted AS (
                INSERT INTO score_count AS c (mode, board, period, score, n)
                SELECT e_mode, s.board, s.period, e_score, 1 FROM step s WHERE s.kind IN (0, 1)
                 UNION ALL
                SELECT e_mode, s.board, s.period, s.old_score, -1 FROM step s WHERE s.kind = 1
                    ON CONFLICT (mode, board, period, score) DO UPDATE SET n = c.n + excluded.n)
            SELECT array_agg(s.id) FILTER (WHERE s.kind = 1),
                   coalesce(bool_or(CASE WHEN s.kind = 3 OR h.higher >= p_top THEN false ELSE h.higher + (
                       SELECT count(*) FROM (
                           SELECT 1 FROM best b
                            WHERE b.mode = e_mode AND b.board = s.board AND b.period = s.period
                              AND b.score = e_score
                              AND (b.reached_ms, b.seq) < (r.reached, r.seq)
                            ORDER BY b.reached_ms, b.seq LIMIT p_top) AS earlier) < p_top END), false)
              INTO v_raise, v_ranks_in
              FROM step s
             CROSS JOIN LATERAL (
                   SELECT CASE WHEN s.kind = 2 THEN s.reached_ms ELSE e_at_ms END AS reached,
                          CASE WHEN s.kind = 2 THEN s.seq ELSE e_seq END AS seq) AS r
             CROSS JOIN LATERAL (
                   SELECT coalesce(sum(a.n), 0) AS higher FROM (
                       SELECT c.n FROM score_count c
                        WHERE c.mode = e_mode AND c.board = s.board AND c.period = s.period
                          AND c.score > e_score AND c.n > 0
                        ORDER BY c.score DESC LIMIT p_top) AS a) AS h;
            IF v_raise IS NOT NULL THEN
                UPDATE best SET name = e_name, score = e_score, reached_ms = e_at_ms, seq = e_seq
                 WHERE ctid = ANY (v_raise);
            END IF;
        END IF;
        v_seqs[i] := e_seq;
        v_answers[i] := v_ranks_in;
    END LOOP;

    INSERT INTO entry_log (id, at_ms, client, uid, name, mode, score, answer)
    SELECT l.id, l.at_ms, l.client, l.uid, l.name, l.mode, l.score,
           CASE WHEN l.ranks_in THEN '%OK%' ELSE '%CANNOT%' END
      FROM unnest(v_seqs, p_at_ms, p_client, p_uid, p_name, p_mode, p_score, v_answers)
           AS l (id, at_ms, client, uid, name, mode, score, ranks_in);

    -- Past the deadline the players are told of an error, so nothing may be committed.
    IF p_deadline_ms IS NOT NULL AND (extract(epoch FROM clock_timestamp()) * 1000)::BIGINT >= p_deadline_ms THEN
        RAISE EXCEPTION 'the entries could not be stored before their deadline' USING ERRCODE = '%DEADLINE%';
    END IF;
    PERFORM pg_notify('%CHANNEL%', CASE WHEN true = ANY (v_answers) THEN '%ROWS%' ELSE '%TOTALS%' END);
    RETURN v_answers;
END
$body$)sql")
        .replace(QLatin1String("%DEADLINE%"), QLatin1String(DeadlinePassed))
        .replace(QLatin1String("%OK%"), QLatin1String(RankingProtocol::AnswerOk))
        .replace(QLatin1String("%CANNOT%"), QLatin1String(RankingProtocol::AnswerCannotRankIn))
        .replace(QLatin1String("%CHANNEL%"), QLatin1String(Channel))
        .replace(QLatin1String("%ROWS%"), QLatin1String(RowsChanged))
        .replace(QLatin1String("%TOTALS%"), QLatin1String(TotalsChanged));
}

QString callStatement()
{
    return QStringLiteral("SELECT tovrika_submit(?::BIGINT[], ?::TEXT[], ?::TEXT[], ?::TEXT[], ?::INTEGER[], "
                          "?::INTEGER[], ?::BIGINT[], ?::BIGINT[], ?::INTEGER, ?::BIGINT)");
}

QString textArray(const QStringList &values)
{
    QString literal;
    literal.reserve(2 + values.size() * 24);
    literal += u'{';
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            literal += u',';
        literal += u'"';
        for (QChar c : values[i]) {
            if (c == u'"' || c == u'\\')
                literal += u'\\';
            literal += c;
        }
        literal += u'"';
    }
    literal += u'}';
    return literal;
}

QString numberArray(const QList<qint64> &values)
{
    QString literal;
    literal.reserve(2 + values.size() * 14);
    literal += u'{';
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            literal += u',';
        literal += QString::number(values[i]);
    }
    literal += u'}';
    return literal;
}

std::optional<QList<bool>> parseAnswers(const QString &text, qsizetype count)
{
    if (!text.startsWith(u'{') || !text.endsWith(u'}'))
        return std::nullopt;
    const QStringView inner = QStringView(text).mid(1, text.size() - 2);
    QList<bool> answers;
    if (!inner.isEmpty()) {
        for (QStringView item : inner.split(u',')) {
            if (item == u't')
                answers.append(true);
            else if (item == u'f')
                answers.append(false);
            else
                return std::nullopt;
        }
    }
    if (answers.size() != count)
        return std::nullopt;
    return answers;
}

} // namespace PostgresBatch

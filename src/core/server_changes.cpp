#include "core/server_changes.h"

#include "core/search_key_statements.h"
#include "engine/postgres/pg_connection.h"
#include "engine/engine_error.h"
#include "engine/transaction.h"

#include <algorithm>

namespace ostrel {

namespace {

// More changed cards than this are read anew rather than added up.
constexpr int64_t kMostChangedCards = 50000;

PgConnection* serverOf(Database& db)
{
    return dynamic_cast<PgConnection*>(&db);
}

} // namespace

namespace {

// Per statement, from its transition tables: an import of many visits writes one row per
// card. The counts are raised in card order, so two desktops never wait on each other's cards
// crosswise. As the owner: an account that may write visits need not be granted the log. A
// card's own row and its key log the card alone, so that a list of cards kept on a desktop
// looks at it again.
const QString kLogFunction = QStringLiteral(
    "CREATE OR REPLACE FUNCTION ostrel_log_cards() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER "
    "SET search_path FROM CURRENT AS $$\n"
    "DECLARE v integer := CASE TG_TABLE_NAME WHEN 'DList' THEN 1 ELSE 0 END;\n"
    "a integer := 1 - v;\n"
    "moved text := CASE TG_OP WHEN 'INSERT' THEN 'SELECT \"DID\" AS did, 1 AS n FROM new_rows'\n"
    "  WHEN 'DELETE' THEN 'SELECT \"DID\" AS did, -1 AS n FROM old_rows'\n"
    "  ELSE 'SELECT \"DID\" AS did, 1 AS n FROM new_rows UNION ALL SELECT \"DID\", -1 FROM old_rows' END;\n"
    "BEGIN\n"
    "IF TG_OP = 'TRUNCATE' THEN\n"
    "  INSERT INTO D_CardLog (card) VALUES (NULL);\n"
    "  IF TG_TABLE_NAME IN ('DList', 'DJNR') THEN UPDATE D_CardCount SET visits = visits * a, anniversaries = anniversaries * v; END IF;\n"
    "ELSIF TG_TABLE_NAME IN ('D_BKey', 'D_B') THEN\n"
    "  EXECUTE format('INSERT INTO D_CardLog (card) SELECT DISTINCT did FROM (%s) AS moved', replace(moved, '\"DID\"', '\"ID\"'));\n"
    "ELSE\n"
    "  EXECUTE format('WITH d AS (SELECT did AS card, $1 * sum(n) AS visits, $2 * sum(n) AS anniversaries '\n"
    "    'FROM (%s) AS moved WHERE did IS NOT NULL GROUP BY did HAVING sum(n) <> 0), '\n"
    "    'logged AS (INSERT INTO D_CardLog (card, visits, anniversaries) SELECT * FROM d) '\n"
    "    'INSERT INTO D_CardCount AS c SELECT * FROM d ORDER BY card ON CONFLICT (card) DO UPDATE '\n"
    "    'SET visits = c.visits + excluded.visits, anniversaries = c.anniversaries + excluded.anniversaries', moved) USING v, a;\n"
    "END IF;\n"
    "RETURN NULL; END $$");

QStringList logTriggerStatements(const char* table)
{
    const QString name = QString::fromLatin1(table);
    return {QStringLiteral("CREATE TRIGGER %1_LogInsert AFTER INSERT ON \"%1\" REFERENCING NEW TABLE AS new_rows "
                           "FOR EACH STATEMENT EXECUTE FUNCTION ostrel_log_cards()")
                .arg(name),
            QStringLiteral("CREATE TRIGGER %1_LogDelete AFTER DELETE ON \"%1\" REFERENCING OLD TABLE AS old_rows "
                           "FOR EACH STATEMENT EXECUTE FUNCTION ostrel_log_cards()")
                .arg(name),
            QStringLiteral("CREATE TRIGGER %1_LogUpdate AFTER UPDATE ON \"%1\" REFERENCING OLD TABLE AS old_rows "
                           "NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION ostrel_log_cards()")
                .arg(name),
            QStringLiteral("CREATE TRIGGER %1_LogTruncate AFTER TRUNCATE ON \"%1\" "
                           "FOR EACH STATEMENT EXECUTE FUNCTION ostrel_log_cards()")
                .arg(name)};
}

bool logsCardRows(Database& db)
{
    return db.firstInteger(QStringLiteral("select count(*) from pg_trigger where tgrelid = to_regclass('\"D_B\"') "
                                          "and tgname like 'd_b_log%'"))
        == 4;
}

} // namespace

QStringList serverChangeLogStatements()
{
    QStringList statements{
        // A null card marks a moment the log cannot account for (emptied, truncated).
        QStringLiteral("CREATE TABLE D_CardLog (tx xid8 NOT NULL DEFAULT pg_current_xact_id(), card bigint, "
                       "visits integer NOT NULL DEFAULT 0, anniversaries integer NOT NULL DEFAULT 0)"),
        QStringLiteral("CREATE INDEX D_CardLog_Tx ON D_CardLog (tx)"),
        QStringLiteral("CREATE TABLE D_CardCount (card bigint PRIMARY KEY, visits bigint NOT NULL DEFAULT 0, "
                       "anniversaries bigint NOT NULL DEFAULT 0)"),
        kLogFunction};
    for (const char* table : {"DList", "DJNR", "D_BKey", "D_B"})
        statements << logTriggerStatements(table);
    // After the triggers, which hold off every writer of the two tables until this commits.
    statements << QStringLiteral(
        "INSERT INTO D_CardCount SELECT card, sum(v), sum(a) FROM (SELECT \"DID\" AS card, 1 AS v, 0 AS a FROM \"DList\" "
        "UNION ALL SELECT \"DID\", 0, 1 FROM \"DJNR\") AS counted WHERE card IS NOT NULL GROUP BY card")
               // Desktops that kept counts of a log made anew count again.
               << QStringLiteral("INSERT INTO D_CardLog (card) VALUES (NULL)");
    return statements;
}

void addCardRowLog(PgConnection& server)
{
    if (logsCardRows(server))
        return;
    Transaction transaction(server);
    server.runServerSql((QStringList{kLogFunction} << logTriggerStatements("D_B")).join(QStringLiteral(";\n")));
    transaction.commit();
}

void followServerCardList(Database& db, const QString& sql)
{
    PgConnection* server = serverOf(db);
    if (!server)
        return;
    server->followList(sql, [server]() -> PgConnection::ChangesSince {
        if (!hasServerChangeLog(*server) || !logsCardRows(*server))
            return {};
        return [server](const QString& moment) {
            PgConnection::ChangedRows rows;
            try {
                if (moment.isEmpty()) {
                    server->runBound(QStringLiteral("select pg_current_snapshot()::text"), {},
                                     [&](const Database::Row& row) { rows.moment = row.text(0); });
                    return rows;
                }
                const ServerChanges changes = serverChangesSince(*server, moment);
                rows.moment = changes.snapshot;
                rows.known = !changes.unknown;
                for (const ServerChanges::Card& card : changes.cards)
                    rows.ids.push_back(card.id);
            } catch (const EngineError&) {
                return PgConnection::ChangedRows(); // the log is gone: the list is read whole
            }
            return rows;
        };
    });
}

bool serverTablesPass(Database& db, const QStringList& tables, const QString& test)
{
    QStringList names;
    for (const QString& table : tables)
        names << QStringLiteral("'%1'").arg(table);
    return db.firstInteger(QStringLiteral("select count(*) from pg_class where relname in (%1) and "
                                          "relnamespace = current_schema()::regnamespace and %2")
                               .arg(names.join(u','), test))
        == tables.size();
}

bool hasServerChangeLog(Database& db)
{
    // An account not granted the log reads nothing from it, and counts as before.
    return serverOf(db)
        && serverTablesPass(db, {QStringLiteral("d_cardlog"), QStringLiteral("d_cardcount")},
                            QStringLiteral("has_table_privilege(oid, 'SELECT')"));
}

ServerChanges serverChangesSince(Database& db, const QString& snapshot)
{
    // One statement, so one snapshot: the moment given back is the one the changes were read at.
    // The first row carries it; a row with no card says the log cannot tell.
    const QString sql = QStringLiteral(
        "with since as (select card, sum(visits) as visits, sum(anniversaries) as anniversaries, count(*) as n "
        "from D_CardLog where tx >= pg_snapshot_xmin(?1::pg_snapshot) and not pg_visible_in_snapshot(tx, ?1::pg_snapshot) "
        "group by card) "
        "select 0 as at, pg_current_snapshot()::text, (select count(*) from since), "
        "(select count(*) from since where card is null), 0 "
        "union all (select 1, null, card, visits, anniversaries from since where card is not null order by card limit ?2) "
        "order by 1");
    ServerChanges changes;
    db.runBound(sql, {snapshot, QVariant::fromValue<qint64>(kMostChangedCards)}, [&](const Database::Row& row) {
        if (row.integer(0) == 0) {
            changes.snapshot = row.text(1);
            changes.unknown = row.integer(2) > kMostChangedCards || row.integer(3) > 0;
        } else if (!changes.unknown) {
            changes.cards.push_back({row.integer(2), row.integer(3), row.integer(4)});
        }
    });
    if (changes.unknown)
        changes.cards.clear();
    return changes;
}

QString readAtOneSnapshot(Database& db, const std::function<void()>& read)
{
    PgConnection* server = serverOf(db);
    if (!server || db.inTransaction()) {
        read();
        return {};
    }
    Transaction transaction(db);
    server->runServerSql(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ"));
    QString snapshot;
    db.runBound(QStringLiteral("select pg_current_snapshot()::text"), {},
                [&](const Database::Row& row) { snapshot = row.text(0); });
    read();
    transaction.commit();
    return snapshot;
}

void trimServerChangeLog(Database& db, int64_t rows)
{
    if (db.firstInteger(QStringLiteral("select count(*) from (select 1 from D_CardLog limit ?1) as kept"),
                        {QVariant::fromValue<qint64>(rows + 1)})
        <= rows)
        return;
    Transaction transaction(db);
    db.execute(QStringLiteral("delete from D_CardLog where tx < pg_snapshot_xmin(pg_current_snapshot())"));
    db.execute(QStringLiteral("insert into D_CardLog (card) values (null)"));
    transaction.commit();
}

std::vector<qint64> ServerCounts::count(Database& db, const std::vector<int64_t>& list, uint64_t listPrint,
                                        const std::function<std::vector<qint64>()>& count)
{
    if (!m_snapshot.isEmpty() && listPrint == m_list && m_totals.size() == 2) {
        const ServerChanges changes = serverChangesSince(db, m_snapshot);
        if (!changes.unknown) {
            if (!changes.cards.empty()) {
                // The changed cards are few: each card of the list looks itself up among them.
                const auto byId = [](const ServerChanges::Card& c, int64_t id) { return c.id < id; };
                for (int64_t id : list) {
                    const auto at = std::lower_bound(changes.cards.begin(), changes.cards.end(), id, byId);
                    if (at != changes.cards.end() && at->id == id) {
                        m_totals[0] += at->visits;
                        m_totals[1] += at->anniversaries;
                    }
                }
            }
            m_snapshot = changes.snapshot;
            return m_totals;
        }
    }
    m_snapshot = readAtOneSnapshot(db, [&] { m_totals = count(); });
    m_list = listPrint;
    return m_totals;
}

} // namespace ostrel

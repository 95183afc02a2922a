#include "core/visit_summary.h"

#include "core/search_key_statements.h"
#include "core/server_changes.h"
#include "engine/database.h"

#include <algorithm>

namespace ostrel {

namespace {

// A visit of card on day counted in (sign "+") or out of ("-") the row of its month and of
// the card's category and province; nothing when the card does not exist.
QString fileMonthStep(const QString& card, const QString& day, const char* sign)
{
    const QString kind = QStringLiteral("YearMonth = substr(%2,1,7) AND Kind = (SELECT theType FROM D_B WHERE ID = %1) "
                                        "AND Area = (SELECT DArea FROM D_B WHERE ID = %1)")
                             .arg(card, day);
    QString sql;
    if (*sign == '+')
        sql = QStringLiteral("INSERT OR IGNORE INTO D_VisitMonths SELECT substr(%2,1,7), theType, DArea, 0 FROM D_B WHERE ID = %1; ")
                  .arg(card, day);
    return sql + QStringLiteral("UPDATE D_VisitMonths SET Visits = Visits %1 1 WHERE %2; ").arg(QLatin1String(sign), kind);
}

// The last visit of card read again from its visits (one step of the card's date index).
QString fileLastOf(const QString& card)
{
    return QStringLiteral("DELETE FROM D_VisitLast WHERE Card = %1; "
                          "INSERT INTO D_VisitLast SELECT DID, max(LDate) FROM DList WHERE DID = %1 GROUP BY DID; ")
        .arg(card);
}

// Every visit of the card of row (NEW or OLD) counted in (sign "+") or out of ("-") the rows of
// its category and province.
QString fileCardStep(const char* row, const char* sign)
{
    const QString card = QStringLiteral("%1.ID").arg(QLatin1String(row));
    const QString kind = QStringLiteral("%1.theType").arg(QLatin1String(row));
    const QString area = QStringLiteral("%1.DArea").arg(QLatin1String(row));
    QString sql;
    if (*sign == '+')
        sql = QStringLiteral("INSERT OR IGNORE INTO D_VisitMonths SELECT substr(LDate,1,7), %2, %3, 0 FROM DList WHERE DID = %1; ")
                  .arg(card, kind, area);
    return sql + QStringLiteral("UPDATE D_VisitMonths SET Visits = Visits %4 (SELECT count(*) FROM DList WHERE DID = %1 "
                                "AND substr(LDate,1,7) = D_VisitMonths.YearMonth) WHERE Kind = %2 AND Area = %3 "
                                "AND YearMonth IN (SELECT substr(LDate,1,7) FROM DList WHERE DID = %1); ")
                     .arg(card, kind, area, QLatin1String(sign));
}

// The card of row (NEW or OLD) counted in (sign "+") or out of ("-") the cards last visited in
// the month of its last visit.
QString fileLastMonthStep(const char* row, const char* sign)
{
    const QString month = QStringLiteral("substr(%1.LastDate,1,7)").arg(QLatin1String(row));
    QString sql;
    if (*sign == '+')
        sql = QStringLiteral("INSERT OR IGNORE INTO D_VisitLastMonths VALUES (%1, 0); ").arg(month);
    return sql + QStringLiteral("UPDATE D_VisitLastMonths SET Cards = Cards %1 1 WHERE YearMonth = %2; ").arg(QLatin1String(sign), month);
}

QStringList fileVisitSummaryTableStatements()
{
    return {
        QStringLiteral("CREATE TABLE D_VisitMonths (YearMonth VARCHAR(7) COLLATE NOCASE NOT NULL, Kind VARCHAR(10) COLLATE NOCASE "
                       "NOT NULL, Area VARCHAR(10) COLLATE NOCASE NOT NULL, Visits INTEGER NOT NULL, PRIMARY KEY (YearMonth, Kind, Area))"),
        QStringLiteral("CREATE TABLE D_VisitLast (Card INTEGER PRIMARY KEY, LastDate VARCHAR(10) COLLATE NOCASE NOT NULL)"),
        QStringLiteral("CREATE TABLE D_VisitLastMonths (YearMonth VARCHAR(7) COLLATE NOCASE PRIMARY KEY, Cards INTEGER NOT NULL)"),
        // Grouped as the months' key compares: without regard to ASCII case.
        QStringLiteral("DROP TABLE IF EXISTS temp.D_VisitMonthParts"),
        QStringLiteral("CREATE TEMP TABLE D_VisitMonthParts (YearMonth VARCHAR(7) COLLATE NOCASE, Kind VARCHAR(10) COLLATE NOCASE, "
                       "Area VARCHAR(10) COLLATE NOCASE, Visits INTEGER)"),
    };
}

// One range of card numbers, ?1 to ?2: its visits counted into partial rows of months (summed
// at the end: the engine of the file has no insert-or-add), its cards' last visits (a card
// lies in one range alone).
QStringList fileVisitSummaryRangeStatements()
{
    return {
        QStringLiteral("INSERT INTO temp.D_VisitMonthParts SELECT substr(v.LDate,1,7), c.theType, c.DArea, count(*) "
                       "FROM DList v JOIN D_B c ON c.ID = v.DID WHERE v.DID BETWEEN ?1 AND ?2 GROUP BY 1, 2, 3"),
        QStringLiteral("INSERT INTO D_VisitLast SELECT DID, max(LDate) FROM DList WHERE DID BETWEEN ?1 AND ?2 GROUP BY DID"),
    };
}

// The partial rows summed into the months' table, and the cards' last months counted.
QStringList fileVisitSummaryTotalStatements()
{
    return {
        QStringLiteral("INSERT INTO D_VisitMonths SELECT YearMonth, Kind, Area, sum(Visits) FROM temp.D_VisitMonthParts GROUP BY 1, 2, 3"),
        QStringLiteral("DROP TABLE temp.D_VisitMonthParts"),
        QStringLiteral("INSERT INTO D_VisitLastMonths SELECT substr(LastDate,1,7) COLLATE NOCASE, count(*) FROM D_VisitLast GROUP BY 1"),
    };
}

// The index and the triggers that keep the filled tables current.
QStringList fileVisitSummaryTriggerStatements()
{
    return {
        QStringLiteral("CREATE INDEX D_VisitLast_Date ON D_VisitLast (LastDate, Card)"),
        QStringLiteral("CREATE TRIGGER D_VisitLast_CountedInsert AFTER INSERT ON D_VisitLast BEGIN ") + fileLastMonthStep("NEW", "+")
            + QStringLiteral("END"),
        QStringLiteral("CREATE TRIGGER D_VisitLast_CountedDelete AFTER DELETE ON D_VisitLast BEGIN ") + fileLastMonthStep("OLD", "-")
            + QStringLiteral("END"),
        QStringLiteral("CREATE TRIGGER D_VisitLast_CountedUpdate AFTER UPDATE ON D_VisitLast BEGIN ") + fileLastMonthStep("OLD", "-")
            + fileLastMonthStep("NEW", "+") + QStringLiteral("END"),
        QStringLiteral("CREATE TRIGGER DList_SummedInsert AFTER INSERT ON DList BEGIN ") + fileMonthStep(QStringLiteral("NEW.DID"), QStringLiteral("NEW.LDate"), "+")
            + fileLastOf(QStringLiteral("NEW.DID")) + QStringLiteral("END"),
        QStringLiteral("CREATE TRIGGER DList_SummedDelete AFTER DELETE ON DList BEGIN ") + fileMonthStep(QStringLiteral("OLD.DID"), QStringLiteral("OLD.LDate"), "-")
            + fileLastOf(QStringLiteral("OLD.DID")) + QStringLiteral("END"),
        QStringLiteral("CREATE TRIGGER DList_SummedUpdate AFTER UPDATE OF DID, LDate ON DList BEGIN ")
            + fileMonthStep(QStringLiteral("OLD.DID"), QStringLiteral("OLD.LDate"), "-") + fileMonthStep(QStringLiteral("NEW.DID"), QStringLiteral("NEW.LDate"), "+")
            + fileLastOf(QStringLiteral("OLD.DID")) + fileLastOf(QStringLiteral("NEW.DID")) + QStringLiteral("END"),
        QStringLiteral("CREATE TRIGGER D_B_SummedInsert AFTER INSERT ON D_B BEGIN ") + fileCardStep("NEW", "+") + QStringLiteral("END"),
        QStringLiteral("CREATE TRIGGER D_B_SummedDelete AFTER DELETE ON D_B BEGIN ") + fileCardStep("OLD", "-") + QStringLiteral("END"),
        QStringLiteral("CREATE TRIGGER D_B_SummedUpdate AFTER UPDATE OF ID, theType, DArea ON D_B BEGIN ") + fileCardStep("OLD", "-")
            + fileCardStep("NEW", "+") + QStringLiteral("END"),
    };
}

} // namespace

void addFileVisitSummaries(Database& db, const VisitSummaryProgress& progress)
{
    for (const QString& statement : fileVisitSummaryTableStatements())
        db.execute(statement);
    // The visits' card numbers, read from the ends of their index; a text that is no number
    // sorts after every number and falls outside every range, as the triggers never count it.
    bool any = false;
    int64_t first = 0, last = 0;
    db.runBound(QStringLiteral("SELECT min(DID), max(DID) FROM DList WHERE DID <= 9223372036854775807"), {},
                [&](const Database::Row& row) {
                    any = !row.text(0).isEmpty(); // no visits: no number
                    first = row.integer(0);
                    last = row.integer(1);
                });
    // Ranges few enough to cost nothing on a small file, many enough to move a progress bar.
    constexpr uint64_t kRanges = 100;
    constexpr int64_t kFinalSteps = 10;
    const uint64_t span = static_cast<uint64_t>(last) - static_cast<uint64_t>(first);
    const uint64_t width = span / kRanges + 1;
    const auto ranges = static_cast<int64_t>(span / width + 1);
    const QStringList ranged = fileVisitSummaryRangeStatements();
    for (int64_t range = 0; any && range < ranges; ++range) {
        const uint64_t start = static_cast<uint64_t>(range) * width;
        const auto from = static_cast<int64_t>(static_cast<uint64_t>(first) + start);
        const auto to = static_cast<int64_t>(static_cast<uint64_t>(first) + start + std::min(span - start, width - 1));
        for (const QString& statement : ranged)
            db.runBound(statement, {QVariant::fromValue<qint64>(from), QVariant::fromValue<qint64>(to)});
        if (progress)
            progress(range + 1, ranges + kFinalSteps);
    }
    // The sums and the index of last visits (a sort of every card's) take about a tenth.
    for (const QString& statement : fileVisitSummaryTotalStatements())
        db.execute(statement);
    if (progress)
        progress(ranges + kFinalSteps / 2, ranges + kFinalSteps);
    for (const QString& statement : fileVisitSummaryTriggerStatements())
        db.execute(statement);
    if (progress)
        progress(ranges + kFinalSteps, ranges + kFinalSteps);
}

QStringList serverVisitSummaryStatements()
{
    // Unquoted names fold to lower case, as the adapted statements write them; the schema's
    // own keep their case in quotes. A visit's card is locked for share while its month is
    // counted, so that a category changed at the same moment on another desktop waits.
    const QString header = QStringLiteral(" LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$ ");
    return {
        QStringLiteral("CREATE TABLE d_visitmonths (yearmonth citext COLLATE \"C\" NOT NULL, kind citext COLLATE \"C\" NOT NULL, "
                       "area citext COLLATE \"C\" NOT NULL, visits bigint NOT NULL, PRIMARY KEY (yearmonth, kind, area))"),
        QStringLiteral("CREATE TABLE d_visitlast (card bigint PRIMARY KEY, lastdate citext COLLATE \"C\" NOT NULL)"),
        QStringLiteral("CREATE INDEX d_visitlast_date ON d_visitlast (lastdate, card)"),
        QStringLiteral("INSERT INTO d_visitmonths SELECT substr(v.\"LDate\",1,7)::citext, c.\"theType\", c.\"DArea\", count(*) "
                       "FROM \"DList\" v JOIN \"D_B\" c ON c.\"ID\" = v.\"DID\" GROUP BY 1, 2, 3"),
        QStringLiteral("INSERT INTO d_visitlast SELECT \"DID\", max(\"LDate\") FROM \"DList\" GROUP BY \"DID\""),
        QStringLiteral("CREATE TABLE d_visitlastmonths (yearmonth citext COLLATE \"C\" PRIMARY KEY, cards bigint NOT NULL)"),
        QStringLiteral("INSERT INTO d_visitlastmonths SELECT substr(lastdate,1,7)::citext, count(*) FROM d_visitlast GROUP BY 1"),
        QStringLiteral("CREATE OR REPLACE FUNCTION ostrel_last_month() RETURNS trigger") + header
            + QStringLiteral("BEGIN IF TG_OP <> 'INSERT' THEN UPDATE d_visitlastmonths SET cards = cards - 1 "
                             "WHERE yearmonth = substr(OLD.lastdate,1,7)::citext; END IF; "
                             "IF TG_OP <> 'DELETE' THEN INSERT INTO d_visitlastmonths VALUES (substr(NEW.lastdate,1,7)::citext, 1) "
                             "ON CONFLICT (yearmonth) DO UPDATE SET cards = d_visitlastmonths.cards + 1; END IF; RETURN NULL; END $$"),
        QStringLiteral("CREATE TRIGGER d_visitlast_counted AFTER INSERT OR UPDATE OR DELETE ON d_visitlast "
                       "FOR EACH ROW EXECUTE FUNCTION ostrel_last_month()"),
        QStringLiteral("CREATE OR REPLACE FUNCTION ostrel_visit_month(p_card bigint, p_day citext, p_step bigint) RETURNS void") + header
            + QStringLiteral("DECLARE k citext; a citext; BEGIN "
                             "SELECT \"theType\", \"DArea\" INTO k, a FROM \"D_B\" WHERE \"ID\" = p_card FOR SHARE; "
                             "IF FOUND THEN INSERT INTO d_visitmonths VALUES (substr(p_day,1,7)::citext, k, a, p_step) "
                             "ON CONFLICT (yearmonth, kind, area) DO UPDATE SET visits = d_visitmonths.visits + p_step; END IF; END $$"),
        // Read again after the row is locked: a visit another desktop adds meanwhile is seen.
        QStringLiteral("CREATE OR REPLACE FUNCTION ostrel_visit_last(p_card bigint) RETURNS void") + header
            + QStringLiteral("DECLARE m citext; BEGIN PERFORM 1 FROM d_visitlast WHERE card = p_card FOR UPDATE; "
                             "SELECT max(\"LDate\") INTO m FROM \"DList\" WHERE \"DID\" = p_card; "
                             "IF m IS NULL THEN DELETE FROM d_visitlast WHERE card = p_card; "
                             "ELSE INSERT INTO d_visitlast VALUES (p_card, m) ON CONFLICT (card) DO UPDATE SET lastdate = EXCLUDED.lastdate; "
                             "END IF; END $$"),
        QStringLiteral("CREATE OR REPLACE FUNCTION ostrel_visit_summary() RETURNS trigger") + header
            + QStringLiteral("BEGIN IF TG_OP = 'TRUNCATE' THEN DELETE FROM d_visitmonths; "
                             "IF TG_TABLE_NAME = 'DList' THEN DELETE FROM d_visitlast; END IF; RETURN NULL; END IF; "
                             "IF TG_OP <> 'INSERT' THEN PERFORM ostrel_visit_month(OLD.\"DID\", OLD.\"LDate\", -1); END IF; "
                             "IF TG_OP <> 'DELETE' THEN PERFORM ostrel_visit_month(NEW.\"DID\", NEW.\"LDate\", 1); "
                             "INSERT INTO d_visitlast VALUES (NEW.\"DID\", NEW.\"LDate\") ON CONFLICT (card) DO UPDATE "
                             "SET lastdate = greatest(d_visitlast.lastdate, EXCLUDED.lastdate); END IF; "
                             "IF TG_OP <> 'INSERT' THEN PERFORM ostrel_visit_last(OLD.\"DID\"); END IF; RETURN NULL; END $$"),
        QStringLiteral("CREATE OR REPLACE FUNCTION ostrel_card_summary() RETURNS trigger") + header
            + QStringLiteral("BEGIN IF TG_OP <> 'INSERT' THEN UPDATE d_visitmonths m SET visits = m.visits - s.n FROM "
                             "(SELECT substr(\"LDate\",1,7)::citext AS ym, count(*) AS n FROM \"DList\" WHERE \"DID\" = OLD.\"ID\" GROUP BY 1) s "
                             "WHERE m.yearmonth = s.ym AND m.kind = OLD.\"theType\" AND m.area = OLD.\"DArea\"; END IF; "
                             "IF TG_OP <> 'DELETE' THEN INSERT INTO d_visitmonths SELECT substr(\"LDate\",1,7)::citext, "
                             "NEW.\"theType\", NEW.\"DArea\", count(*) FROM \"DList\" WHERE \"DID\" = NEW.\"ID\" GROUP BY 1 "
                             "ON CONFLICT (yearmonth, kind, area) DO UPDATE SET visits = d_visitmonths.visits + EXCLUDED.visits; END IF; "
                             "RETURN NULL; END $$"),
        QStringLiteral("CREATE TRIGGER \"DList_Summed\" AFTER INSERT OR UPDATE OF \"DID\", \"LDate\" OR DELETE ON \"DList\" "
                       "FOR EACH ROW EXECUTE FUNCTION ostrel_visit_summary()"),
        QStringLiteral("CREATE TRIGGER \"D_B_Summed\" AFTER INSERT OR UPDATE OF \"ID\", \"theType\", \"DArea\" OR DELETE ON \"D_B\" "
                       "FOR EACH ROW EXECUTE FUNCTION ostrel_card_summary()"),
        QStringLiteral("CREATE TRIGGER \"DList_Emptied\" AFTER TRUNCATE ON \"DList\" FOR EACH STATEMENT EXECUTE FUNCTION ostrel_visit_summary()"),
        QStringLiteral("CREATE TRIGGER \"D_B_Emptied\" AFTER TRUNCATE ON \"D_B\" FOR EACH STATEMENT EXECUTE FUNCTION ostrel_visit_summary()"),
    };
}

QString serverVisitSummaryDropSql()
{
    return QStringLiteral("DROP TRIGGER \"DList_Summed\" ON \"DList\"; DROP TRIGGER \"D_B_Summed\" ON \"D_B\"; "
                          "DROP TRIGGER \"DList_Emptied\" ON \"DList\"; DROP TRIGGER \"D_B_Emptied\" ON \"D_B\"; "
                          "DROP TABLE d_visitmonths, d_visitlast, d_visitlastmonths");
}

bool hasVisitSummaries(Database& db)
{
    if (db.firstInteger(schemaObjectExistsSql(), {QStringLiteral("D_VisitLast")}) == 0)
        return false;
    // An account of a team server not granted the tables counts from the visits themselves.
    return db.has(Capability::LocalFile)
        || serverTablesPass(db, {QStringLiteral("d_visitmonths"), QStringLiteral("d_visitlast"), QStringLiteral("d_visitlastmonths")},
                            QStringLiteral("has_table_privilege(oid, 'SELECT')"));
}

} // namespace ostrel

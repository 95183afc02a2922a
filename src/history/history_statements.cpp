#include "history_statements.h"

#include "core/schema_upgrade.h"
#include "engine/sql_text.h"

namespace ostrel {

namespace {

struct RecordsTable {
    const char* listHead; // "SELECT ID,... as 日期," before the memo part
    const char* listMemo;
    const char* table;
    const char* dateColumn;
};

const RecordsTable& tableOf(CardRecords records)
{
    static const RecordsTable visits{"SELECT ID,LDate as 拜访日期,", "LType as 拜访方式,LMemo as 拜访内容", "DList", "LDate"};
    static const RecordsTable anniversaries{"SELECT ID,JDate as 纪念日期,", "JMemo as 纪念说明", "DJNR", "JDate"};
    return records == CardRecords::Visits ? visits : anniversaries;
}

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

QString cardRecordsSql(CardRecords records, const QString& cardId)
{
    const RecordsTable& t = tableOf(records);
    return u8(t.listHead) + u8(t.listMemo) + QStringLiteral(" FROM ") + u8(t.table) + QStringLiteral(" WHERE DID=") + cardId
        + QStringLiteral(" ORDER BY ") + u8(t.dateColumn) + QStringLiteral(" DESC");
}

QString visitInsertSql(const QString& cardId, const QString& date, const QString& kind, const QString& memo)
{
    return QStringLiteral("insert into DList(DID,LDate,LType,LMemo) Values(") + cardId + QStringLiteral(",'")
        + sqlQuote(date) + QStringLiteral("','") + sqlQuote(kind) + QStringLiteral("','") + sqlQuote(memo)
        + QStringLiteral("'") + QStringLiteral(")");
}

QString anniversaryInsertSql(const QString& cardId, const QString& date, const QString& memo)
{
    return QStringLiteral("insert into DJNR(DID,JDate,JMemo) Values(") + cardId + QStringLiteral(",'") + sqlQuote(date)
        + QStringLiteral("','") + sqlQuote(memo) + QStringLiteral("'") + QStringLiteral(")");
}

QString cardRecordDeleteSql(CardRecords records, const QString& id)
{
    return QStringLiteral("Delete * from ") + u8(tableOf(records).table) + QStringLiteral(" where ID=") + id;
}

QString visitOverviewSql(bool ranged, const QString& from, const QString& to)
{
    return QStringLiteral("SELECT LDate as 拜访日期, ") + QStringLiteral("BName as 姓名, BSex as 性别, ")
        + QStringLiteral("LType as 拜访方式, LMemo as 拜访内容, DList.DID as myID ")
        + QStringLiteral("FROM DList INNER JOIN D_B ON DList.DID = D_B.ID ") + QStringLiteral("WHERE (DList.ID > 0) ")
        + (ranged ? QStringLiteral(" AND (LDate Between '") + sqlQuote(from) + QStringLiteral("' AND '") + sqlQuote(to)
                        + QStringLiteral("') ")
                  : QString())
        + QStringLiteral("ORDER BY LDate, BName, DList.ID DESC ");
}

QString anniversaryOverviewSql(bool ranged, const QString& from, const QString& to)
{
    // A range over the year end (December to January) takes both of its parts.
    return QStringLiteral("SELECT JDate as 纪念日期, ") + QStringLiteral("BName as 姓名, BSex as 性别, ")
        + QStringLiteral("JMemo as 纪念说明, DJNR.DID as myID ")
        + QStringLiteral("FROM DJNR INNER JOIN D_B ON DJNR.DID = D_B.ID ") + QStringLiteral("WHERE (DJNR.ID > 0) ")
        + (ranged ? QStringLiteral(" AND ") + monthDayBetween(anniversaryMonthDaySql(), from, to) + QStringLiteral(" ")
                  : QString())
        + QStringLiteral("ORDER BY ") + anniversaryMonthDaySql() + QStringLiteral(", BName, DJNR.ID DESC ");
}

} // namespace ostrel

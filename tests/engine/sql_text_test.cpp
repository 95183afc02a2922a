#include "engine/sql_text.h"
#include "core/schema_names.h"

#include "qt_print.h"

#include <gtest/gtest.h>

using namespace ostrel;

TEST(SqlDialect, AdaptsKeywordsOutsideLiteralsOnly)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"SELECT theName FROM D_XS WHERE (theXS = True) ORDER BY theInt",
         "SELECT theName FROM D_XS WHERE (theXS = 1) ORDER BY theInt"},
        {"update D_XS set theXS=false where ID=3", "update D_XS set theXS=0 where ID=3"},
        {"Delete * from DList where ID=5", "Delete from DList where ID=5"},
        {"DELETE   *   FROM DJNR where ID=5", "DELETE FROM DJNR where ID=5"},
        {"Delete from D_Type Where (ID = 1)", "Delete from D_Type Where (ID = 1)"},
        {"select * from D_B where BName='True' and BDes='Delete * from x'",
         "select * from D_B where BName='True' and BDes='Delete * from x'"},
        {"select 'it''s True' , TrueName from T", "select 'it''s True' , TrueName from T"},
        {"select [True] from \"False\"", "select [True] from \"False\""},
        {"select BName from D_B where BName like '%真%' and theXS=TRUE", "select BName from D_B where BName like '%真%' and theXS=1"},
        {"insert into D_B(BName) values('unterminated True", "insert into D_B(BName) values('unterminated True"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(adaptSql(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

TEST(SqlDialect, QuoteHelperDoublesSingleQuotes)
{
    EXPECT_EQ(sqlQuote(QStringLiteral("O'Brien")), QStringLiteral("O''Brien"));
    EXPECT_EQ(sqlQuote(QStringLiteral("'; drop table D_B; --")), QStringLiteral("''; drop table D_B; --"));
    EXPECT_EQ(sqlQuote(QString()), QString());
}

TEST(SqlDialect, MonthDayRangeRunsOverTheYearEnd)
{
    EXPECT_EQ(monthDayBetween(QStringLiteral("Mid(JDate,6,5)"), QStringLiteral("02-26"), QStringLiteral("03-05")),
              QStringLiteral("(Mid(JDate,6,5) Between '02-26' AND '03-05')"));
    EXPECT_EQ(monthDayBetween(QStringLiteral("Mid(JDate,6,5)"), QStringLiteral("12-28"), QStringLiteral("01-04")),
              QStringLiteral("((Mid(JDate,6,5) Between '12-28' AND '12-31') OR (Mid(JDate,6,5) Between '01-01' AND '01-04'))"));
    EXPECT_EQ(monthDayBetween(QStringLiteral("x"), QStringLiteral("0'1"), QStringLiteral("0'2")),
              QStringLiteral("(x Between '0''1' AND '0''2')"));
}

TEST(SqlDialect, ServerTextQuotesSchemaNamesAndBindsByNumber)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"select ID, BName as 姓名 from D_B Where id=5 and theDel='否'",
         R"(select "ID", "BName" as "姓名" from "D_B" Where "ID"=5 and "theDel"='否')"},
        {"Delete * from DList where DList.DID = ?", R"(Delete from "DList" where "DList"."DID" = $1)"},
        {"select max(ID) as LastID, ifnull(min(ID), 0) from D_B where theXS = True and x=?2 and y=?",
         R"(select max("ID") as "LastID", coalesce(min("ID"), 0) from "D_B" where "theXS" = 1 and x=$2 and y=$3)"},
        {"select * from D_B where Bdes like '%a\\b%' and BName='bname'",
         R"(select * from "D_B" where "BDes" like '%a\b%' ESCAPE '' and "BName"='bname')"},
        {"insert or replace into D_BKey (ID, theKey) values (?1, ?2)",
         R"(insert into "D_BKey" ("ID", "theKey") values ($1, $2) on conflict ("ID") do update set "theKey" = excluded."theKey")"},
        {"PRAGMA index_info(D_B_Live)", "select * from pragma_index_info('D_B_Live')"},
        {"select 'it''s ? True' from \"D_B\"", "select 'it''s ? True' from \"D_B\""},
        // A subquery after AS is no name.
        {"with n(i) as (select 1 as k) select i from n", R"(with n(i) as (select 1 as "k") select i from n)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(adaptServerSql(QString::fromUtf8(c.in), schemaNames()), QString::fromUtf8(c.out)) << c.in;
    EXPECT_EQ(adaptServerSql(QStringLiteral("DID between ?1 and ?2"), schemaNames(), {QStringLiteral("r.a"), QStringLiteral("r.b")}),
              QStringLiteral("\"DID\" between r.a and r.b"));
}

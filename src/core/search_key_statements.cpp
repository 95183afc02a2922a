#include "core/search_key_statements.h"

#include "core/card_fields.h"

namespace ostrel {

namespace {

QString searchKeySource(const QString& condition)
{
    QString sql = QStringLiteral("select ID, theDel");
    for (const CardField& field : cardFields())
        if (field.searchKeyPart != SearchKeyPart::None)
            sql += u',' + field.columnName();
    return sql + QStringLiteral(" from D_B") + condition;
}

} // namespace

QString searchKeyTableSql()
{
    return QStringLiteral("CREATE TABLE D_BKey (ID INTEGER PRIMARY KEY, theKey TEXT NOT NULL DEFAULT '')");
}

QString searchKeyTableExistsSql()
{
    return QStringLiteral("select count(*) from sqlite_master where type='table' and name='D_BKey'");
}

QString lastCardWithSearchKeySql()
{
    return QStringLiteral("select ifnull(max(ID), 0) from D_BKey");
}

QString cardsWithoutSearchKeySql()
{
    return QStringLiteral("select exists(select 1 from D_B where theDel='否' and ID > ?1)");
}

QString liveIndexColumnsSql()
{
    return QStringLiteral("PRAGMA index_info(D_B_Live)");
}

QString dropLiveIndexSql()
{
    return QStringLiteral("DROP INDEX IF EXISTS D_B_Live");
}

QString createLiveIndexSql()
{
    return QStringLiteral("CREATE INDEX D_B_Live ON D_B (theDel, ID, BName)");
}

QString cardIdRangeSql()
{
    return QStringLiteral("select ifnull(min(ID), 0), ifnull(max(ID), 0) from D_B where ID > ?1");
}

QString searchKeySourceOfCardSql()
{
    return searchKeySource(QStringLiteral(" where ID = ?1"));
}

QString searchKeySourceAfterSql()
{
    return searchKeySource(QStringLiteral(" where ID > ?1"));
}

QString writeSearchKeySql()
{
    return QStringLiteral("insert or replace into D_BKey (ID, theKey) values (?1, ?2)");
}

QString deleteSearchKeySql()
{
    return QStringLiteral("delete from D_BKey where ID = ?1");
}

QString quickFindSql()
{
    return QStringLiteral("select ID, QuickFind(theKey, ?1) from D_BKey where QuickFind(theKey, ?1) > 0");
}

} // namespace ostrel

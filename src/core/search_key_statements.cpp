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

QStringList quickFindLogStatements()
{
    QStringList statements{QStringLiteral("CREATE TABLE D_BKeyLog (Seq INTEGER PRIMARY KEY AUTOINCREMENT, ID INTEGER NOT NULL)")};
    // Triggers of the engine's own SQL alone: an older version writing the file keeps the log too.
    const struct {
        const char* table;
        const char* card;
    } logged[] = {{"D_BKey", "ID"}, {"DList", "DID"}, {"DJNR", "DID"}};
    for (const auto& t : logged) {
        const QString table = QString::fromLatin1(t.table);
        const QString card = QString::fromLatin1(t.card);
        statements << QStringLiteral("CREATE TRIGGER %1_Logged AFTER INSERT ON %1 BEGIN INSERT INTO D_BKeyLog(ID) VALUES (NEW.%2); END")
                          .arg(table, card)
                   << QStringLiteral("CREATE TRIGGER %1_LoggedDelete AFTER DELETE ON %1 BEGIN INSERT INTO D_BKeyLog(ID) VALUES (OLD.%2); END")
                          .arg(table, card)
                   << QStringLiteral("CREATE TRIGGER %1_LoggedUpdate AFTER UPDATE ON %1 BEGIN INSERT INTO D_BKeyLog(ID) VALUES (OLD.%2); "
                                     "INSERT INTO D_BKeyLog(ID) SELECT NEW.%2 WHERE NEW.%2 IS NOT OLD.%2; END")
                          .arg(table, card);
    }
    return statements;
}

QStringList quickFindLogNames()
{
    QStringList names{QStringLiteral("D_BKeyLog")};
    for (const char* table : {"D_BKey", "DList", "DJNR"})
        for (const char* kind : {"_Logged", "_LoggedDelete", "_LoggedUpdate"})
            names << QString::fromLatin1(table) + QString::fromLatin1(kind);
    return names;
}

QString schemaObjectExistsSql()
{
    return QStringLiteral("select count(*) from sqlite_master where lower(name) = lower(?1)");
}

QString quickFindLogExistsSql()
{
    return QStringLiteral("select count(*) from sqlite_master where type='table' and name='D_BKeyLog'");
}

QString quickFindLogEndSql()
{
    return QStringLiteral("select ifnull(max(Seq), 0) from D_BKeyLog");
}

QString quickFindLogSql()
{
    return QStringLiteral("select ID from D_BKeyLog where Seq > ?1");
}

QString clearQuickFindLogSql()
{
    return QStringLiteral("delete from D_BKeyLog");
}

QString searchKeySpanSql()
{
    return QStringLiteral("select ifnull((select max(ID) from D_BKey) - (select min(ID) from D_BKey) + 1, 0)");
}

QString searchKeysInOrderSql()
{
    return QStringLiteral("select ID, theKey from D_BKey order by ID");
}

QString searchKeyOfCardSql()
{
    return QStringLiteral("select theKey from D_BKey where ID = ?1");
}

QString visitCountsByCardSql()
{
    return QStringLiteral("select DID, count(*) from DList group by DID order by DID");
}

QString anniversaryCountsByCardSql()
{
    return QStringLiteral("select DID, count(*) from DJNR group by DID order by DID");
}

QString countsOfCardSql()
{
    return QStringLiteral("select (select count(*) from DList where DID = ?1), (select count(*) from DJNR where DID = ?1)");
}

QString countStampSql()
{
    return QStringLiteral("select n from D_CountStamp");
}

} // namespace ostrel

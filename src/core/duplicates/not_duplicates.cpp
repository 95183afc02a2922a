#include "core/duplicates/not_duplicates.h"

#include "engine/database.h"
#include "engine/engine_error.h"
#include "engine/transaction.h"

namespace ostrel {

QStringList fileNotDuplicateStatements()
{
    return {QStringLiteral("CREATE TABLE D_NotDup (theFirst INTEGER NOT NULL, theSecond INTEGER NOT NULL, "
                           "PRIMARY KEY (theFirst, theSecond))")};
}

QStringList serverNotDuplicateStatements()
{
    // Unquoted names fold to lower case on the server, as the adapted statements write them.
    return {QStringLiteral("CREATE TABLE IF NOT EXISTS d_notdup (thefirst bigint NOT NULL, thesecond bigint NOT NULL, "
                           "PRIMARY KEY (thefirst, thesecond))")};
}

QString notDuplicateTableExistsSql()
{
    return QStringLiteral("select count(*) from sqlite_master where type='table' and lower(name)='d_notdup'");
}

CardPairs loadNotDuplicates(Database& db)
{
    CardPairs pairs;
    if (db.firstInteger(notDuplicateTableExistsSql()) == 0)
        return pairs;
    db.runBound(QStringLiteral("select theFirst, theSecond from D_NotDup"), {},
                [&](const Database::Row& row) { pairs.insert({row.integer(0), row.integer(1)}); });
    return pairs;
}

void rememberNotDuplicates(Database& db, const std::vector<CardPair>& pairs)
{
    if (db.firstInteger(notDuplicateTableExistsSql()) == 0)
        throw EngineError(QStringLiteral("数据库中还没有记录“不是重复”的表（数据库只读，或团队数据库由旧版本建立），无法记住这个决定。"));
    Transaction transaction(db);
    for (auto [first, second] : pairs) {
        const QVariantList ids{QVariant::fromValue<qint64>(std::min(first, second)), QVariant::fromValue<qint64>(std::max(first, second))};
        db.runBound(QStringLiteral("delete from D_NotDup where theFirst = ?1 and theSecond = ?2"), ids);
        db.runBound(QStringLiteral("insert into D_NotDup (theFirst, theSecond) values (?1, ?2)"), ids);
    }
    transaction.commit();
}

int forgetNotDuplicateDecisions(Database& db)
{
    if (db.firstInteger(notDuplicateTableExistsSql()) == 0)
        return 0;
    Transaction transaction(db);
    const int forgotten = db.runBound(QStringLiteral("delete from D_NotDup"), {});
    transaction.commit();
    return forgotten;
}

} // namespace ostrel

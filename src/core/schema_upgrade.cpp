#include "core/schema_upgrade.h"

#include "core/search_key_statements.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "engine/transaction.h"

namespace ostrel {

namespace {

int64_t firstValue(SqlCipherConnection& db, const QString& sql, const QVariantList& values = {})
{
    int64_t value = 0;
    db.runBound(sql, values, [&](const SqlCipherConnection::Row& row) { value = row.integer(0); });
    return value;
}

int liveIndexColumns(SqlCipherConnection& db)
{
    int columns = 0;
    db.runBound(liveIndexColumnsSql(), {}, [&](const SqlCipherConnection::Row&) { ++columns; });
    return columns;
}

// The live-card index of the delivered schema: theDel, ID, BName.
constexpr int kLiveIndexColumns = 3;

} // namespace

bool hasSearchKeys(SqlCipherConnection& db)
{
    return firstValue(db, searchKeyTableExistsSql()) > 0;
}

UpgradeResult upgradeSchema(SqlCipherConnection& db, const SearchKeyProgress& progress)
{
    db.open();
    const bool keyTable = hasSearchKeys(db);
    const int64_t keyedUpTo = keyTable ? firstValue(db, lastCardWithSearchKeySql()) : 0;
    const bool buildKeys = !keyTable || firstValue(db, cardsWithoutSearchKeySql(), {QVariant::fromValue<qint64>(keyedUpTo)}) > 0;
    const bool widenIndex = liveIndexColumns(db) < kLiveIndexColumns;
    if (!buildKeys && !widenIndex)
        return UpgradeResult::Current;
    if (db.isReadOnly())
        return UpgradeResult::ReadOnly;
    Transaction transaction(db);
    if (widenIndex) {
        db.execute(dropLiveIndexSql());
        db.execute(createLiveIndexSql());
    }
    if (!keyTable)
        db.execute(searchKeyTableSql());
    if (buildKeys)
        updateSearchKeysAfter(db, keyedUpTo, progress);
    transaction.commit();
    return UpgradeResult::Upgraded;
}

} // namespace ostrel

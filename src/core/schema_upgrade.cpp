#include "core/schema_upgrade.h"

#include "core/card_key_statements.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "engine/transaction.h"

namespace ostrel {

namespace {

int liveIndexColumns(SqlCipherConnection& db)
{
    int columns = 0;
    db.runBound(liveIndexColumnsSql(), {}, [&](const SqlCipherConnection::Row&) { ++columns; });
    return columns;
}

// The live-card index of the delivered schema: theDel, ID, BName.
constexpr int kLiveIndexColumns = 3;

} // namespace

bool hasCardKeys(SqlCipherConnection& db)
{
    return db.firstInteger(keyTableExistsSql()) > 0;
}

UpgradeResult upgradeSchema(SqlCipherConnection& db, const KeyProgress& progress)
{
    db.open();
    const bool keyTable = hasCardKeys(db);
    const int64_t keyedUpTo = keyTable ? db.firstInteger(lastKeyedCardSql()) : 0;
    const bool buildKeys = !keyTable || db.firstInteger(unkeyedCardsSql(), {QVariant::fromValue<qint64>(keyedUpTo)}) > 0;
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
        db.execute(keyTableSql());
    if (buildKeys)
        updateCardKeysAfter(db, keyedUpTo, progress);
    transaction.commit();
    return UpgradeResult::Upgraded;
}

} // namespace ostrel

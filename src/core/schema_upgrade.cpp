#include "core/schema_upgrade.h"

#include "core/card_image_store.h"
#include "core/duplicates/not_duplicates.h"
#include "core/loose_date.h"
#include "core/quick_find_index.h"
#include "core/server_changes.h"
#include "core/server_quick_find.h"
#include "core/schema_names.h"
#include "core/search_key_statements.h"
#include "core/sync/sync_state.h"
#include "core/visit_stats.h"
#include "core/visit_summary.h"
#include "engine/engine_error.h"
#include "engine/postgres/pg_connection.h"
#include "engine/sql_text.h"
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

// The dated records: visits and anniversaries.
const struct {
    const char* table;
    const char* column;
} kDatedTables[] = {{"DList", "LDate"}, {"DJNR", "JDate"}};

// A date not in the stored form; the index of each dated table on it holds those few rows
// alone, so the check at every start reads them and nothing else.
QString looseDateCondition(const QString& column)
{
    return QStringLiteral("not (%1 like '____-__-__')").arg(column);
}

// The month-day index the anniversary reminder reads, the indexes of loosely stored dates and
// those of the visit statistics, each by its name, in the file's dialect: a server gets them too.
std::vector<std::pair<QString, QString>> dateIndexes()
{
    std::vector<std::pair<QString, QString>> indexes{
        {QStringLiteral("DJNR_MonthDay"), QStringLiteral("CREATE INDEX DJNR_MonthDay ON DJNR (%1)").arg(anniversaryMonthDaySql())}};
    for (const auto& dated : kDatedTables) {
        const QString table = QString::fromLatin1(dated.table);
        const QString column = QString::fromLatin1(dated.column);
        indexes.emplace_back(table + QStringLiteral("_LooseDate"),
                             QStringLiteral("CREATE INDEX %1_LooseDate ON %1 (%2) WHERE %3").arg(table, column, looseDateCondition(column)));
    }
    for (auto& index : visitStatsIndexes())
        indexes.push_back(std::move(index));
    return indexes;
}

// What a file gets beyond the delivered schema, each by its name and made when missing: the
// log that keeps quick find's index current and the date indexes. Built-in SQL alone, so
// that an older version writing the file keeps them too.
std::vector<std::pair<QString, QString>> fileAdditions()
{
    std::vector<std::pair<QString, QString>> additions;
    const QStringList names = quickFindLogNames();
    const QStringList statements = quickFindLogStatements();
    for (qsizetype i = 0; i < names.size(); ++i)
        additions.emplace_back(names[i], statements[i]);
    for (auto& index : dateIndexes())
        additions.push_back(std::move(index));
    // The reminder's rows read from this index alone: at start, the anniversaries of the coming
    // week are found without a read of each one's row.
    additions.emplace_back(QStringLiteral("DJNR_MonthDayRows"),
                           QStringLiteral("CREATE INDEX DJNR_MonthDayRows ON DJNR (%1, DID, JDate, JMemo)").arg(anniversaryMonthDaySql()));
    return additions;
}

// The additions the file lacks.
QStringList missingAdditions(Database& db, const std::vector<std::pair<QString, QString>>& additions)
{
    QStringList missing;
    for (const auto& [name, statement] : additions)
        if (db.firstInteger(schemaObjectExistsSql(), {name}) == 0)
            missing << statement;
    return missing;
}

} // namespace

QString anniversaryMonthDaySql()
{
    return QStringLiteral("substr(JDate,6,5)");
}

std::vector<StoredDateFix> storedDateFixes(Database& db)
{
    std::vector<StoredDateFix> fixes;
    for (const auto& dated : kDatedTables) {
        const QString column = QString::fromLatin1(dated.column);
        // LIKE with "_" reads the same on both engines; only the few loose rows come back.
        const QString sql = QStringLiteral("select ID, %1 from %2 where %3")
                                .arg(column, QString::fromLatin1(dated.table), looseDateCondition(column));
        db.runBound(sql, {}, [&](const Database::Row& row) {
            const QString stored = row.text(1);
            const std::optional<QString> normal = normalDate(stored);
            if (normal && *normal != stored)
                fixes.push_back({dated.table, dated.column, row.integer(0), stored, *normal});
        });
    }
    return fixes;
}

void applyStoredDateFixes(Database& db, const std::vector<StoredDateFix>& fixes)
{
    for (const StoredDateFix& fix : fixes) {
        const QString sql = QStringLiteral("update %1 set %2 = ?1 where ID = ?2 and %2 = ?3")
                                .arg(QString::fromLatin1(fix.table), QString::fromLatin1(fix.column));
        db.runBound(sql, {fix.normal, QVariant::fromValue<qint64>(fix.id), fix.stored});
    }
}

namespace {

// What a server made by an older version lacks, in the server's own text: the kept card
// images and the address-book sync came later than the team database.
QStringList missingServerTables(Database& db)
{
    QStringList statements;
    if (!keepsCardImages(db))
        statements << serverCardImageStatements();
    if (db.firstInteger(sync::syncTablesExistSql()) == 0)
        statements << sync::serverSyncTableStatements();
    if (db.firstInteger(notDuplicateTableExistsSql()) == 0)
        statements << serverNotDuplicateStatements();
    return statements;
}

// The program's own tables the file lacks (card images, sync state, "not a duplicate" pairs).
QStringList missingFileTables(Database& db)
{
    QStringList statements;
    if (db.firstInteger(sync::syncTablesExistSql()) == 0)
        statements << sync::fileSyncTableStatements();
    if (db.firstInteger(cardImageTableExistsSql()) == 0)
        statements << fileCardImageStatements();
    if (db.firstInteger(notDuplicateTableExistsSql()) == 0)
        statements << fileNotDuplicateStatements();
    return statements;
}

// The server's planner cannot tell from its statistics that the loose dates' partial indexes
// hold next to no rows (its guess for NOT LIKE on citext is nearly all of them), and would
// read the dated tables whole at every start: half a second at a million cards.
std::vector<StoredDateFix> serverDateFixes(PgConnection& server)
{
    Transaction transaction(server);
    server.runServerSql(QStringLiteral("SET LOCAL enable_seqscan = off"));
    std::vector<StoredDateFix> fixes = storedDateFixes(server);
    transaction.commit();
    return fixes;
}

void fixDates(Database& db, const std::vector<StoredDateFix>& fixes)
{
    Transaction transaction(db);
    applyStoredDateFixes(db, fixes);
    transaction.commit();
}

// The log of changed cards, made once by an account that may and trimmed at later starts.
void addServerChangeLog(PgConnection& server)
{
    try {
        if (hasServerChangeLog(server)) {
            try {
                addCardRowLog(server);
            } catch (const EngineError&) {
                // Lists are read whole, as before, until an account that may starts once.
            }
            trimServerChangeLog(server);
            return;
        }
        Transaction transaction(server);
        // What is left of a log of this account's own (one of its tables dropped) is made anew.
        server.runServerSql(QStringLiteral("DROP FUNCTION IF EXISTS ostrel_log_cards() CASCADE; DROP TABLE IF EXISTS D_CardLog, D_CardCount"));
        server.runServerSql(serverChangeLogStatements().join(QStringLiteral(";\n")));
        transaction.commit();
    } catch (const EngineError&) {
    }
}

} // namespace

QStringList serverDateIndexStatements()
{
    QStringList statements;
    for (const auto& index : dateIndexes())
        statements << adaptServerSql(index.second, schemaNames());
    return statements;
}

ServerUpgrade upgradeServer(Database& db)
{
    auto* server = dynamic_cast<PgConnection*>(&db);
    if (server) {
        // Made once by an account that may; without them the same statements read the tables whole.
        const QStringList indexes = missingAdditions(db, dateIndexes());
        try {
            for (const QString& statement : indexes)
                server->runServerSql(adaptServerSql(statement, schemaNames()));
            if (db.firstInteger(schemaObjectExistsSql(), {QStringLiteral("D_CountStamp")}) == 0) {
                Transaction transaction(db);
                server->runServerSql(countStampStatements().join(QStringLiteral(";\n")));
                transaction.commit();
            }
            if (!hasVisitSummaries(db)) {
                Transaction transaction(db);
                server->runServerSql(serverVisitSummaryStatements().join(QStringLiteral(";\n")));
                transaction.commit();
            }
        } catch (const EngineError&) {
        }
        addServerChangeLog(*server);
        addServerKeyGrams(*server);
    }
    const std::vector<StoredDateFix> fixes = server ? serverDateFixes(*server) : storedDateFixes(db);
    const QStringList tables = server ? missingServerTables(db) : QStringList();
    if (tables.isEmpty()) {
        if (fixes.empty())
            return {UpgradeResult::Current, {}};
        fixDates(db, fixes);
        return {UpgradeResult::Upgraded, {}};
    }
    try {
        Transaction transaction(db);
        server->runServerSql(tables.join(QStringLiteral(";\n")));
        applyStoredDateFixes(db, fixes);
        transaction.commit();
        return {UpgradeResult::Upgraded, {}};
    } catch (const EngineError& error) {
        // Usually an account that may read and write cards but not create tables. The cards
        // stay usable; the dates need no such right and are fixed all the same.
        if (!fixes.empty())
            fixDates(db, fixes);
        return {fixes.empty() ? UpgradeResult::Current : UpgradeResult::Upgraded,
                QStringLiteral("团队数据库是旧版本建立的，缺少名片图像表、通讯录同步表或“不是重复”记录表，当前登录的账户无法建立它们（%1）。"
                               "名片可以照常使用，但扫描名片的图像不会保存，通讯录同步不可用，“不是重复”的决定也无法记住。请服务器管理员用数据库所有者的账户"
                               "启动一次本程序，这些表会自动建立。").arg(error.message())};
    }
}

bool hasSearchKeys(SqlCipherConnection& db)
{
    return db.firstInteger(searchKeyTableExistsSql()) > 0;
}

UpgradeResult upgradeSchema(SqlCipherConnection& db, const UpgradeProgress& progress)
{
    db.open();
    const bool keyTable = hasSearchKeys(db);
    const int64_t keyedUpTo = keyTable ? db.firstInteger(lastCardWithSearchKeySql()) : 0;
    const bool buildKeys = !keyTable || db.firstInteger(cardsWithoutSearchKeySql(), {QVariant::fromValue<qint64>(keyedUpTo)}) > 0;
    const bool widenIndex = liveIndexColumns(db) < kLiveIndexColumns;
    const std::vector<StoredDateFix> dateFixes = storedDateFixes(db);
    const QStringList tables = missingFileTables(db);
    const bool summaries = !hasVisitSummaries(db);
    const QStringList additions = missingAdditions(db, fileAdditions());
    // The log is read from its start by the index each start makes: what it held is in the keys.
    const bool oldLog = additions.isEmpty() && db.firstInteger(quickFindLogEndSql()) > 0;
    if (!buildKeys && !widenIndex && dateFixes.empty() && tables.isEmpty() && !summaries && additions.isEmpty() && !oldLog)
        return UpgradeResult::Current;
    if (db.isReadOnly())
        return UpgradeResult::ReadOnly;
    Transaction transaction(db);
    if (oldLog)
        db.execute(clearQuickFindLogSql());
    if (widenIndex) {
        db.execute(dropLiveIndexSql());
        db.execute(createLiveIndexSql());
    }
    if (!keyTable)
        db.execute(searchKeyTableSql());
    for (const QString& statement : tables)
        db.execute(statement);
    applyStoredDateFixes(db, dateFixes);
    if (buildKeys)
        updateSearchKeysAfter(db, keyedUpTo, progress.keys);
    // After the keys: a log made first would list every card the build writes. On one bar,
    // each index weighs a twentieth of the tables' filling that follows.
    constexpr int64_t kIndexSteps = 5, kFillSteps = 100;
    const int64_t steps = additions.size() * kIndexSteps + (summaries ? kFillSteps : 0);
    for (qsizetype i = 0; i < additions.size(); ++i) {
        if (progress.tables)
            progress.tables(i * kIndexSteps, steps);
        db.execute(additions[i]);
    }
    // After the date fixes and the visits' card-and-date index, which the filling reads.
    if (summaries)
        addFileVisitSummaries(db, [&](int64_t done, int64_t total) {
            if (progress.tables)
                progress.tables(steps - kFillSteps + done * kFillSteps / total, steps);
        });
    transaction.commit();
    // Only the log was emptied: nothing the user would call an upgrade.
    return additions.isEmpty() && !buildKeys && !widenIndex && dateFixes.empty() && tables.isEmpty() && !summaries
        ? UpgradeResult::Current
        : UpgradeResult::Upgraded;
}

} // namespace ostrel

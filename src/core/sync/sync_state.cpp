#include "core/sync/sync_state.h"

#include "engine/database.h"
#include "engine/transaction.h"

#include <algorithm>
#include <optional>

namespace ostrel::sync {

QStringList fileSyncTableStatements()
{
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS D_Sync (ID INTEGER PRIMARY KEY, theUid TEXT NOT NULL DEFAULT '', "
                       "theHref TEXT NOT NULL DEFAULT '', theEtag TEXT NOT NULL DEFAULT '', theText TEXT NOT NULL DEFAULT '', "
                       "theChanged TEXT NOT NULL DEFAULT '')"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS D_SyncConf (theName TEXT PRIMARY KEY, theValue TEXT NOT NULL DEFAULT '')"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS D_Sync_Changed AFTER UPDATE ON D_B BEGIN "
                       "UPDATE D_Sync SET theChanged = strftime('%Y-%m-%dT%H:%M:%SZ', 'now') WHERE ID = new.ID; END"),
    };
}

QString syncTablesExistSql()
{
    // A server folds the unquoted name to lower case.
    return QStringLiteral("select count(*) from sqlite_master where type='table' and lower(name)='d_sync'");
}

QStringList serverSyncTableStatements()
{
    // Unquoted names fold to lower case on the server, as the adapted statements write them;
    // ID and theName, names of the card schema, are the ones the adapter quotes.
    return {
        QStringLiteral(R"(CREATE TABLE IF NOT EXISTS d_sync ("ID" bigint PRIMARY KEY, theuid text NOT NULL DEFAULT '', )"
                       R"(thehref text NOT NULL DEFAULT '', theetag text NOT NULL DEFAULT '', thetext text NOT NULL DEFAULT '', )"
                       R"(thechanged text NOT NULL DEFAULT ''))"),
        QStringLiteral(R"(CREATE TABLE IF NOT EXISTS d_syncconf ("theName" text PRIMARY KEY, thevalue text NOT NULL DEFAULT ''))"),
        QStringLiteral(R"(CREATE OR REPLACE FUNCTION ostrel_sync_changed() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN )"
                       R"(UPDATE d_sync SET thechanged = to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"') )"
                       R"(WHERE "ID" = NEW."ID"; RETURN NULL; END $$)"),
        // The trigger outlives a dropped d_sync, and CREATE TRIGGER has no IF NOT EXISTS.
        QStringLiteral(R"(DROP TRIGGER IF EXISTS "D_B_SyncChanged" ON "D_B")"),
        QStringLiteral(R"(CREATE TRIGGER "D_B_SyncChanged" AFTER UPDATE ON "D_B" FOR EACH ROW EXECUTE FUNCTION ostrel_sync_changed())"),
    };
}

SyncRecords loadSyncRecords(Database& db)
{
    SyncRecords records;
    db.runBound(QStringLiteral("select ID, theUid, theHref, theEtag, theText, theChanged from D_Sync"), {},
                [&](const Database::Row& row) {
                    SyncRecord record{row.integer(0), row.text(1), row.text(2), row.text(3), row.text(4), row.text(5)};
                    records.emplace(record.card, std::move(record));
                });
    return records;
}

void saveSyncRecord(Database& db, const SyncRecord& record)
{
    // One commit rather than two: each is a write to disk, once per card of a sync.
    std::optional<Transaction> own;
    if (!db.inTransaction())
        own.emplace(db);
    const QVariant card = QVariant::fromValue<qint64>(record.card);
    db.runBound(QStringLiteral("delete from D_Sync where ID = ?1"), {card});
    db.runBound(QStringLiteral("insert into D_Sync (ID, theUid, theHref, theEtag, theText, theChanged) values (?1, ?2, ?3, ?4, ?5, '')"),
                {card, record.uid, record.href, record.etag, record.text});
    if (own)
        own->commit();
}

void deleteSyncRecord(Database& db, int64_t card)
{
    db.runBound(QStringLiteral("delete from D_Sync where ID = ?1"), {QVariant::fromValue<qint64>(card)});
}

QString syncSetting(Database& db, const char* name)
{
    QString value;
    db.runBound(QStringLiteral("select theValue from D_SyncConf where theName = ?1"), {QString::fromLatin1(name)},
                [&](const Database::Row& row) { value = row.text(0); });
    return value;
}

void setSyncSetting(Database& db, const char* name, const QString& value)
{
    db.runBound(QStringLiteral("delete from D_SyncConf where theName = ?1"), {QString::fromLatin1(name)});
    db.runBound(QStringLiteral("insert into D_SyncConf (theName, theValue) values (?1, ?2)"), {QString::fromLatin1(name), value});
}

SyncTimes loadSyncTimes(Database& db)
{
    SyncTimes times;
    times.onStart = syncSetting(db, setting::kOnStart) == QStringLiteral("1");
    times.onClose = syncSetting(db, setting::kOnClose) == QStringLiteral("1");
    times.everyMinutes = std::max(0, syncSetting(db, setting::kEvery).toInt());
    return times;
}

void saveSyncTimes(Database& db, const SyncTimes& times)
{
    const auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    setSyncSetting(db, setting::kOnStart, flag(times.onStart));
    setSyncSetting(db, setting::kOnClose, flag(times.onClose));
    setSyncSetting(db, setting::kEvery, QString::number(std::max(0, times.everyMinutes)));
}

} // namespace ostrel::sync

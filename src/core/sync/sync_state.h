#pragma once
#include <QString>
#include <QStringList>

#include <cstdint>
#include <unordered_map>

namespace ostrel {
class Database;
}

namespace ostrel::sync {

// What this desktop keeps of the address-book sync inside the card database (the encrypted
// file, or the team server): per card what was last agreed with the server, and the
// settings, the account's password among them, which is kept nowhere else.

// The statements that make the sync tables in the file: D_Sync (per card), D_SyncConf
// (settings), and a trigger that notes when a card was last changed here, whatever window
// or tool changed it, for the merge's "later change wins".
QStringList fileSyncTableStatements();
// One row, 1 when the file has the sync tables.
QString syncTablesExistSql();
// The same tables and trigger on a team server, in the server's own text (run unadapted).
QStringList serverSyncTableStatements();

struct SyncRecord {
    int64_t card = 0;
    QString uid;
    QString href;    // empty until the card was first sent
    QString etag;    // the version last agreed; empty when the server never confirmed one
    QString text;    // the vCard text last agreed; empty when none was
    QString changed; // when the card was last changed here (UTC, ISO 8601), empty when unknown
};

using SyncRecords = std::unordered_map<int64_t, SyncRecord>;
SyncRecords loadSyncRecords(Database& db);
// Keeps the record, replacing the card's earlier one, and clears its change time: what it
// holds is what both sides agree on now.
void saveSyncRecord(Database& db, const SyncRecord& record);
void deleteSyncRecord(Database& db, int64_t card);

// Settings by name; an unknown name reads as the empty text.
namespace setting {
inline constexpr char kUrl[] = "url";        // the address the user gave
inline constexpr char kUser[] = "user";
inline constexpr char kPassword[] = "password";
inline constexpr char kBook[] = "book";      // the chosen address book's URL
inline constexpr char kToken[] = "token";    // the sync token after the last complete sync
inline constexpr char kCtag[] = "ctag";
inline constexpr char kTrusted[] = "trusted"; // a certificate fingerprint the user confirmed
inline constexpr char kBookName[] = "bookName";
inline constexpr char kOnStart[] = "onStart";  // "1" to sync when the program starts
inline constexpr char kOnClose[] = "onClose";  // "1" to sync when it closes
inline constexpr char kEvery[] = "everyMinutes"; // minutes between syncs while it runs, 0 for never
} // namespace setting
QString syncSetting(Database& db, const char* name);
void setSyncSetting(Database& db, const char* name, const QString& value);

// When the program syncs by itself.
struct SyncTimes {
    bool onStart = false;
    bool onClose = false;
    int everyMinutes = 0; // 0: not while it runs
};
SyncTimes loadSyncTimes(Database& db);
void saveSyncTimes(Database& db, const SyncTimes& times);

} // namespace ostrel::sync

#pragma once
#include "core/search_keys.h"

namespace ostrel {

class SqlCipherConnection;

// Brings a card database written by an older version up to the one this program writes, in
// one transaction, once: the search key table, built from the cards (progress is told
// how far), the card image table, the "not a duplicate" table, the live-card index with the name, and the visit and anniversary dates that
// older versions stored as typed put into the stored form (storedDateFixes). Live cards numbered above the last one
// with a key (written by a tool, or by an import that ended in an error) get their keys
// too. Each step runs only when the file lacks what it makes, so a current file costs a
// few lookups. A file that cannot be written is left
// as it is. Opens the connection; throws EngineError (nothing is changed then).
enum class UpgradeResult { Current, Upgraded, ReadOnly };
// The long steps of a large file's upgrade, each told how far it is: the search keys, then the
// indexes and the visit statistics' tables.
struct UpgradeProgress {
    SearchKeyProgress keys;
    SearchKeyProgress tables;
};
UpgradeResult upgradeSchema(SqlCipherConnection& db, const UpgradeProgress& progress = {});

// The month-day ("mm-dd") of an anniversary's JDate, as the file's index on it holds it (the
// same as Mid(JDate,6,5)): statements that pick anniversaries by month-day use it, so that the
// index serves them rather than a read of every anniversary.
QString anniversaryMonthDaySql();

// Whether the file has the search key table (a read-only older file does not).
bool hasSearchKeys(SqlCipherConnection& db);

// A visit or anniversary date stored in another form than "yyyy-mm-dd" that names a real
// day ("2024-6-5"), and the form it gets. Dates that name no day ("明天") stay as they are:
// nothing a user typed is thrown away.
struct StoredDateFix {
    const char* table;
    const char* column;
    int64_t id;
    QString stored;
    QString normal;
};
// The fixes either engine's card database needs; reads only the dates not already stored
// in the ten-character form.
std::vector<StoredDateFix> storedDateFixes(Database& db);
// Writes them, each only where the date is still the one read; inside the caller's
// transaction.
void applyStoredDateFixes(Database& db, const std::vector<StoredDateFix>& fixes);

// A team server gets no file upgrade; its tables are made whole when it is set up. A server
// set up by an older version gets, in one transaction and only when it lacks them, the card
// image table, the sync tables and the "not a duplicate" table, and the loosely stored dates that desktops of older
// versions may have written there are fixed. When the account may not create tables, the
// dates are still fixed and warning says, for the user, what is missing and who can add it.
struct ServerUpgrade {
    UpgradeResult result = UpgradeResult::Current;
    QString warning;
};
ServerUpgrade upgradeServer(Database& db);
// The month-day index of the anniversaries and the indexes of loosely stored dates in the
// server's dialect, for a server being set up.
QStringList serverDateIndexStatements();

} // namespace ostrel

#pragma once
#include "core/card_fields.h"

#include <QString>

#include <functional>

namespace ostrel {

class Database;
class Query;

// What one import did, row by row.
struct CardImportCounts {
    int imported = 0;
    int duplicates = 0;
    int nameless = 0;
};

struct CardImportResult {
    CardImportCounts counts;
    int rowsDone = 0; // the rows gone through, of those asked for
    bool cancelled = false;
};

// What an import reads and whom it tells: read(row, values) gives row's 24 values;
// entryDate() the entry date ("yyyy-mm-dd") of a card added now; progress(rowsDone), asked
// every so many rows, returns false to stop the import there (the rows before it are kept).
struct CardImportCalls {
    std::function<void(int row, CardValues& values)> read;
    std::function<QString()> entryDate;
    std::function<bool(int rowsDone)> progress;
    // Rows committed together, with their cards' search keys. The engine holds every page a
    // transaction changed until its commit, so a whole sheet in one transaction held the
    // pages of all its cards at once. Nothing is lost by it: each row's insert stands alone,
    // and the rows before an error or a cancel are kept either way.
    int chunkRows = 10000;
};

// Adds rows from any source as cards: rows without a name and rows that match a live card
// (or an earlier row) by category, name and sex are skipped, the rest go in with their
// search keys in transactions of some thousand rows, each value cut to its import limit.
// query runs the statements that count cards. A cancel or an engine error midway keeps the
// rows before it; the error is thrown, saying how many cards the database really holds
// from this import.
CardImportResult importCards(Database& db, Query& query, int rowCount, const CardImportCalls& calls);

} // namespace ostrel

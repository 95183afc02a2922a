#pragma once
#include "core/search_keys.h"

namespace ostrel {

class SqlCipherConnection;

// Brings a card database written by an older version up to the one this program writes, in
// one transaction, once: the search key table, built from the cards (progress is told
// how far), and the live-card index with the name. Live cards numbered above the last one
// with a key (written by a tool, or by an import that ended in an error) get their keys
// too. Each step runs only when the file lacks what it makes, so a current file costs a
// few lookups. A file that cannot be written is left
// as it is. Opens the connection; throws EngineError (nothing is changed then).
enum class UpgradeResult { Current, Upgraded, ReadOnly };
UpgradeResult upgradeSchema(SqlCipherConnection& db, const SearchKeyProgress& progress = {});

// Whether the file has the search key table (a read-only older file does not).
bool hasSearchKeys(SqlCipherConnection& db);

} // namespace ostrel

#pragma once
#include <QString>
#include <QStringList>

namespace ostrel {

// The statements of the search key table D_BKey and of the upgrade of an older card
// database. Values are bound to ?1, ?2 …; nothing typed is pasted into these texts.

// The search key table: one row per live card, its card ID and its search key (search_keys.h).
QString searchKeyTableSql();
// One row, 1 when the search key table is there.
QString searchKeyTableExistsSql();
// The highest card ID with a search key, 0 when none has one.
QString lastCardWithSearchKeySql();
// One row, 1 when a live card numbered above ?1 is there: cards written by a program that
// keeps no search keys (an older version, a tool) or by an import that ended in an error.
QString cardsWithoutSearchKeySql();
// The columns of the live-card index, one row each.
QString liveIndexColumnsSql();
// The live-card index as the delivered schema has it: with the name, so the name search and
// the sort by name read the index alone.
QString dropLiveIndexSql();
QString createLiveIndexSql();
// The lowest and highest card ID above ?1: the progress of a search key build runs between them.
QString cardIdRangeSql();
// ID, theDel, then the fields that feed the search key in field-table order: of the card ?1, and of
// the cards numbered above ?1.
QString searchKeySourceOfCardSql();
QString searchKeySourceAfterSql();
// Writes the search key ?2 of card ?1, replacing the one there; removes the search key of card ?1.
QString writeSearchKeySql();
QString deleteSearchKeySql();
// The cards whose search key holds the text ?1 (from quickFindText), with their match class.
QString quickFindSql();


// The log of changed cards that keeps quick find's in-memory index current (quick_find_index.h):
// triggers add the card of every search key written or removed and of every visit or
// anniversary added, changed or removed, whoever writes the file. Seq only grows.
QStringList quickFindLogStatements();
// The names the log statements create, each checked for on its own.
QStringList quickFindLogNames();
// One row, 1 when the database has a table, trigger or index named ?1 (in any case: a server
// folds unquoted names to lower case).
QString schemaObjectExistsSql();
// One row, 1 when the log is there.
QString quickFindLogExistsSql();
// The highest Seq of the log, 0 when it is empty.
QString quickFindLogEndSql();
// The cards logged after Seq ?1.
QString quickFindLogSql();
// Empties the log: at start, before any index is read.
QString clearQuickFindLogSql();
// The span of the IDs with a key (highest less lowest, plus one): about how many there are,
// without reading them.
QString searchKeySpanSql();
// Every card's ID and key, by ID; the key of card ?1.
QString searchKeysInOrderSql();
QString searchKeyOfCardSql();
// Card ID and its visits or anniversaries, by card; both counts of card ?1.
QString visitCountsByCardSql();
QString anniversaryCountsByCardSql();
QString countsOfCardSql();
// The team server's change stamp of visits and anniversaries.
QString countStampSql();

} // namespace ostrel

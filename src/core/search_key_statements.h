#pragma once
#include <QString>

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

} // namespace ostrel

#pragma once
#include "engine/database.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace ostrel {

class Database;

// Quick find matches what a user types against the search key kept per live card in the
// table D_BKey: the name's characters, its pinyin (every reading, see nameSpellings) and
// initials, the digits of every phone field, the company and the e-mail, all lower case and
// without blanks. The engine matches through its QuickFind(key, text) function, so the
// typed text is bound to the statement, never pasted into it, and matches literally.

// The text as search keys hold it: full-width forms folded, lower case, blanks and control
// characters left out. Typed text that looks like a phone number (digits and - + ( ) . /)
// keeps its digits only, without a leading +86, as the phone fields are kept.
QString quickFindText(const QString& typed);

// How a search key matches text from quickFindText: 0 not at all, 1 the whole name or a whole
// reading of it, 2 the start of its initials, 3 anywhere else. The list shows them in
// that order.
int quickFindClass(std::string_view key, std::string_view text);

// The search key of a card from the values of the fields the card field table marks for quick find.
QString searchKeyText(const QString& name, const std::vector<QString>& phones, const QString& company, const QString& mail);

// The search key of the card in a row of searchKeySourceOfCardSql()/searchKeySourceAfterSql()
// (ID, theDel, then the fields that feed it), or nothing for a deleted card: for a copy of the cards elsewhere.
std::optional<QString> searchKeyOfSourceRow(const Database::Row& row);

// Brings the search keys of these cards in line with D_B: a live card gets its search key
// written anew, a deleted or missing one loses it. Every path that writes a card calls this (or the one
// below), inside the transaction of its change.
void updateSearchKeys(Database& db, const std::vector<int64_t>& cards);
// The same for every card numbered above lastId: the cards an import has just added, or
// every card (lastId 0) when an older file gets its search keys. progress is told how far through
// the card numbers it has got.
using SearchKeyProgress = std::function<void(int64_t done, int64_t total)>;
void updateSearchKeysAfter(Database& db, int64_t lastId, const SearchKeyProgress& progress = {});

// The cards of list, in their order, whose search key holds the typed text, ordered by class
// (quickFindClass) and within a class in the list's order. Text that quickFindText leaves
// empty narrows nothing.
std::vector<int64_t> quickFind(Database& db, const QString& typed, const std::vector<int64_t>& list);
// The cards of list among matches (card, class from quickFindClass) ordered as quickFind orders them.
std::vector<int64_t> matchesInListOrder(std::vector<std::pair<int64_t, int>> matches, const std::vector<int64_t>& list);

} // namespace ostrel

#pragma once
#include <QString>
#include <QStringList>

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace ostrel {

class Database;

// Pairs of cards the user said are not duplicates, kept in the program-created table
// D_NotDup (theFirst < theSecond, card IDs), so the search does not offer them again.

// The file's table, the server's, and the check whether the database has it.
QStringList fileNotDuplicateStatements();
QStringList serverNotDuplicateStatements();
QString notDuplicateTableExistsSql();

using CardPair = std::pair<int64_t, int64_t>; // first < second
using CardPairs = std::set<CardPair>;

// Every remembered pair; none where the table is missing (a read-only older file).
CardPairs loadNotDuplicates(Database& db);
// Remembers the pairs, in one transaction; a pair remembered already stays once.
void rememberNotDuplicates(Database& db, const std::vector<CardPair>& pairs);
// Forgets every decision; returns how many pairs were remembered.
int forgetNotDuplicateDecisions(Database& db);

} // namespace ostrel

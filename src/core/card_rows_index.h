#pragma once
#include <QString>

namespace ostrel {

class Database;

// The card table as the anniversary overview joins it: on a file with the index of each card's
// name and sex by number, that index by name (the engine would otherwise read each card's whole
// row, and the reminder at start looks up tens of thousands of cards of a large file); plain
// "D_B" on a server or on a read-only older file without it. The rows are the same either way.
QString overviewCardTable(Database& db);

} // namespace ostrel

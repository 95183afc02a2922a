#pragma once
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace ostrel {

class Database;

// Two small tables that triggers keep current with every write of visits and cards, so that
// the visit statistics of a million cards read thousands of rows rather than millions:
// the visits of existing cards per month, category and province (D_VisitMonths), and each
// card's last visit (D_VisitLast, by card number whether or not the card exists), and how many
// cards were last visited in each month (D_VisitLastMonths).

// The file's tables, filled from what is stored a range of card numbers at a time (progress is
// told how far), and their triggers in the engine's own SQL, so that an older version writing
// the file keeps them right too. Inside the caller's transaction: a file is never left with
// tables half filled.
using VisitSummaryProgress = std::function<void(int64_t done, int64_t total)>;
void addFileVisitSummaries(Database& db, const VisitSummaryProgress& progress = {});
// The same for a team server: the triggers run as the tables' owner, so that an account that
// may write visits need not be granted the tables.
QStringList serverVisitSummaryStatements();
// The server's tables and triggers dropped, for a bulk copy that would otherwise count every
// visit one by one; serverVisitSummaryStatements makes them again from what was copied.
QString serverVisitSummaryDropSql();
// Whether the database has them (a read-only file of an older version, or a server whose
// accounts may not create tables, does not).
bool hasVisitSummaries(Database& db);

} // namespace ostrel

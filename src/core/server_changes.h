#pragma once
#include "engine/database.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace ostrel {

// What other desktops changed on a team server since a moment this desktop saw. Triggers of
// DList, DJNR and D_BKey write, per statement and card, the change of its visits and
// anniversaries (0 for a search key) into D_CardLog, with the writing transaction's number,
// and keep each card's counts in D_CardCount. A moment is the server's snapshot as text; the
// rows that moment did not see are what changed since, whatever order the writers committed in.
struct ServerChanges {
    // The moment the changes were read at: the next read starts from it.
    QString snapshot;
    // The log cannot tell (it was emptied, or a table truncated): everything is read anew.
    bool unknown = false;
    struct Card {
        int64_t id = 0;
        int64_t visits = 0;
        int64_t anniversaries = 0;
    };
    std::vector<Card> cards; // by ID
};

// The statements making the log on a server being set up or started by an account that may.
QStringList serverChangeLogStatements();
// The log's triggers of the cards' own rows, added to a log made before them. Throws
// EngineError for an account that may not.
class PgConnection;
void addCardRowLog(PgConnection& server);
// The card list sql (each card in it by its own row, newest first) is kept on this desktop
// between refreshes and brought up to date from the log, on a server whose log names the
// cards' own rows; elsewhere it is read whole as before.
void followServerCardList(Database& db, const QString& sql);
// Whether each of the tables (lower-case names) of the server's current schema is there and
// passes test, a condition on its pg_class row such as "has_table_privilege(oid, 'SELECT')".
bool serverTablesPass(Database& db, const QStringList& tables, const QString& test);
// Whether db is a server with the log.
bool hasServerChangeLog(Database& db);
// The changes committed after snapshot, read at a new one.
ServerChanges serverChangesSince(Database& db, const QString& snapshot);
// Runs read (its statements) at one snapshot of the server and gives that snapshot, outside
// any transaction of the caller; empty, with read run as it is, inside one.
QString readAtOneSnapshot(Database& db, const std::function<void()>& read);
// A log grown past rows is emptied of what every open transaction has seen, leaving a mark
// that makes every desktop read anew once. At start, by an account that may.
void trimServerChangeLog(Database& db, int64_t rows = 200000);

// The visits and anniversaries of a list of cards counted once, then kept current from the
// log: a refresh after a change on any desktop counts only the cards changed since.
class ServerCounts {
public:
    // The counters (visits, anniversaries) of list, whose fingerprint is listPrint, as count
    // gives them at the server's current state.
    std::vector<qint64> count(Database& db, const std::vector<int64_t>& list, uint64_t listPrint,
                              const std::function<std::vector<qint64>()>& count);

private:
    QString m_snapshot;
    uint64_t m_list = 0;
    std::vector<qint64> m_totals;
};

} // namespace ostrel

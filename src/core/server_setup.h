#pragma once
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace ostrel {

class Database;
class PgConnection;

// The statements that make a team's card database in an empty PostgreSQL database: the
// tables, indexes and seed rows of data/schema.sql adapted to the server (engine-numbered
// IDs as identity columns, text columns as citext compared in byte order, so text compares
// and LIKE match without ASCII case as in the file), the search key table, the change
// counter of each card and the functions the statement texts call (Mid, QuickFind, …).
QStringList serverSchemaStatements();

// Creates the card database's tables, indexes and seed rows in one transaction. Refuses,
// with an EngineError in Chinese, a database that already holds any of the tables.
void initServer(PgConnection& server);

struct CopyCounts {
    int64_t cards = 0;
    int64_t visits = 0;
    int64_t anniversaries = 0;
    int64_t settings = 0; // rows of the category, sex, province, default and column tables
};
// Told the table being copied (its name in Chinese), the rows done and its rows in all.
using CopyProgress = std::function<void(const QString& table, int64_t done, int64_t total)>;

// Copies the cards, visits, anniversaries and settings tables of the file into a database
// made by initServer, in one transaction: IDs kept, the server's numbering set past them,
// the settings rows replacing the seed rows, the search keys built. Refuses a server
// that holds cards, visits or anniversaries already.
CopyCounts copyToServer(Database& file, PgConnection& server, const CopyProgress& progress = {});

// The server that the terminal commands set up, named by its connection text: what is done on
// it stays with the card rules, the commands only say what happens.
class TeamServerSetup {
public:
    explicit TeamServerSetup(const QString& connection);
    ~TeamServerSetup();
    // The server as its user knows it: host, database and user.
    QString displayName() const;
    // See initServer.
    void createTables();
    // See copyToServer.
    CopyCounts copyFrom(Database& file, const CopyProgress& progress = {});

private:
    std::unique_ptr<PgConnection> m_server;
};

} // namespace ostrel

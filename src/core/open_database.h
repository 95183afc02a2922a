#pragma once
#include "core/database_file_commands.h"
#include "engine/database.h"

#include <QString>

#include <memory>

namespace ostrel {

// The password the card database carries until the user sets one of their own.
inline constexpr char kDatabasePassword[] = "kqv749";

// The fixed text that locates the card database beside the program. programDir ends in
// its path separator and goes in unchanged, blanks and Chinese characters included.
QString cardConnectionString(const QString& programDir);

// What the engines are told of the card schema: its names, the change counter of a card and
// the QuickFind(key, text) function of quick find.
const DatabaseRules& cardDatabaseRules();

// The team server's settings beside the card database: where it is asked for, and the one
// text its engine connects with.
inline constexpr char kServerSettingsFile[] = "Data/server.conf";
// The connection text in a server settings file: a PostgreSQL connection URI or key=value
// pairs over one or more lines; lines starting with # and blank lines are left out. Throws
// EngineError, in words a user can act on, when the file cannot be read or sets nothing.
QString readServerSettings(const QString& path);

// The card database as the factory makes it: the engine, and beside the engine of the file the
// commands that only the file has (none for a server).
struct OpenedCardDatabase {
    std::unique_ptr<Database> database;
    std::unique_ptr<DatabaseFileCommands> fileCommands; // refers to database
};

// The card database of the program in programFolder (ending in its separator), not yet
// opened: the team server that Data/server.conf names, else the encrypted file Data/db.edb.
// A server that was asked for is never replaced by the file: a settings file that cannot be
// used throws EngineError.
OpenedCardDatabase openCardDatabaseFor(const QString& programFolder);
// The encrypted card file that connection (see cardConnectionString) names, not yet opened;
// an empty text leaves it to be given later.
OpenedCardDatabase openCardFile(const QString& connection = {});
// A connection of its own to the card database db is connected to, for work on another
// thread: the same file opened with the password db was opened with, or the same server.
// Opened; throws EngineError when it does not open.
std::unique_ptr<Database> openSameCardDatabase(Database& db);

} // namespace ostrel

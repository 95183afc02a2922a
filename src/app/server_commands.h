#pragma once
#include "core/open_database.h"

#include <optional>

namespace ostrel {

// The terminal commands that make a team database:
//   ostrel --init-server "<connection>"     creates the tables in an empty PostgreSQL database
//   ostrel --copy-to-server "<connection>"  copies the program folder's Data/db.edb into it
// Prints progress and counts in Chinese; returns the exit code, or nothing when the
// arguments are none of these (the program starts its windows).
std::optional<int> runServerCommand(int argc, char** argv);

// Opens the card file of opened with the program's own password, else with the one the user
// types at the terminal; throws EngineError when that does not open it either. A server
// (no file commands) is left to open with its first statement.
void openOnTerminal(OpenedCardDatabase& opened);

} // namespace ostrel

#pragma once
#include <optional>

namespace ostrel {

// The commands that run without a window:
//   ostrel --scan FILE…   reads card images and prints one JSON object per card
//   ostrel --help         the commands
//   ostrel --version      the program's version
// Returns the exit code, or nothing when the program is to start its windows (after the
// team server commands, see server_commands.h, and the sync commands, sync_commands.h).
std::optional<int> runCommandLine(int argc, char** argv);

} // namespace ostrel

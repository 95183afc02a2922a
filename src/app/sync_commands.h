#pragma once
#include <optional>

namespace ostrel {

// The address-book sync from the terminal, for scripts and cron:
//   ostrel --sync-setup URL USER  checks the server, picks the account's first address book
//                                 (or makes one named 名片) and keeps the settings, the
//                                 password (OSTREL_SYNC_PASSWORD, else typed) only inside the
//                                 card database
//   ostrel --sync                 one sync with the kept settings, its summary printed; exit
//                                 code 3 when it went through but the server refused cards
//   ostrel --sync-trust SHA256    trusts the server certificate of that fingerprint (printed
//                                 when a sync met it untrusted)
// Both use the program folder's card database (the file, or the team server its settings
// name) and print in Chinese; returns the exit code, or nothing for any other arguments.
std::optional<int> runSyncCommand(int argc, char** argv);

} // namespace ostrel

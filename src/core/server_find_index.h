#pragma once
#include "core/quick_find_index.h"

namespace ostrel {

// The quick-find index of a team server: every card's search key and counts read once, on a
// worker's connection, then kept current from the server's change log (server_changes.h)
// before each keystroke and refresh, so that neither goes to the server for more than the
// cards other desktops changed since.
class ServerQuickFindIndex final : public QuickFindIndex {
public:
    // Reads the keys and counts at one snapshot of the server, a page of cards at a time (a
    // whole result of a million keys would sit in memory twice). stop as for the file's.
    void load(Database& db, const std::atomic<bool>* stop = nullptr, int64_t page = 10000);
    // Takes in what the log names since the load or the last catch-up; Lost when the log
    // cannot tell (emptied, a table truncated, too many cards changed): read it anew then.
    CatchUp catchUp(Database& db) override;

private:
    QString m_snapshot;
};

// What reads the index of the server db uses, on a connection of its own; nothing for a file
// or a server without the change log (or an account not granted it).
QuickFindIndexLoader serverQuickFindIndexLoader(Database& db);

} // namespace ostrel

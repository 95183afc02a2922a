#pragma once
#include "engine/database.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ostrel {

class PgConnection;

// Quick find on a team server, whose cards other desktops change: the server scans its
// search keys (through a trigram index of them when it has one), and a short list of matches
// is kept with their keys, so that a text extending the previous one is matched here against
// them and the cards the server's change log names since (server_changes.h).
class ServerQuickFinder {
public:
    // The cards of list (fingerprint listPrint) whose key holds text (as quickFindText gives
    // it), ordered as quickFind() orders them. Needs the server's change log.
    std::vector<int64_t> find(Database& db, const QString& text, const std::vector<int64_t>& list, uint64_t listPrint);
    void forget();
    // The visits and anniversaries of the cards last found, from the server's per-card
    // counts: false when they are not known (the engine counts them then).
    bool countsOfFound(int64_t& visits, int64_t& anniversaries) const
    {
        visits = m_visits;
        anniversaries = m_anniversaries;
        return m_counted;
    }

private:
    struct Card {
        int64_t id = 0;
        uint32_t keyAt = 0; // its key in m_arena; none: the card's key is gone
        uint32_t keyLength = 0;
        int64_t visits = 0;
        int64_t anniversaries = 0;
        int found = 0; // its class for the current text
    };
    Card card(const Database::Row& row, int key, bool keep);
    // The keys of the cards the log names since m_snapshot brought in; false when it cannot tell.
    bool catchUp(Database& db);
    // The server's matches of text; their keys kept when they are few.
    std::vector<Card> scan(Database& db, const QString& text);

    QString m_text;
    uint64_t m_list = 0;
    QString m_snapshot;
    bool m_keysKept = false;
    std::vector<Card> m_keys; // the previous matches, by ID
    std::string m_arena;      // their keys, one after another
    int m_grams = -1;         // whether the server has the trigram index (-1 not yet asked)
    bool m_counted = false;
    int64_t m_visits = 0;
    int64_t m_anniversaries = 0;
    // The counts of every match of the last scan.
    int64_t m_allVisits = 0;
    int64_t m_allAnniversaries = 0;
};

// The cards the server's change log names since a snapshot (?1), at most ?2 of them: a row
// (0) with the new snapshot, how many there are and whether the log cannot tell (a count of
// rows without a card); a row (1) per card: the card, whether it has a key, the key, its
// visits and anniversaries.
QString changedCardKeysSql();

// The trigram index of the search keys, made at a server's setup and start where the account
// may add the extension; without it the keys are scanned whole.
void addServerKeyGrams(PgConnection& server);

} // namespace ostrel

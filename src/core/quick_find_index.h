#pragma once
#include "core/server_changes.h"
#include "core/server_quick_find.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ostrel {

class Database;

// The search keys of every card of a file, and its visit and anniversary counts, held in
// memory so that a keystroke of quick find reads nothing from the engine: read once on a
// worker thread (loadQuickFindIndex), then kept current from the file's log of changed cards
// (D_BKeyLog, written by triggers whoever writes the file). Names and companies repeat across
// cards: each distinct one is kept once and matched once per keystroke. E-mail domains repeat
// too, and are kept once.
class QuickFindIndex {
public:
    QuickFindIndex() = default;
    QuickFindIndex& operator=(QuickFindIndex&&) = default;
    virtual ~QuickFindIndex() = default;
    // Reads every key and count, and the log's position, in one read transaction. stop, when
    // set, ends the read early (the index is then of no use).
    void load(Database& db, const std::atomic<bool>* stop = nullptr);
    // Applies the changes logged since the last load or catch-up; returns whether there were
    // any. Lost from a file whose log went back (another file put in place) or names more
    // changes than a fresh read costs (an import), or a server's log that cannot tell what
    // changed: reload then.
    enum class CatchUp { Unchanged, Changed, Lost };
    virtual CatchUp catchUp(Database& db);

    // The position of each card of cards in the index (kNone for a card without a key):
    // cards in either ID order are merged, others looked up one by one.
    static constexpr uint32_t kNone = UINT32_MAX;
    std::vector<uint32_t> positions(const std::vector<int64_t>& cards) const;
    // Raised whenever positions move (a card put between others): positions taken earlier
    // must be taken again.
    uint64_t layout() const { return m_layout; }

    // Matching text (from quickFindText) against the cards at positions: prepare() once per
    // text, then matchClass() per card gives quickFindClass of its key.
    void prepare(std::string_view text);
    int matchClass(uint32_t position) const;
    int64_t visits(uint32_t position) const { return m_visits.at(position, m_ids[position]); }
    int64_t anniversaries(uint32_t position) const { return m_anniversaries.at(position, m_ids[position]); }
    size_t size() const { return m_ids.size(); }
    // The other values as they are kept, read back.
    static std::string packedForTest(std::string_view text);
    // Card IDs put one by one at their places as kept, read back in order.
    static std::vector<int64_t> idsForTest(const std::vector<int64_t>& cards);
    // Counts set in turn at positions (of cards numbered as their positions), read back.
    static std::vector<uint32_t> countsForTest(const std::vector<std::pair<uint32_t, uint32_t>>& set);

private:
    // Distinct texts, each stored once.
    struct Strings {
        std::string arena;
        std::vector<uint32_t> starts; // one more than there are texts
        // Open addressing over the texts (number + 1, 0 for none): a map of strings would
        // cost more than the texts themselves, most names being distinct.
        std::vector<uint32_t> table;
        uint32_t add(std::string_view text);
        void rehash(size_t size);
        std::string_view at(uint32_t number) const
        {
            return std::string_view(arena).substr(starts[number], starts[number + 1] - starts[number]);
        }
        size_t count() const { return starts.size() - 1; }
    };
    // The other values of the keys, in blocks that are never moved: a growing single text
    // would be copied whole at each doubling, twice the memory at its peak.
    struct Blocks {
        static constexpr int kBits = 20;
        std::vector<std::unique_ptr<char[]>> blocks;
        size_t used = size_t(1) << kBits; // in the last block
        uint32_t put(std::string_view text);
        std::string_view at(uint32_t start, size_t length) const
        {
            if (length == 0)
                return {};
            return std::string_view(blocks[start >> kBits].get() + (start & ((1u << kBits) - 1)), length);
        }
    };
    // Counts per card, two bytes each: the rare larger one is kept aside by card.
    struct Counts {
        static constexpr uint16_t kLarge = UINT16_MAX;
        std::vector<uint16_t> small;
        std::unordered_map<int64_t, uint32_t> large;
        void set(uint32_t position, int64_t card, uint32_t count);
        uint32_t at(uint32_t position, int64_t card) const
        {
            return small[position] == kLarge ? large.at(card) : small[position];
        }
    };
    // Card IDs, ascending: four bytes each above the first while they fit, eight otherwise.
    struct Ids {
        int64_t base = 0;
        std::vector<uint32_t> narrow;
        std::vector<int64_t> wide; // once one does not fit
        size_t size() const { return wide.empty() ? narrow.size() : wide.size(); }
        int64_t operator[](size_t at) const { return wide.empty() ? base + narrow[at] : wide[at]; }
        size_t lowerBound(int64_t card) const;
        void insert(size_t at, int64_t card);
        void widen();
    };
    void clear();

protected:
    // After a load: gives back the room its texts grew into.
    void loaded();
    // Puts the card's key (none: nullptr) and counts at its place; cards put in ID order are
    // added at the end.
    void put(int64_t card, const std::string_view* key, uint32_t visits, uint32_t anniversaries);

private:
    void setKey(uint32_t position, std::string_view key);
    uint32_t positionOf(int64_t card) const;

    Ids m_ids;
    std::vector<uint32_t> m_names;     // in m_nameTexts: the name, its readings and initials
    std::vector<uint32_t> m_companies; // in m_companyTexts, or kNone
    std::vector<uint32_t> m_restStarts; // the other values (phones, e-mail) in m_rest
    std::vector<uint16_t> m_restLengths;
    Counts m_visits;
    Counts m_anniversaries;
    Blocks m_rest;
    std::string m_values; // the one being put
    std::string m_packed;
    Strings m_nameTexts{{}, {0}, {}};
    Strings m_companyTexts{{}, {0}, {}};
    Strings m_domainTexts{{}, {0}, {}}; // of e-mails, from the @ on
    int64_t m_logSeq = 0;
    uint64_t m_layout = 0;

    std::string m_text;                 // prepared
    std::vector<uint8_t> m_nameClasses; // per distinct name part, for m_text
    std::vector<uint8_t> m_companyHits;
    mutable std::string m_unpacked; // the other values of the card being matched
};

// What reads the index of the file db uses, on a worker thread through a connection of its
// own: taken on db's thread, run on the worker's. It gives nothing for a file without the log
// and throws EngineError; none is made for a server (its cards change on other desktops).
using QuickFindIndexLoader = std::function<std::shared_ptr<QuickFindIndex>(const std::atomic<bool>* stop)>;
QuickFindIndexLoader quickFindIndexLoader(Database& db);

// Quick find as the main window runs it: through the index when one is given, else by the
// engine (quickFind). A text that extends the previous one is matched against the previous
// keystroke's matches alone; they are dropped when the list or the cards change.
class QuickFinder {
public:
    void setIndex(std::shared_ptr<QuickFindIndex> index);
    bool hasIndex() const { return m_index != nullptr; }
    // The cards of list matching typed, ordered as quickFind() orders them.
    std::vector<int64_t> find(Database& db, const QString& typed, const std::vector<int64_t>& list);
    // The list was read anew or a card changed.
    void forget();
    // The visits and anniversaries of the cards last found, when the index knows them.
    bool countsOfFound(int64_t& visits, int64_t& anniversaries) const;
    // The visits and anniversaries of every card of list, from the index: false without one,
    // or when a card of the list has no key (the engine counts then).
    bool countAll(Database& db, const std::vector<int64_t>& list, int64_t& visits, int64_t& anniversaries);

    // The counters of list as count gives them, kept current from a team server's log of
    // changed cards (serverChangeLogStatements: a refresh after a change counts only the
    // changed cards) or against its older change stamp of visits and anniversaries
    // (countStampStatements: a refresh with nothing changed meanwhile, on any desktop,
    // counts nothing). Without either count runs each time.
    std::vector<qint64> countByEngine(Database& db, const std::vector<int64_t>& list,
                                      const std::function<std::vector<qint64>()>& count);

private:
    // Brings the index up to date and the positions in line with list; false when the index
    // was lost (the engine is asked then).
    bool follow(Database& db, const std::vector<int64_t>& list);

    std::shared_ptr<QuickFindIndex> m_index;
    // The fingerprint of the list the positions are of, and each of its cards' index position.
    uint64_t m_fingerprint = 0;
    std::vector<uint32_t> m_positions;
    uint64_t m_layout = 0;
    // The previous keystroke: its text and its matches (places in m_list, in list order).
    QString m_text;
    std::vector<uint32_t> m_matches;
    bool m_counted = false;
    int64_t m_visits = 0;
    int64_t m_anniversaries = 0;
    // The engine's last counters, of the list with this fingerprint at this stamp.
    enum class Stamp { Unknown, Absent, Kept, Logged } m_stampKind = Stamp::Unknown;
    Stamp stampKind(Database& db);
    ServerCounts m_serverCounts;
    // Quick find on a server with the change log.
    ServerQuickFinder m_server;
    int64_t m_countStamp = -1;
    uint64_t m_countedList = 0;
    std::vector<qint64> m_engineCounts;
};

// The change stamp of visits and anniversaries on a team server: one row that a trigger of
// DList and of DJNR raises with every statement that changes them, committed with the change.
QStringList countStampStatements();

} // namespace ostrel

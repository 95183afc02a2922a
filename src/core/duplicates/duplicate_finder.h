#pragma once
#include "core/duplicates/duplicate_keys.h"
#include "core/duplicates/not_duplicates.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace ostrel {

class Database;

// Why two cards look like one person, strongest first: the enum's order is the ranking.
enum class DuplicateReason : uint8_t {
    SameMobile,            // 移动电话相同
    SameMail,              // 电子邮箱相同
    SameNameAndCompany,    // 姓名与单位相同
    SameNameAndPhone,      // 姓名与电话相同: also a switchboard number, which alone says nothing
    SameLandline,          // 固定电话相同: a personal landline with its area code
    SamePinyinNearCompany, // 姓名拼音相同且单位相近
    SamePinyinAndPhone,    // 姓名拼音与电话相同
};
inline constexpr int kDuplicateReasonCount = 7;

QString duplicateReasonText(DuplicateReason reason);

struct DuplicatePair {
    int64_t first = 0;  // card IDs, first < second
    int64_t second = 0;
    std::vector<DuplicateReason> reasons; // strongest first
};

struct DuplicateGroup {
    std::vector<int64_t> cards;           // IDs, ascending
    std::vector<DuplicatePair> pairs;     // what joined them, each with its own reasons
    std::vector<DuplicateReason> reasons; // every reason of its pairs, strongest first
};

// A value shared by more cards than this (a placeholder mobile, an info@ address, a
// switchboard) is not taken as a sign on its own; a shared name must come with it.
inline constexpr int kSharedValueLimit = 8;

// Told how far the work is; answers false to stop it.
using DuplicateProgress = std::function<bool(int64_t done, int64_t total)>;

// Groups of probable duplicates, strongest first: cards joined through any chain of pairs
// form one group; a pair the user said is not a duplicate joins nothing. Each signal puts
// the cards into hash buckets by its key, so the work grows with the cards, never with
// their pairs. Cards are added a page at a time and only the hashes of their keys are kept,
// so the cards' texts never need to be held all at once.
class DuplicateSearch {
public:
    // expected: about how many cards will be added, for the room their hashes take.
    explicit DuplicateSearch(size_t expected = 0);
    ~DuplicateSearch();
    DuplicateSearch(const DuplicateSearch&) = delete;
    DuplicateSearch& operator=(const DuplicateSearch&) = delete;

    // Makes the keys of these cards and keeps their hashes.
    void add(std::span<const DuplicateSource> cards);
    size_t size() const { return m_ids.size(); }
    // The groups of the cards added; once. Progress is told the signals done; a search it
    // stopped gives no group.
    std::vector<DuplicateGroup> groups(const CardPairs& notDuplicates = {}, const DuplicateProgress& progress = {});

private:
    struct State;
    std::unique_ptr<State> m_state;
    std::vector<int64_t> m_ids; // by the order the cards were added
    size_t m_expected;
};

std::vector<DuplicateGroup> findDuplicates(const std::vector<DuplicateSource>& cards, const CardPairs& notDuplicates = {});

// The live cards' ID and the fields the signals read, a page of cards in ID order at a time
// (the page after the card ?1).
QString duplicateSourceSql();
int64_t liveCardCount(Database& db);
// Adds the live cards to the search, a page at a time; progress is told the cards read of
// the live cards, and stops the reading when it answers false (this then answers false).
bool addLiveCards(Database& db, DuplicateSearch& search, const DuplicateProgress& progress = {});
// The live cards' groups, leaving out the pairs the database remembers as no duplicates.
std::vector<DuplicateGroup> findDuplicates(Database& db);

// The name and company of cards, to show them by.
struct CardTitle {
    QString name;
    QString company;
};
std::unordered_map<int64_t, CardTitle> cardTitles(Database& db, std::vector<int64_t> ids);

} // namespace ostrel

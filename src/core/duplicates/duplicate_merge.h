#pragma once
#include "core/card_fields.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace ostrel {

class Database;

// Merging a group of duplicate cards into one: the kept card takes the chosen value of each
// field, and every value not chosen is written into its 补充信息 under the field's name, so
// nothing is lost; the visits, anniversaries, a missing side of the scanned image and a
// missing sync record of the others move to it, and the others are deleted as the main
// window deletes (they stay in D_B, marked deleted). All in one transaction.

// A card of the group as it was read when the merge was offered.
struct MergeCard {
    int64_t id = 0;
    bool live = false;
    CardValues values;
    int visits = 0;
    int anniversaries = 0;
    int64_t counter = -1; // the server's change counter; -1 on the file
};

// The cards, in the order of ids; a card no longer in D_B is left out.
std::vector<MergeCard> loadMergeCards(Database& db, const std::vector<int64_t>& ids);

// The card kept by default: the one with most visits, then the newest (highest ID).
size_t defaultKeptCard(const std::vector<MergeCard>& cards);

// Per field, the card whose value is kept (an index into the cards).
using FieldChoice = std::array<size_t, kCardFieldCount>;

// The kept card's value where it has one, else the first card's (in the order most visits,
// then newest) that has one.
FieldChoice defaultChoice(const std::vector<MergeCard>& cards, size_t kept);

// Whether the cards hold different values in the field.
bool fieldDiffers(const std::vector<MergeCard>& cards, int field);

// The kept card's values after the merge: the chosen values, and in 补充信息 the chosen
// one followed by each other value not chosen as "<field>：<value>", separated by "；" (a
// value already there is not written twice).
CardValues mergedValues(const std::vector<MergeCard>& cards, const FieldChoice& choice);

// 补充信息 holds this many GBK bytes at most.
int noteByteLimit();

enum class MergeOutcome {
    Merged,
    Changed,  // a card was changed or deleted since it was read: nothing was merged
    TooLong,  // a value is longer than its field takes: nothing was merged
};

// Merges the cards as they were read into cards[kept], which gets values. Nothing is written
// unless every card is still as read (for a team server, its change counter, which also
// locks the cards until the commit). Throws EngineError for the engine's own errors; the
// transaction then leaves every card as it was.
MergeOutcome mergeCards(Database& db, const std::vector<MergeCard>& cards, size_t kept, const CardValues& values);

// After an engine error, what the database holds: the cards still as read, the merge done
// (the error came after the commit reached the engine), or neither.
enum class MergeState { Unchanged, Merged, Other };
MergeState mergeStateAfterError(Database& db, const std::vector<MergeCard>& cards, size_t kept, const CardValues& values);

} // namespace ostrel

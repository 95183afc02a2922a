// The duplicate search on generated cards with planted duplicates: time, peak memory, and
// how many of the planted pairs it finds (recall) and how many of its pairs are planted
// (precision). Cards as arguments (default 100,000 and 1,000,000); the seed is fixed.
#include "duplicate_cards.h"
#include "measure.h"

#include "core/duplicates/duplicate_finder.h"

#include <cstdio>
#include <cstdlib>
#include <unordered_map>

using namespace ostrel;

namespace {

void run(int count)
{
    const bench::DuplicateWorkload work = bench::duplicateWorkload(count, 20261210);
    bench::resetPeak();
    const double before = bench::statusMb("VmRSS:");
    std::vector<DuplicateGroup> groups;
    const double ms = bench::elapsedMs([&] { groups = findDuplicates(work.cards); });
    const double peak = bench::statusMb("VmHWM:") - before;

    // Pairs: the planted ones are the cards of one person; the found ones share a group.
    std::unordered_map<int, long long> perPerson;
    for (int p : work.person)
        ++perPerson[p];
    long long planted = 0;
    for (const auto& [p, n] : perPerson)
        planted += n * (n - 1) / 2;
    long long found = 0, right = 0;
    for (const DuplicateGroup& g : groups)
        for (size_t i = 0; i < g.cards.size(); ++i)
            for (size_t j = i + 1; j < g.cards.size(); ++j) {
                ++found;
                right += work.person[static_cast<size_t>(g.cards[i] - 1)] == work.person[static_cast<size_t>(g.cards[j] - 1)];
            }
    // Which signal joins which cards wrongly: the direct pairs by their strongest reason.
    long long wrong[kDuplicateReasonCount] = {}, all[kDuplicateReasonCount] = {};
    for (const DuplicateGroup& g : groups)
        for (const DuplicatePair& pair : g.pairs) {
            const int r = static_cast<int>(pair.reasons.front());
            ++all[r];
            wrong[r] += work.person[static_cast<size_t>(pair.first - 1)] != work.person[static_cast<size_t>(pair.second - 1)];
        }
    for (int r = 0; r < kDuplicateReasonCount; ++r)
        std::printf("  %-24s %7lld pairs, %6lld of different people\n", qPrintable(duplicateReasonText(static_cast<DuplicateReason>(r))), all[r], wrong[r]);
    std::printf("%9d cards: %8.0f ms, %6.1f MB above the cards, %zu groups, %lld planted pairs, %lld found, "
                "precision %.4f, recall %.4f\n",
                count, ms, peak, groups.size(), planted, found, found ? double(right) / double(found) : 1.0,
                planted ? double(right) / double(planted) : 1.0);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {100000, 1000000};
    for (int count : counts)
        run(count);
}

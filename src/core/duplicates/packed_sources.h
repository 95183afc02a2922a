#pragma once
#include "core/duplicates/duplicate_keys.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// The cards the duplicate search reads, packed: each card's texts one after another in
// large UTF-8 blocks, a card unpacked only while its keys are made. A million cards read as
// DuplicateSource objects take about 480 MB (a heap block per text and per list); packed,
// about a fifth of that.
class PackedSources {
public:
    PackedSources() = default;
    explicit PackedSources(const std::vector<DuplicateSource>& cards);

    // The card's texts, in DuplicateSource's order; an empty phone is left out.
    void add(int64_t id, std::string_view name, std::string_view company, std::string_view mail,
             const std::vector<std::string_view>& personalPhones, const std::vector<std::string_view>& workPhones);

    size_t size() const { return m_ids.size(); }
    int64_t id(size_t card) const { return m_ids[card]; }
    DuplicateSource card(size_t card) const;
    // The cards from first, up to count of them.
    std::vector<DuplicateSource> slice(size_t first, size_t count) const;

private:
    void append(std::string_view text);

    std::vector<int64_t> m_ids;
    std::vector<uint64_t> m_where; // block << 32 | start within it; the card runs to the next start or the block's end
    std::vector<std::string> m_blocks;
    std::string m_card; // the card being added
};

} // namespace ostrel

#include "core/duplicates/duplicate_finder.h"

#include "core/card_fields.h"
#include "engine/database.h"

#include <QHash>

#include <algorithm>
#include <numeric>
#include <string>
#include <unordered_map>

namespace ostrel {

namespace {

using Index = uint32_t;
using Mask = uint8_t;

Mask bit(DuplicateReason reason)
{
    return static_cast<Mask>(1u << static_cast<unsigned>(reason));
}

std::vector<DuplicateReason> reasonsOf(Mask mask)
{
    std::vector<DuplicateReason> out;
    for (int r = 0; r < kDuplicateReasonCount; ++r)
        if (mask & (1u << r))
            out.push_back(static_cast<DuplicateReason>(r));
    return out;
}

class UnionFind {
public:
    explicit UnionFind(size_t size) : m_parent(size), m_size(size, 1) { std::iota(m_parent.begin(), m_parent.end(), Index{0}); }
    Index root(Index i)
    {
        while (m_parent[i] != i)
            i = m_parent[i] = m_parent[m_parent[i]];
        return i;
    }
    void join(Index a, Index b)
    {
        a = root(a);
        b = root(b);
        if (a == b)
            return;
        if (m_size[a] < m_size[b])
            std::swap(a, b);
        m_parent[b] = a;
        m_size[a] += m_size[b];
    }

private:
    std::vector<Index> m_parent;
    std::vector<Index> m_size;
};

// Cards by key for one signal; a card is listed once per key however often it holds it.
class Buckets {
public:
    void add(const QString& key, Index card)
    {
        if (key.isEmpty())
            return;
        std::vector<Index>& bucket = m_buckets[key];
        if (bucket.empty() || bucket.back() != card)
            bucket.push_back(card);
    }
    template <typename Each>
    void forEach(Each each) const
    {
        for (auto it = m_buckets.cbegin(); it != m_buckets.cend(); ++it)
            if (it.value().size() > 1)
                each(it.value());
    }

private:
    QHash<QString, std::vector<Index>> m_buckets;
};

QString joined(const QString& a, const QString& b)
{
    return (a.isEmpty() || b.isEmpty()) ? QString() : a + u'\x1f' + b;
}

// The pairs found so far and their reasons, keyed by the two card indexes.
class Pairs {
public:
    void add(Index a, Index b, DuplicateReason reason)
    {
        if (a > b)
            std::swap(a, b);
        m_pairs[(uint64_t{a} << 32) | b] |= bit(reason);
    }
    // A bucket's cards all share its key. Every pair of a small bucket is kept so that each
    // can be explained; a large one is joined as a star, which groups the same cards.
    void addBucket(const std::vector<Index>& bucket, DuplicateReason reason)
    {
        constexpr size_t kEveryPairUpTo = 16;
        const size_t centres = bucket.size() <= kEveryPairUpTo ? bucket.size() : 1;
        for (size_t i = 0; i < centres; ++i)
            for (size_t j = i + 1; j < bucket.size(); ++j)
                add(bucket[i], bucket[j], reason);
    }
    const std::unordered_map<uint64_t, Mask>& all() const { return m_pairs; }

private:
    std::unordered_map<uint64_t, Mask> m_pairs;
};

// One signal at a time, its buckets dropped before the next is built: the peak memory is
// that of the largest signal, not of all of them. keysOf hands each key of a card to add.
template <typename KeysOf>
void addSignal(const std::vector<DuplicateKeys>& keys, DuplicateReason reason, bool alone, KeysOf keysOf, Pairs& pairs)
{
    Buckets buckets;
    for (Index i = 0; i < keys.size(); ++i)
        keysOf(keys[i], [&](const QString& key) { buckets.add(key, i); });
    buckets.forEach([&](const std::vector<Index>& bucket) {
        // A value alone says nothing when it is shared this widely.
        if (!alone || bucket.size() <= static_cast<size_t>(kSharedValueLimit))
            pairs.addBucket(bucket, reason);
    });
}

void addSignals(const std::vector<DuplicateKeys>& keys, Pairs& pairs)
{
    using K = const DuplicateKeys&;
    const auto each = [](const QStringList& list, const auto& add) {
        for (const QString& value : list)
            add(value);
    };
    addSignal(keys, DuplicateReason::SameMobile, true, [&](K k, const auto& add) { each(k.mobiles, add); }, pairs);
    addSignal(keys, DuplicateReason::SameMail, true, [](K k, const auto& add) { add(k.mail); }, pairs);
    addSignal(keys, DuplicateReason::SameLandline, true, [&](K k, const auto& add) { each(k.landlines, add); }, pairs);
    addSignal(keys, DuplicateReason::SameNameAndCompany, false, [](K k, const auto& add) { add(joined(k.name, k.company)); }, pairs);
    addSignal(keys, DuplicateReason::SameNameAndPhone, false,
              [](K k, const auto& add) {
                  for (const QString& number : k.phones)
                      add(joined(k.name, number));
              },
              pairs);
    addSignal(keys, DuplicateReason::SamePinyinNearCompany, false,
              [](K k, const auto& add) {
                  for (const QString& reading : k.readings)
                      add(joined(reading, k.companyCore));
              },
              pairs);
    addSignal(keys, DuplicateReason::SamePinyinAndPhone, false,
              [](K k, const auto& add) {
                  for (const QString& reading : k.readings)
                      for (const QString& number : k.phones)
                          add(joined(reading, number));
              },
              pairs);
}

// A reason another one of the pair already implies says nothing more: the same name has
// the same pinyin, and the same company the same core.
Mask withoutImplied(Mask mask)
{
    if (mask & bit(DuplicateReason::SameNameAndPhone))
        mask &= static_cast<Mask>(~bit(DuplicateReason::SamePinyinAndPhone));
    if (mask & bit(DuplicateReason::SameNameAndCompany))
        mask &= static_cast<Mask>(~bit(DuplicateReason::SamePinyinNearCompany));
    return mask;
}

// Strongest first: the best reason, then the more kinds of reason, the more cards, and
// the lowest card number so that the order is the same on every run.
bool stronger(const DuplicateGroup& a, const DuplicateGroup& b)
{
    if (a.reasons.front() != b.reasons.front())
        return a.reasons.front() < b.reasons.front();
    if (a.reasons.size() != b.reasons.size())
        return a.reasons.size() > b.reasons.size();
    if (a.cards.size() != b.cards.size())
        return a.cards.size() > b.cards.size();
    return a.cards.front() < b.cards.front();
}

} // namespace

QString duplicateReasonText(DuplicateReason reason)
{
    switch (reason) {
    case DuplicateReason::SameMobile:
        return QStringLiteral("移动电话相同");
    case DuplicateReason::SameMail:
        return QStringLiteral("电子邮箱相同");
    case DuplicateReason::SameNameAndCompany:
        return QStringLiteral("姓名与单位相同");
    case DuplicateReason::SameNameAndPhone:
        return QStringLiteral("姓名与电话相同");
    case DuplicateReason::SameLandline:
        return QStringLiteral("固定电话相同");
    case DuplicateReason::SamePinyinNearCompany:
        return QStringLiteral("姓名拼音相同且单位相近");
    case DuplicateReason::SamePinyinAndPhone:
        return QStringLiteral("姓名拼音与电话相同");
    }
    return {};
}

std::vector<DuplicateGroup> findDuplicates(const std::vector<DuplicateSource>& cards)
{
    Pairs pairs;
    addSignals(duplicateKeys(cards), pairs);
    UnionFind sets(cards.size());
    for (const auto& [key, mask] : pairs.all())
        sets.join(static_cast<Index>(key >> 32), static_cast<Index>(key & 0xffffffffu));

    std::unordered_map<Index, size_t> groupOfRoot;
    std::vector<DuplicateGroup> groups;
    std::vector<Mask> groupMasks;
    for (const auto& [key, rawMask] : pairs.all()) {
        const Index a = static_cast<Index>(key >> 32), b = static_cast<Index>(key & 0xffffffffu);
        const auto [it, added] = groupOfRoot.try_emplace(sets.root(a), groups.size());
        if (added) {
            groups.emplace_back();
            groupMasks.push_back(0);
        }
        const Mask mask = withoutImplied(rawMask);
        DuplicateGroup& group = groups[it->second];
        group.pairs.push_back({std::min(cards[a].id, cards[b].id), std::max(cards[a].id, cards[b].id), reasonsOf(mask)});
        group.cards.push_back(cards[a].id);
        group.cards.push_back(cards[b].id);
        groupMasks[it->second] |= mask;
    }
    for (size_t g = 0; g < groups.size(); ++g) {
        DuplicateGroup& group = groups[g];
        std::sort(group.cards.begin(), group.cards.end());
        group.cards.erase(std::unique(group.cards.begin(), group.cards.end()), group.cards.end());
        std::sort(group.pairs.begin(), group.pairs.end(),
                  [](const DuplicatePair& x, const DuplicatePair& y) { return std::pair(x.first, x.second) < std::pair(y.first, y.second); });
        group.reasons = reasonsOf(groupMasks[g]);
    }
    std::sort(groups.begin(), groups.end(), stronger);
    return groups;
}

QString duplicateSourceSql()
{
    QString sql = QStringLiteral("select ID");
    for (const CardField& field : cardFields())
        if (field.searchKeyPart != SearchKeyPart::None)
            sql += u',' + field.columnName();
    return sql + QStringLiteral(" from D_B where theDel='否'");
}

std::vector<DuplicateSource> readDuplicateSources(Database& db)
{
    // The unit's numbers are those in the company's group of fields.
    int workGroup = -1;
    for (const CardField& field : cardFields())
        if (field.searchKeyPart == SearchKeyPart::Company)
            workGroup = field.group;
    std::vector<DuplicateSource> cards;
    db.runBound(duplicateSourceSql(), {}, [&](const Database::Row& row) {
        DuplicateSource card;
        card.id = row.integer(0);
        int column = 1;
        for (const CardField& field : cardFields()) {
            switch (field.searchKeyPart) {
            case SearchKeyPart::None:
                continue;
            case SearchKeyPart::Name:
                card.name = row.text(column);
                break;
            case SearchKeyPart::Company:
                card.company = row.text(column);
                break;
            case SearchKeyPart::Mail:
                card.mail = row.text(column);
                break;
            case SearchKeyPart::Phone:
                (field.group == workGroup ? card.workPhones : card.personalPhones).push_back(row.text(column));
                break;
            }
            ++column;
        }
        cards.push_back(std::move(card));
    });
    return cards;
}

std::vector<DuplicateGroup> findDuplicates(Database& db)
{
    return findDuplicates(readDuplicateSources(db));
}

} // namespace ostrel

#include "core/duplicates/duplicate_finder.h"

#include "core/card_fields.h"
#include "engine/database.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <functional>
#include <iterator>
#include <span>
#include <numeric>
#include <optional>
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
    template <typename Predicate>
    void eraseIf(Predicate drop)
    {
        std::erase_if(m_pairs, [&](const auto& pair) { return drop(static_cast<Index>(pair.first >> 32), static_cast<Index>(pair.first & 0xffffffffu)); });
    }

private:
    std::unordered_map<uint64_t, Mask> m_pairs;
};

using Add = const std::function<void(const QString&)>&;
using KeysOf = void (*)(const DuplicateKeys&, Add);

struct Signal {
    DuplicateReason reason;
    bool alone; // a sign by itself, unless the value is shared widely
    KeysOf keysOf;
};

using K = const DuplicateKeys&;
const Signal kSignals[] = {
    {DuplicateReason::SameMobile, true, [](K k, Add add) { for (const QString& v : k.mobiles) add(v); }},
    {DuplicateReason::SameMail, true, [](K k, Add add) { add(k.mail); }},
    {DuplicateReason::SameLandline, true, [](K k, Add add) { for (const QString& v : k.landlines) add(v); }},
    {DuplicateReason::SameNameAndCompany, false, [](K k, Add add) { add(joined(k.name, k.company)); }},
    {DuplicateReason::SamePinyinNearCompany, false, [](K k, Add add) { for (const QString& r : k.readings) add(joined(r, k.companyCore)); }},
};
constexpr size_t kSignalCount = std::size(kSignals);
// The name, or a reading of it, with a shared phone: found inside each phone's bucket
// (addPhoneSignals), which keeps one entry per number instead of one per reading and number.

// Per signal, the cards by the 64-bit hash of their key: sorted, the cards of one key lie
// together. Hashes rather than texts keep a million cards within memory; two different keys
// with one hash are as unlikely as one in 2^64 per pair of keys.
// Packed to 12 bytes: at a million cards the entries are most of the search's memory.
#pragma pack(push, 4)
struct Entry {
    uint64_t hash;
    Index card;
    auto operator<=>(const Entry&) const = default;
};
#pragma pack(pop)
static_assert(sizeof(Entry) == 12);
using Entries = std::vector<Entry>;

uint64_t hashOf(const QString& key)
{
    return qHash(key, size_t{0x9e3779b97f4a7c15u});
}

// After the first slice, room for the rest in proportion: a vector grown by doubling would
// hold up to three times its entries while it moves them.
template <typename List>
void reserveFor(List& list, size_t done, size_t total)
{
    const size_t estimate = done > 0 ? list.size() * total / done : 0;
    list.reserve(estimate + estimate / 8 + 64);
}

// What the signals compare, hashed.
struct Hashed {
    std::array<Entries, kSignalCount> entries;
    Entries phones;                      // every full number of every field
    std::vector<uint64_t> names;         // per card; 0 without a name
    std::vector<uint32_t> readingStarts{0}; // per card, and one past the last: where its readings begin
    std::vector<uint64_t> readings;
};

// Sorts the entries and hands each run of one hash to bucket, as its cards without repeats.
template <typename Bucket>
void forEachBucket(Entries& list, Bucket&& bucket)
{
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    std::vector<Index> cards;
    for (size_t i = 0; i < list.size();) {
        cards.clear();
        size_t j = i;
        for (; j < list.size() && list[j].hash == list[i].hash; ++j)
            cards.push_back(list[j].card);
        i = j;
        bucket(cards);
    }
}

// Among the cards of each phone, those of one name, and those sharing a reading of it.
void addPhoneSignals(Hashed& hashed, Pairs& pairs)
{
    Entries within;
    const auto addWithin = [&](DuplicateReason reason) {
        forEachBucket(within, [&](const std::vector<Index>& same) {
            if (same.size() > 1)
                pairs.addBucket(same, reason);
        });
    };
    forEachBucket(hashed.phones, [&](const std::vector<Index>& bucket) {
        if (bucket.size() < 2)
            return;
        within.clear();
        for (Index card : bucket)
            if (hashed.names[card] != 0)
                within.push_back({hashed.names[card], card});
        addWithin(DuplicateReason::SameNameAndPhone);
        within.clear();
        for (Index card : bucket)
            for (uint32_t r = hashed.readingStarts[card]; r < hashed.readingStarts[card + 1]; ++r)
                within.push_back({hashed.readings[r], card});
        addWithin(DuplicateReason::SamePinyinAndPhone);
    });
}

// False when the progress stopped the search.
bool addSignals(Hashed& hashed, Pairs& pairs, const DuplicateProgress& progress)
{
    constexpr auto steps = static_cast<int64_t>(kSignalCount + 1);
    for (size_t s = 0; s < kSignalCount; ++s) {
        if (progress && !progress(static_cast<int64_t>(s), steps))
            return false;
        forEachBucket(hashed.entries[s], [&](const std::vector<Index>& bucket) {
            // A value alone says nothing when it is shared this widely.
            if (bucket.size() > 1 && (!kSignals[s].alone || bucket.size() <= static_cast<size_t>(kSharedValueLimit)))
                pairs.addBucket(bucket, kSignals[s].reason);
        });
        Entries().swap(hashed.entries[s]); // the next signal's peak without this one
    }
    if (progress && !progress(steps - 1, steps))
        return false;
    addPhoneSignals(hashed, pairs);
    return true;
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

struct DuplicateSearch::State {
    Hashed hashed;
};

DuplicateSearch::DuplicateSearch(size_t expected) : m_state(std::make_unique<State>()), m_expected(expected) {}
DuplicateSearch::~DuplicateSearch() = default;

void DuplicateSearch::add(std::span<const DuplicateSource> cards)
{
    // The keys' texts are made a slice at a time and dropped once hashed.
    constexpr size_t kSlice = 8192;
    Hashed& hashed = m_state->hashed;
    for (size_t begin = 0; begin < cards.size(); begin += kSlice) {
        const std::span<const DuplicateSource> slice = cards.subspan(begin, std::min(kSlice, cards.size() - begin));
        const std::vector<DuplicateKeys> keys = duplicateKeys(slice);
        const size_t first = m_ids.size();
        for (size_t s = 0; s < kSignalCount; ++s)
            for (size_t i = 0; i < keys.size(); ++i)
                kSignals[s].keysOf(keys[i], [&](const QString& key) {
                    if (!key.isEmpty())
                        hashed.entries[s].push_back({hashOf(key), static_cast<Index>(first + i)});
                });
        for (size_t i = 0; i < keys.size(); ++i) {
            m_ids.push_back(slice[i].id);
            for (const QString& phone : keys[i].phones)
                hashed.phones.push_back({hashOf(phone), static_cast<Index>(first + i)});
            hashed.names.push_back(keys[i].name.isEmpty() ? 0 : hashOf(keys[i].name));
            for (const QString& reading : keys[i].readings)
                if (!reading.isEmpty())
                    hashed.readings.push_back(hashOf(reading));
            hashed.readingStarts.push_back(static_cast<uint32_t>(hashed.readings.size()));
        }
        if (first == 0 && m_expected > m_ids.size()) {
            for (Entries& list : hashed.entries)
                reserveFor(list, m_ids.size(), m_expected);
            reserveFor(hashed.phones, m_ids.size(), m_expected);
            reserveFor(hashed.readings, m_ids.size(), m_expected);
            m_ids.reserve(m_expected);
            hashed.names.reserve(m_expected);
            hashed.readingStarts.reserve(m_expected + 1);
        }
    }
}

std::vector<DuplicateGroup> DuplicateSearch::groups(const CardPairs& notDuplicates, const DuplicateProgress& progress)
{
    Pairs pairs;
    if (!addSignals(m_state->hashed, pairs, progress))
        return {};
    m_state = std::make_unique<State>(); // the hashes are done with
    const std::vector<int64_t>& ids = m_ids;
    if (!notDuplicates.empty())
        pairs.eraseIf([&](Index a, Index b) { return notDuplicates.contains({std::min(ids[a], ids[b]), std::max(ids[a], ids[b])}); });
    UnionFind sets(ids.size());
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
        group.pairs.push_back({std::min(ids[a], ids[b]), std::max(ids[a], ids[b]), reasonsOf(mask)});
        group.cards.push_back(ids[a]);
        group.cards.push_back(ids[b]);
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

std::vector<DuplicateGroup> findDuplicates(const std::vector<DuplicateSource>& cards, const CardPairs& notDuplicates)
{
    DuplicateSearch search(cards.size());
    search.add(cards);
    return search.groups(notDuplicates);
}

constexpr int kSourcePage = 20000;

QString duplicateSourceSql()
{
    QString sql = QStringLiteral("select ID");
    for (const CardField& field : cardFields())
        if (field.searchKeyPart != SearchKeyPart::None)
            sql += u',' + field.columnName();
    return sql + QStringLiteral(" from D_B where theDel='否' and ID > ?1 order by ID limit %1").arg(kSourcePage);
}

namespace {

DuplicateSource sourceOfRow(const Database::Row& row, int workGroup)
{
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
    return card;
}

} // namespace

int64_t liveCardCount(Database& db)
{
    return db.firstInteger(QStringLiteral("select count(*) from D_B where theDel='否'"));
}

bool addLiveCards(Database& db, DuplicateSearch& search, const DuplicateProgress& progress)
{
    // The unit's numbers are those in the company's group of fields.
    int workGroup = -1;
    for (const CardField& field : cardFields())
        if (field.searchKeyPart == SearchKeyPart::Company)
            workGroup = field.group;
    const int64_t total = progress ? liveCardCount(db) : 0;
    const QString sql = duplicateSourceSql();
    std::vector<DuplicateSource> page;
    for (int64_t after = 0;;) {
        page.clear();
        db.runBound(sql, {QVariant::fromValue<qint64>(after)}, [&](const Database::Row& row) { page.push_back(sourceOfRow(row, workGroup)); });
        if (page.empty())
            return true;
        after = page.back().id;
        search.add(page);
        const auto read = static_cast<int64_t>(search.size());
        if (progress && !progress(read, std::max(total, read)))
            return false;
    }
}

std::vector<DuplicateGroup> findDuplicates(Database& db)
{
    DuplicateSearch search(static_cast<size_t>(liveCardCount(db)));
    addLiveCards(db, search);
    return search.groups(loadNotDuplicates(db));
}

std::unordered_map<int64_t, CardTitle> cardTitles(Database& db, std::vector<int64_t> ids)
{
    QString name, company;
    for (const CardField& field : cardFields()) {
        if (field.searchKeyPart == SearchKeyPart::Name)
            name = field.columnName();
        if (field.searchKeyPart == SearchKeyPart::Company)
            company = field.columnName();
    }
    std::sort(ids.begin(), ids.end());
    std::unordered_map<int64_t, CardTitle> titles;
    // Numbers only in the list, a batch at a time: a statement stays short on either engine.
    constexpr size_t kBatch = 500;
    for (size_t begin = 0; begin < ids.size(); begin += kBatch) {
        QStringList batch;
        for (size_t i = begin; i < std::min(ids.size(), begin + kBatch); ++i)
            batch << QString::number(ids[i]);
        db.runBound(QStringLiteral("select ID, %1, %2 from D_B where ID in (%3)").arg(name, company, batch.join(u',')), {},
                    [&](const Database::Row& row) { titles[row.integer(0)] = {row.text(1), row.text(2)}; });
    }
    return titles;
}

} // namespace ostrel

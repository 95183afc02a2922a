#include "core/quick_find_index.h"

#include "core/open_database.h"
#include "core/search_key_statements.h"
#include "core/search_keys.h"
#include "engine/engine_error.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "engine/transaction.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace ostrel {

namespace {

// The parts of a key (search_keys.cpp): name, readings and initials, then the other values.
constexpr char kPartSeparator = '\x01';
constexpr char kValueSeparator = '\x02';

std::string_view view(const std::string& text)
{
    return std::string_view(text.data(), text.size());
}

bool hasWide(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

bool holds(std::string_view haystack, std::string_view needle)
{
    return haystack.size() >= needle.size() && memmem(haystack.data(), haystack.size(), needle.data(), needle.size());
}

// A cheap fingerprint of a list: a list read anew gets other positions.
uint64_t fingerprint(const std::vector<int64_t>& list)
{
    uint64_t hash = 1469598103934665603ull ^ list.size();
    for (int64_t id : list)
        hash = (hash ^ static_cast<uint64_t>(id)) * 1099511628211ull;
    return hash;
}

// The other values are mostly phone numbers: a run of digits is kept two to a byte behind a
// byte giving its length, a byte no key holds (keys carry no control characters; one that
// does is kept behind kEscape). An e-mail's domain repeats across cards (a company's, a
// provider's): from its @ on it is kept once, in domains, and named by number behind kDomain.
constexpr unsigned char kFirstRun = 0x03;
constexpr size_t kShortestRun = 3; // shorter runs would not be smaller
constexpr unsigned char kDomain = 0x1e;
constexpr unsigned char kEscape = 0x1f;
constexpr size_t kLongestRun = kShortestRun + (kDomain - kFirstRun) - 1;
constexpr size_t kDomainBytes = 3;
constexpr uint32_t kMostDomains = 1u << (8 * kDomainBytes);

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// domains: add(text) gives a text's number, at(number) the text.
template <typename Domains>
void pack(std::string_view text, std::string& out, Domains& domains)
{
    out.clear();
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '@') {
            const std::string_view domain = text.substr(i, text.find(kValueSeparator, i) - i);
            if (domain.size() > 1 + kDomainBytes && domains.count() < kMostDomains) {
                const uint32_t number = domains.add(domain);
                out += static_cast<char>(kDomain);
                for (size_t b = 0; b < kDomainBytes; ++b)
                    out += static_cast<char>(number >> (8 * b) & 0xff);
                i += domain.size();
                continue;
            }
        }
        size_t run = 0;
        while (i + run < text.size() && run < kLongestRun && isDigit(text[i + run]))
            ++run;
        if (run >= kShortestRun) {
            out += static_cast<char>(kFirstRun + (run - kShortestRun));
            for (size_t d = 0; d < run; d += 2) {
                const int high = text[i + d] - '0';
                const int low = d + 1 < run ? text[i + d + 1] - '0' : 0;
                out += static_cast<char>((high << 4) | low);
            }
            i += run;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= kFirstRun && c <= kEscape)
            out += static_cast<char>(kEscape);
        out += text[i];
        ++i;
    }
}

template <typename Domains>
void unpack(std::string_view packed, std::string& out, const Domains& domains)
{
    out.clear();
    for (size_t i = 0; i < packed.size();) {
        const auto c = static_cast<unsigned char>(packed[i++]);
        if (c == kEscape) {
            if (i < packed.size())
                out += packed[i++];
        } else if (c == kDomain) {
            uint32_t number = 0;
            for (size_t b = 0; b < kDomainBytes && i < packed.size(); ++b)
                number |= uint32_t(static_cast<unsigned char>(packed[i++])) << (8 * b);
            if (number < domains.count())
                out.append(domains.at(number));
        } else if (c >= kFirstRun && c < kDomain) {
            // Every keystroke reads every card's values: a byte gives its two digits at once.
            static const auto digitPairs = [] {
                std::array<std::array<char, 2>, 256> pairs{};
                for (int b = 0; b < 256; ++b)
                    pairs[b] = {static_cast<char>('0' + (b >> 4)), static_cast<char>('0' + (b & 0x0f))};
                return pairs;
            }();
            const size_t run = kShortestRun + (c - kFirstRun);
            const size_t bytes = std::min((run + 1) / 2, packed.size() - i);
            const size_t before = out.size();
            out.resize(before + 2 * bytes);
            for (size_t b = 0; b < bytes; ++b)
                std::memcpy(out.data() + before + 2 * b, digitPairs[static_cast<unsigned char>(packed[i + b])].data(), 2);
            out.resize(std::min(out.size(), before + run)); // an odd run's last half byte is no digit
            i += bytes;
        } else {
            out += static_cast<char>(c);
        }
    }
}

// The changes a catch-up takes in one by one, at most: an eighth of the cards, within these bounds.
constexpr int64_t kSmallestReread = 1000;
constexpr int64_t kLargestCatchUp = 20000;

// From low to high, without a signed overflow.
uint64_t distance(int64_t low, int64_t high)
{
    return static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
}

} // namespace

std::string QuickFindIndex::packedForTest(std::string_view text)
{
    Strings domains{{}, {0}, {}};
    std::string packed, back;
    pack(text, packed, domains);
    unpack(packed, back, domains);
    return back;
}

std::vector<int64_t> QuickFindIndex::idsForTest(const std::vector<int64_t>& cards)
{
    Ids ids;
    for (int64_t card : cards)
        ids.insert(ids.lowerBound(card), card);
    std::vector<int64_t> back;
    for (size_t i = 0; i < ids.size(); ++i)
        back.push_back(ids[i]);
    return back;
}

std::vector<uint32_t> QuickFindIndex::countsForTest(const std::vector<std::pair<uint32_t, uint32_t>>& set)
{
    Counts counts;
    for (auto [position, count] : set) {
        if (position >= counts.small.size())
            counts.small.resize(position + 1);
        counts.set(position, position, count);
    }
    std::vector<uint32_t> back;
    for (uint32_t position = 0; position < counts.small.size(); ++position)
        back.push_back(counts.at(position, position));
    return back;
}

uint32_t QuickFindIndex::Strings::add(std::string_view text)
{
    if (2 * (count() + 1) > table.size())
        rehash(std::max<size_t>(64, 2 * table.size()));
    const size_t mask = table.size() - 1;
    for (size_t i = std::hash<std::string_view>{}(text) & mask;; i = (i + 1) & mask) {
        if (table[i] == 0) {
            arena.append(text);
            starts.push_back(static_cast<uint32_t>(arena.size()));
            table[i] = static_cast<uint32_t>(count());
            return table[i] - 1;
        }
        if (at(table[i] - 1) == text)
            return table[i] - 1;
    }
}

void QuickFindIndex::Strings::rehash(size_t size)
{
    table.assign(size, 0);
    const size_t mask = size - 1;
    for (uint32_t n = 0; n < count(); ++n) {
        size_t i = std::hash<std::string_view>{}(at(n)) & mask;
        while (table[i] != 0)
            i = (i + 1) & mask;
        table[i] = n + 1;
    }
}

uint32_t QuickFindIndex::Blocks::put(std::string_view text)
{
    constexpr size_t kSize = size_t(1) << kBits;
    if (text.empty())
        return 0; // read back as nothing, whatever the blocks
    if (blocks.empty() || used + text.size() > kSize) {
        blocks.push_back(std::make_unique<char[]>(kSize));
        used = 0;
    }
    std::memcpy(blocks.back().get() + used, text.data(), text.size());
    const auto start = static_cast<uint32_t>(((blocks.size() - 1) << kBits) + used);
    used += text.size();
    return start;
}

void QuickFindIndex::Counts::set(uint32_t position, int64_t card, uint32_t count)
{
    if (count >= kLarge)
        large[card] = count;
    else if (small[position] == kLarge)
        large.erase(card);
    small[position] = static_cast<uint16_t>(std::min<uint32_t>(count, kLarge));
}

size_t QuickFindIndex::Ids::lowerBound(int64_t card) const
{
    if (!wide.empty())
        return static_cast<size_t>(std::lower_bound(wide.begin(), wide.end(), card) - wide.begin());
    if (card <= base)
        return 0;
    if (distance(base, card) > UINT32_MAX)
        return narrow.size();
    const auto offset = static_cast<uint32_t>(card - base);
    return static_cast<size_t>(std::lower_bound(narrow.begin(), narrow.end(), offset) - narrow.begin());
}

void QuickFindIndex::Ids::widen()
{
    wide.reserve(narrow.size() + 1);
    for (uint32_t offset : narrow)
        wide.push_back(base + offset);
    narrow = {};
}

void QuickFindIndex::Ids::insert(size_t at, int64_t card)
{
    if (wide.empty() && narrow.empty())
        base = card;
    if (wide.empty() && card < base) {
        // A card below the first: the others are counted from it, when they still fit.
        if (distance(card, base) + narrow.back() > UINT32_MAX) {
            widen();
        } else {
            for (uint32_t& offset : narrow)
                offset += static_cast<uint32_t>(base - card);
            base = card;
        }
    } else if (wide.empty() && distance(base, card) > UINT32_MAX) {
        widen();
    }
    if (wide.empty())
        narrow.insert(narrow.begin() + static_cast<ptrdiff_t>(at), static_cast<uint32_t>(card - base));
    else
        wide.insert(wide.begin() + static_cast<ptrdiff_t>(at), card);
}

void QuickFindIndex::clear()
{
    *this = QuickFindIndex();
}

void QuickFindIndex::load(Database& db, const std::atomic<bool>* stop)
{
    clear();
    // One read transaction: the keys, the counts and the log's position are of one moment.
    Transaction snapshot(db);
    m_logSeq = db.firstInteger(quickFindLogEndSql());
    // Room for every card at once: grown by doubling, the vectors would hold up to twice their need.
    const auto cards = static_cast<size_t>(std::max<int64_t>(0, db.firstInteger(searchKeySpanSql())));
    for (auto* numbers : {&m_names, &m_companies, &m_restStarts})
        numbers->reserve(cards);
    m_ids.narrow.reserve(cards);
    m_restLengths.reserve(cards);
    db.runBound(searchKeysInOrderSql(), {}, [&](const Database::Row& row) {
        if (stop && stop->load(std::memory_order_relaxed))
            throw EngineError(QStringLiteral("stopped"));
        const std::string_view key = row.utf8(1);
        m_ids.insert(m_ids.size(), row.integer(0));
        m_names.push_back(0);
        m_companies.push_back(kNone);
        m_restStarts.push_back(0);
        m_restLengths.push_back(0);
        setKey(static_cast<uint32_t>(m_ids.size() - 1), key);
    });
    m_visits.small.assign(m_ids.size(), 0);
    m_anniversaries.small.assign(m_ids.size(), 0);
    for (auto [sql, counts] : {std::pair{visitCountsByCardSql(), &m_visits}, std::pair{anniversaryCountsByCardSql(), &m_anniversaries}}) {
        // In card order, as the keys are: each count finds its card by walking on.
        size_t at = 0;
        db.runBound(sql, {}, [&](const Database::Row& row) {
            const int64_t card = row.integer(0);
            while (at < m_ids.size() && m_ids[at] < card)
                ++at;
            if (at < m_ids.size() && m_ids[at] == card)
                counts->set(static_cast<uint32_t>(at), card, static_cast<uint32_t>(row.integer(1)));
        });
    }
    snapshot.commit();
    loaded();
}

void QuickFindIndex::loaded()
{
    // Grown by doubling: up to half of each would be room never used.
    for (Strings* texts : {&m_nameTexts, &m_companyTexts, &m_domainTexts}) {
        texts->arena.shrink_to_fit();
        texts->starts.shrink_to_fit();
    }
    ++m_layout;
}

void QuickFindIndex::setKey(uint32_t position, std::string_view key)
{
    // The name part: up to the third part separator.
    size_t end = 0;
    for (int part = 0; part < 3 && end != std::string_view::npos; ++part)
        end = key.find(kPartSeparator, part == 0 ? 0 : end + 1);
    const std::string_view name = key.substr(0, end);
    std::string_view others = end == std::string_view::npos ? std::string_view() : key.substr(end + 1);
    m_names[position] = m_nameTexts.add(name);
    m_companies[position] = kNone;
    // A company repeats across cards: the first value in Chinese is kept once. Which value it
    // is matters not: every value is matched alike.
    m_values.clear();
    while (!others.empty()) {
        const size_t valueEnd = others.find(kValueSeparator);
        const std::string_view value = others.substr(0, valueEnd);
        if (m_companies[position] == kNone && hasWide(value))
            m_companies[position] = m_companyTexts.add(value);
        else if (!value.empty()) {
            if (!m_values.empty())
                m_values += kValueSeparator;
            m_values.append(value);
        }
        if (valueEnd == std::string_view::npos)
            break;
        others.remove_prefix(valueEnd + 1);
    }
    // A key's fields are a few hundred bytes at most (the windows' limits).
    pack(view(m_values), m_packed, m_domainTexts);
    m_packed.resize(std::min<size_t>(m_packed.size(), UINT16_MAX));
    m_restStarts[position] = m_rest.put(view(m_packed));
    m_restLengths[position] = static_cast<uint16_t>(m_packed.size());
}

uint32_t QuickFindIndex::positionOf(int64_t card) const
{
    const size_t at = m_ids.lowerBound(card);
    return at != m_ids.size() && m_ids[at] == card ? static_cast<uint32_t>(at) : kNone;
}

void QuickFindIndex::put(int64_t card, const std::string_view* key, uint32_t visits, uint32_t anniversaries)
{
    uint32_t position = positionOf(card);
    if (position == kNone) {
        if (!key)
            return; // no key, not listed: nothing to find
        const size_t at = m_ids.lowerBound(card);
        if (at != m_ids.size())
            ++m_layout; // the cards after it move
        m_ids.insert(at, card);
        // A value, not "{}": that would be an empty list of them, inserting nothing.
        auto grow = [at](auto& values) {
            values.insert(values.begin() + static_cast<ptrdiff_t>(at), typename std::decay_t<decltype(values)>::value_type());
        };
        grow(m_names);
        grow(m_companies);
        grow(m_restStarts);
        grow(m_restLengths);
        grow(m_visits.small);
        grow(m_anniversaries.small);
        position = static_cast<uint32_t>(at);
    }
    if (key)
        setKey(position, *key);
    else
        m_names[position] = kNone;
    m_visits.set(position, card, visits);
    m_anniversaries.set(position, card, anniversaries);
}

QuickFindIndex::CatchUp QuickFindIndex::catchUp(Database& db)
{
    const int64_t end = db.firstInteger(quickFindLogEndSql());
    if (end < m_logSeq)
        return CatchUp::Lost;
    if (end == m_logSeq)
        return CatchUp::Unchanged;
    // Each change taken in here costs two statements on the window's thread, whose pages stay
    // in its connection's cache: past an eighth of the cards (a large import) a fresh read on
    // the worker, with a small cache of its own, costs less time and memory.
    if (end - m_logSeq > std::clamp<int64_t>(static_cast<int64_t>(size() / 8), kSmallestReread, kLargestCatchUp))
        return CatchUp::Lost;
    std::vector<int64_t> cards;
    db.runBound(quickFindLogSql(), {QVariant::fromValue<qint64>(m_logSeq)}, [&](const Database::Row& row) {
        cards.push_back(row.integer(0));
    });
    std::sort(cards.begin(), cards.end());
    cards.erase(std::unique(cards.begin(), cards.end()), cards.end());
    for (int64_t card : cards) {
        const QVariantList id{QVariant::fromValue<qint64>(card)};
        std::string key;
        bool keyed = false;
        db.runBound(searchKeyOfCardSql(), id, [&](const Database::Row& row) {
            key = std::string(row.utf8(0));
            keyed = true;
        });
        int64_t counts[2] = {0, 0};
        db.runBound(countsOfCardSql(), id, [&](const Database::Row& row) {
            counts[0] = row.integer(0);
            counts[1] = row.integer(1);
        });
        const std::string_view keyView = view(key);
        put(card, keyed ? &keyView : nullptr, static_cast<uint32_t>(counts[0]), static_cast<uint32_t>(counts[1]));
    }
    m_logSeq = end;
    return CatchUp::Changed;
}

std::vector<uint32_t> QuickFindIndex::positions(const std::vector<int64_t>& cards) const
{
    std::vector<uint32_t> found(cards.size(), kNone);
    const auto n = static_cast<ptrdiff_t>(cards.size());
    auto mergeFrom = [&](ptrdiff_t first, ptrdiff_t step) {
        size_t at = 0;
        for (ptrdiff_t i = first; i >= 0 && i < n; i += step) {
            const int64_t card = cards[static_cast<size_t>(i)];
            while (at < m_ids.size() && m_ids[at] < card)
                ++at;
            if (at < m_ids.size() && m_ids[at] == card)
                found[static_cast<size_t>(i)] = static_cast<uint32_t>(at);
        }
    };
    if (std::is_sorted(cards.begin(), cards.end()))
        mergeFrom(0, 1);
    else if (std::is_sorted(cards.rbegin(), cards.rend()))
        mergeFrom(n - 1, -1);
    else
        for (size_t i = 0; i < cards.size(); ++i)
            found[i] = positionOf(cards[i]);
    return found;
}

void QuickFindIndex::prepare(std::string_view text)
{
    m_text = std::string(text);
    m_nameClasses.resize(m_nameTexts.count());
    for (uint32_t n = 0; n < m_nameTexts.count(); ++n)
        m_nameClasses[n] = static_cast<uint8_t>(quickFindClass(m_nameTexts.at(n), view(m_text)));
    m_companyHits.resize(m_companyTexts.count());
    for (uint32_t n = 0; n < m_companyTexts.count(); ++n)
        m_companyHits[n] = holds(m_companyTexts.at(n), view(m_text)) ? 1 : 0;
}

int QuickFindIndex::matchClass(uint32_t position) const
{
    const uint32_t name = m_names[position];
    if (name == kNone)
        return 0;
    if (const int named = m_nameClasses[name])
        return named;
    const uint32_t company = m_companies[position];
    if (company != kNone && m_companyHits[company])
        return 3;
    unpack(m_rest.at(m_restStarts[position], m_restLengths[position]), m_unpacked, m_domainTexts);
    return holds(view(m_unpacked), view(m_text)) ? 3 : 0;
}

QuickFindIndexLoader quickFindIndexLoader(Database& db)
{
    auto* main = dynamic_cast<SqlCipherConnection*>(&db);
    if (!main)
        return {};
    return [connection = main->connectionString(), password = main->password()](const std::atomic<bool>* stop)
               -> std::shared_ptr<QuickFindIndex> {
        SqlCipherConnection file{cardDatabaseRules()};
        file.setConnectionString(connection);
        if (!file.openWithPassword(password) || file.firstInteger(quickFindLogExistsSql()) == 0)
            return nullptr;
        // A single pass over the keys: a small cache is enough, and the memory stays the index's.
        file.execute(QStringLiteral("PRAGMA cache_size = -2048"));
        auto index = std::make_shared<QuickFindIndex>();
        index->load(file, stop);
        return index;
    };
}

void QuickFinder::setIndex(std::shared_ptr<QuickFindIndex> index)
{
    m_index = std::move(index);
    m_fingerprint = 0;
    m_stampKind = Stamp::Unknown;
    m_engineCounts.clear();
    forget();
}

QuickFinder::Stamp QuickFinder::stampKind(Database& db)
{
    if (m_stampKind == Stamp::Unknown)
        m_stampKind = hasServerChangeLog(db) ? Stamp::Logged
            : db.firstInteger(schemaObjectExistsSql(), {QStringLiteral("D_CountStamp")}) > 0 ? Stamp::Kept
                                                                                            : Stamp::Absent;
    return m_stampKind;
}

std::vector<qint64> QuickFinder::countByEngine(Database& db, const std::vector<int64_t>& list,
                                               const std::function<std::vector<qint64>()>& count)
{
    if (stampKind(db) == Stamp::Absent)
        return count();
    if (m_stampKind == Stamp::Logged)
        return m_serverCounts.count(db, list, fingerprint(list), count);
    // Read before the counting: a change committed in between raises it again.
    const int64_t stamp = db.firstInteger(countStampSql());
    const uint64_t listPrint = fingerprint(list);
    if (m_engineCounts.empty() || stamp != m_countStamp || listPrint != m_countedList) {
        m_engineCounts = count();
        m_countStamp = stamp;
        m_countedList = listPrint;
    }
    return m_engineCounts;
}

QStringList countStampStatements()
{
    QStringList statements{
        QStringLiteral("CREATE TABLE D_CountStamp (n bigint NOT NULL)"),
        QStringLiteral("INSERT INTO D_CountStamp VALUES (0)"),
        // As its owner: an account that may write visits need not be granted the stamp.
        QStringLiteral("CREATE OR REPLACE FUNCTION ostrel_count_stamp() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER "
                       "SET search_path FROM CURRENT AS $$ BEGIN UPDATE D_CountStamp SET n = n + 1; RETURN NULL; END $$")};
    for (const char* table : {"DList", "DJNR"})
        statements << QStringLiteral("CREATE TRIGGER %1_Counted AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON \"%1\" "
                                     "FOR EACH STATEMENT EXECUTE FUNCTION ostrel_count_stamp()")
                          .arg(QString::fromLatin1(table));
    return statements;
}

void QuickFinder::forget()
{
    m_server.forget();
    m_text.clear();
    m_matches.clear();
    m_matches.shrink_to_fit();
    m_counted = false;
}

bool QuickFinder::countsOfFound(int64_t& visits, int64_t& anniversaries) const
{
    if (!m_counted)
        return false;
    visits = m_visits;
    anniversaries = m_anniversaries;
    return true;
}

bool QuickFinder::follow(Database& db, const std::vector<int64_t>& list)
{
    const QuickFindIndex::CatchUp caught = m_index->catchUp(db);
    if (caught == QuickFindIndex::CatchUp::Lost) {
        setIndex(nullptr);
        return false;
    }
    const uint64_t listPrint = fingerprint(list);
    const bool moved = listPrint != m_fingerprint || m_layout != m_index->layout();
    if (caught == QuickFindIndex::CatchUp::Changed || moved)
        forget();
    if (moved) {
        m_positions = {}; // not held beside the new ones
        m_positions = m_index->positions(list);
        m_fingerprint = listPrint;
        m_layout = m_index->layout();
    }
    return true;
}

bool QuickFinder::countAll(Database& db, const std::vector<int64_t>& list, int64_t& visits, int64_t& anniversaries)
{
    if (!m_index || !follow(db, list))
        return false;
    visits = anniversaries = 0;
    for (uint32_t position : m_positions) {
        if (position == QuickFindIndex::kNone)
            return false;
        visits += m_index->visits(position);
        anniversaries += m_index->anniversaries(position);
    }
    return true;
}

std::vector<int64_t> QuickFinder::find(Database& db, const QString& typed, const std::vector<int64_t>& list)
{
    const QString text = quickFindText(typed);
    if (!text.isEmpty() && !m_index && stampKind(db) == Stamp::Logged) {
        std::vector<int64_t> found = m_server.find(db, text, list, fingerprint(list));
        m_counted = m_server.countsOfFound(m_visits, m_anniversaries);
        return found;
    }
    if (text.isEmpty() || !m_index) {
        forget();
        return quickFind(db, typed, list);
    }
    if (!follow(db, list))
        return quickFind(db, typed, list);
    // Every key holding the new text holds the old one too.
    const bool narrowing = !m_text.isEmpty() && text.contains(m_text);
    const QByteArray utf8 = text.toUtf8();
    m_index->prepare(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
    std::array<std::vector<uint32_t>, 3> byClass;
    std::vector<uint32_t> matches;
    m_visits = m_anniversaries = 0;
    auto consider = [&](uint32_t place) {
        const uint32_t position = m_positions[place];
        if (position == QuickFindIndex::kNone)
            return;
        if (const int found = m_index->matchClass(position)) {
            byClass[static_cast<size_t>(found - 1)].push_back(place);
            matches.push_back(place);
            m_visits += m_index->visits(position);
            m_anniversaries += m_index->anniversaries(position);
        }
    };
    if (narrowing)
        for (uint32_t place : m_matches)
            consider(place);
    else
        for (uint32_t place = 0; place < list.size(); ++place)
            consider(place);
    std::vector<int64_t> found;
    found.reserve(matches.size());
    for (const std::vector<uint32_t>& places : byClass)
        for (uint32_t place : places)
            found.push_back(list[place]);
    m_text = text;
    m_matches = std::move(matches);
    m_counted = true;
    return found;
}

} // namespace ostrel

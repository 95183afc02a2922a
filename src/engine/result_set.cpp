#include "engine/result_set.h"

#include "engine/engine_error.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <charconv>
#include <numeric>
#include <optional>
#include <unordered_map>

namespace ostrel {

namespace {

// Rows read from a paged list's source at a time, and the pages kept: a screenful and
// the pages around it, so scrolling back and forth reads nothing twice.
constexpr int kPageRows = 64;
constexpr size_t kPagesKept = 8;

// Texts end to end: a column of a million rows costs its bytes and a number a row.
struct ColumnBytes {
    std::string arena;
    std::vector<uint32_t> starts;

    void add(std::string_view bytes)
    {
        if (arena.size() + bytes.size() > UINT32_MAX)
            throw EngineError(QStringLiteral("列表太长，无法排序"));
        starts.push_back(static_cast<uint32_t>(arena.size()));
        arena.append(bytes);
    }
    size_t count() const { return starts.size(); }
    std::string_view at(size_t row) const
    {
        const uint32_t end = row + 1 < starts.size() ? starts[row + 1] : static_cast<uint32_t>(arena.size());
        return std::string_view(arena).substr(starts[row], end - starts[row]);
    }
};

// Collation keys, each kept as its first eight bytes in one number, on which most compares
// end, and the bytes after them. A key's one zero byte is its last, so equal numbers are
// equal keys or keys that both go on, alike so far: the rest then decides.
struct SortKeys {
    std::vector<uint64_t> prefixes;
    ColumnBytes rests;

    void add(std::string_view key)
    {
        uint64_t value = 0;
        for (size_t i = 0; i < 8; ++i)
            value = value << 8 | (i < key.size() ? static_cast<uint8_t>(key[i]) : 0);
        prefixes.push_back(value);
        rests.add(key.size() > 8 ? key.substr(8) : std::string_view());
    }
    bool less(size_t a, size_t b) const
    {
        return prefixes[a] != prefixes[b] ? prefixes[a] < prefixes[b] : rests.at(a) < rests.at(b);
    }
};

// Makes the Chinese (pinyin) collation keys of texts: compared byte by byte, they order as
// the collator would, at a fraction of the cost.
class PinyinKeys {
public:
    explicit PinyinKeys(size_t rows) : m_rows(rows)
    {
        UErrorCode status = U_ZERO_ERROR;
        m_collator = ucol_open("zh_CN", &status);
        if (U_FAILURE(status))
            throw EngineError(QStringLiteral("无法按拼音排序：%1").arg(QString::fromLatin1(u_errorName(status))));
    }
    ~PinyinKeys() { ucol_close(m_collator); }
    PinyinKeys(const PinyinKeys&) = delete;
    PinyinKeys& operator=(const PinyinKeys&) = delete;

    void add(std::string_view utf8, SortKeys& keys)
    {
        if (keys.prefixes.empty()) {
            keys.prefixes.reserve(m_rows);
            keys.rests.starts.reserve(m_rows);
        }
        keys.add(key(utf8));
        // Room for all the keys at the first rows' mean length, with an eighth to spare: a
        // grown buffer would be copied whole, holding it twice at the sort's busiest moment.
        if (keys.prefixes.size() == kSampleRows && m_rows > kSampleRows)
            keys.rests.arena.reserve(std::min<size_t>(keys.rests.arena.size() / kSampleRows * m_rows * 9 / 8, UINT32_MAX));
    }
    std::string_view key(std::string_view utf8)
    {
        const QString text = QString::fromUtf8(utf8);
        const auto* chars = reinterpret_cast<const UChar*>(text.utf16());
        int length = ucol_getSortKey(m_collator, chars, static_cast<int32_t>(text.size()), m_buffer.data(),
                                     static_cast<int32_t>(m_buffer.size()));
        if (length > static_cast<int>(m_buffer.size())) {
            m_buffer.resize(static_cast<size_t>(length));
            length = ucol_getSortKey(m_collator, chars, static_cast<int32_t>(text.size()), m_buffer.data(), length);
        }
        return std::string_view(reinterpret_cast<const char*>(m_buffer.data()), static_cast<size_t>(length));
    }

private:
    static constexpr size_t kSampleRows = 4096;
    size_t m_rows;
    UCollator* m_collator = nullptr;
    std::vector<uint8_t> m_buffer = std::vector<uint8_t>(256);
};

} // namespace

ResultSet::ResultSet(QStringList columns)
    : m_columns(std::move(columns)), m_numeric(static_cast<size_t>(m_columns.size()), true)
{
}

ResultSet ResultSet::paged(QStringList columns, std::vector<int64_t> ids, std::shared_ptr<RowSource> source)
{
    return paged(std::move(columns), std::make_shared<const std::vector<int64_t>>(std::move(ids)), std::move(source));
}

ResultSet ResultSet::paged(QStringList columns, std::shared_ptr<const std::vector<int64_t>> ids,
                           std::shared_ptr<RowSource> source)
{
    ResultSet rows(std::move(columns));
    rows.m_ids = std::move(ids);
    rows.m_order.resize(rows.m_ids->size());
    std::iota(rows.m_order.begin(), rows.m_order.end(), 0);
    rows.m_source = std::move(source);
    return rows;
}

ResultSet ResultSet::paged(QStringList columns, std::shared_ptr<RowSource> source)
{
    std::vector<int64_t> ids = source->readIds();
    return paged(std::move(columns), std::move(ids), std::move(source));
}

const std::vector<int64_t>& ResultSet::ids() const
{
    static const std::vector<int64_t> none;
    return m_ids ? *m_ids : none;
}

std::vector<int64_t> ResultSet::shownIds() const
{
    std::vector<int64_t> ids;
    ids.reserve(m_order.size());
    if (!this->ids().empty())
        for (int storage : m_order)
            ids.push_back((*m_ids)[static_cast<size_t>(storage)]);
    return ids;
}

std::shared_ptr<const std::vector<int64_t>> ResultSet::shownIdList() const
{
    // m_order is a permutation of the rows: sorted, it is the statement's order.
    const bool inStatementOrder = m_ids && m_order.size() == m_ids->size() && std::is_sorted(m_order.begin(), m_order.end());
    return inStatementOrder ? m_ids : std::make_shared<const std::vector<int64_t>>(shownIds());
}

ResultSet ResultSet::withIds(std::vector<int64_t> ids) const
{
    return paged(m_columns, std::move(ids), m_source);
}

void ResultSet::reserveRows(size_t rows)
{
    m_starts.reserve(rows * static_cast<size_t>(m_columns.size()) + 1);
    m_order.reserve(rows);
}

void ResultSet::addCell(std::string_view utf8, bool numeric)
{
    const size_t column = m_starts.size() % static_cast<size_t>(m_columns.size());
    if (!numeric)
        m_numeric[column] = false;
    m_starts.push_back(static_cast<uint32_t>(m_arena.size()));
    m_arena.append(utf8);
}

void ResultSet::endRow()
{
    m_order.push_back(static_cast<int>(m_order.size()));
}

int ResultSet::columnIndex(const QString& name) const
{
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

std::string_view ResultSet::cell(int storageRow, int column) const
{
    const size_t i = static_cast<size_t>(storageRow) * static_cast<size_t>(m_columns.size())
        + static_cast<size_t>(column);
    const uint32_t begin = m_starts[i];
    const uint32_t end = i + 1 < m_starts.size() ? m_starts[i + 1] : static_cast<uint32_t>(m_arena.size());
    return std::string_view(m_arena).substr(begin, end - begin);
}

const ResultSet& ResultSet::pageOf(int row) const
{
    const int first = row - row % kPageRows;
    const auto found = std::find_if(m_pages.begin(), m_pages.end(), [&](const Page& page) { return page.first == first; });
    if (found != m_pages.end()) {
        std::rotate(found, found + 1, m_pages.end());
        return *m_pages.back().rows;
    }
    if (m_pages.size() >= kPagesKept)
        m_pages.erase(m_pages.begin());
    // Kept before it is read: a page that failed reads as empty instead of being tried again
    // for every cell painted.
    m_pages.push_back({first, std::make_shared<ResultSet>(m_columns)});
    const std::shared_ptr<ResultSet> page = m_pages.back().rows;
    std::vector<int64_t> ids;
    for (int r = first, end = std::min(first + kPageRows, rowCount()); r < end; ++r)
        ids.push_back((*m_ids)[static_cast<size_t>(m_order[static_cast<size_t>(r)])]);
    m_source->fetchRows(ids, *page);
    return *page;
}

std::string_view ResultSet::raw(int row, int column) const
{
    if (!m_source)
        return cell(storageRow(row), column);
    const ResultSet& page = pageOf(row);
    const int local = row % kPageRows;
    return local < page.rowCount() ? page.cell(local, column) : std::string_view();
}

int ResultSet::displayRow(int storage) const
{
    const auto it = std::find(m_order.begin(), m_order.end(), storage);
    return it == m_order.end() ? -1 : static_cast<int>(it - m_order.begin());
}

void ResultSet::unsort()
{
    std::iota(m_order.begin(), m_order.end(), 0);
    m_pages.clear();
}

// A column's values as a sort wants them: the texts while every value is a number, else
// each value's collation key, made as it is read so that the texts are never all held.
struct ResultSet::ColumnValues {
    ColumnBytes texts;
    SortKeys keys;
    bool numeric = true;
    std::unique_ptr<PinyinKeys> maker;

    explicit ColumnValues(size_t rows) : m_rows(rows) { texts.starts.reserve(rows); }
    size_t count() const { return numeric ? texts.count() : keys.prefixes.size(); }
    void add(std::string_view utf8, bool isNumber)
    {
        if (numeric && !isNumber) {
            numeric = false;
            maker = std::make_unique<PinyinKeys>(m_rows);
            for (size_t r = 0; r < texts.count(); ++r)
                maker->add(texts.at(r), keys);
            texts = {};
        }
        if (maker)
            maker->add(utf8, keys);
        else
            texts.add(utf8);
    }
    // Row of from, or an empty value for none.
    void addFrom(const ColumnValues& from, std::optional<size_t> row)
    {
        numeric = from.numeric;
        if (numeric) {
            texts.add(row ? from.texts.at(*row) : std::string_view());
        } else if (row) {
            keys.prefixes.push_back(from.keys.prefixes[*row]);
            keys.rests.add(from.keys.rests.at(*row));
        } else {
            keys.add(from.maker->key({}));
        }
    }

private:
    size_t m_rows;
};

ResultSet::ColumnValues ResultSet::sortColumn(int column) const
{
    const std::vector<int64_t>& ids = this->ids();
    ColumnValues read(ids.size());
    // Taken only once a row comes out of the list's order: most often none does.
    std::vector<int64_t> readIds;
    bool inOrder = true;
    m_source->readColumn(column, [&](int64_t id, std::string_view utf8, bool numeric) {
        const size_t row = read.count();
        if (inOrder && (row >= ids.size() || ids[row] != id)) {
            inOrder = false;
            readIds.assign(ids.begin(), ids.begin() + static_cast<ptrdiff_t>(row));
        }
        if (!inOrder)
            readIds.push_back(id);
        read.add(utf8, numeric);
    });
    if (inOrder && read.count() == ids.size())
        return read;
    if (inOrder)
        readIds.assign(ids.begin(), ids.begin() + static_cast<ptrdiff_t>(read.count()));
    // The rows came in another order, or the list changed since its IDs were read: each
    // row takes its own ID's value, and a row no longer there sorts as empty.
    std::unordered_map<int64_t, size_t> at;
    for (size_t r = 0; r < readIds.size(); ++r)
        at.emplace(readIds[r], r);
    ColumnValues byRow(ids.size());
    for (int64_t id : ids) {
        const auto found = at.find(id);
        byRow.addFrom(read, found == at.end() ? std::nullopt : std::optional<size_t>(found->second));
    }
    return byRow;
}

void ResultSet::sortBy(int column, bool descending)
{
    const size_t n = m_order.size();
    // A paged list's values are read from its source with their sort keys made as they come;
    // a list read at once holds its texts.
    std::optional<ColumnValues> read;
    if (m_source)
        read = sortColumn(column);
    unsort();
    // Equal values keep the statement's order, which is the rows' own (m_order counts up):
    // the row breaks a tie, so the sort needs no buffer of its own, as a stable one would.
    auto ordered = [&](auto less) {
        std::sort(m_order.begin(), m_order.end(), [&](int a, int b) {
            if (descending ? less(b, a) : less(a, b))
                return true;
            return !(descending ? less(a, b) : less(b, a)) && a < b;
        });
    };
    if (read ? read->numeric : m_numeric[static_cast<size_t>(column)]) {
        std::vector<double> keys(n);
        for (size_t r = 0; r < n; ++r) {
            const std::string_view v = read ? read->texts.at(r) : cell(static_cast<int>(r), column);
            double d = 0; // an empty (missing) value sorts first
            std::from_chars(v.data(), v.data() + v.size(), d);
            keys[r] = d;
        }
        read.reset();
        ordered([&](int a, int b) { return keys[a] < keys[b]; });
        return;
    }
    // One sort key per row, then cheap key compares: far faster than pairwise collation.
    SortKeys keys;
    if (read) {
        keys = std::move(read->keys);
        read.reset();
    } else {
        PinyinKeys maker(n);
        for (size_t r = 0; r < n; ++r)
            maker.add(cell(static_cast<int>(r), column), keys);
    }
    ordered([&](int a, int b) { return keys.less(static_cast<size_t>(a), static_cast<size_t>(b)); });
}

} // namespace ostrel

#include "formats/workbook/sheet_rows.h"

#include <algorithm>

namespace ostrel::workbook {

namespace {

// A full block is left as it is and the next row starts a new one.
constexpr size_t kBlockBytes = 1 << 20;

// Each cell is one number, then its own text if it has one: the text's length or the shared
// text's number, shifted left by two, with the cell's kind in the low bits.
enum Kind : uint64_t { Text = 0, Numeric = 1, Shared = 2 };

void putNumber(std::string& out, uint64_t value)
{
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

uint64_t takeNumber(std::string_view bytes, size_t& at)
{
    uint64_t value = 0;
    for (int shift = 0; at < bytes.size(); shift += 7) {
        const auto byte = static_cast<uint8_t>(bytes[at++]);
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (byte < 0x80)
            break;
    }
    return value;
}

} // namespace

void SharedTexts::add(std::string_view utf8)
{
    constexpr size_t kBlockFull = size_t{1} << kPlaceBits;
    size_t block = m_starts.back() >> kPlaceBits;
    if (block < m_blocks.size() && !m_blocks[block].empty() && m_blocks[block].size() + utf8.size() > kBlockFull)
        ++block;
    if (block == m_blocks.size())
        m_blocks.emplace_back().reserve(std::max(kBlockFull, utf8.size()));
    std::string& bytes = m_blocks[block];
    m_starts.back() = static_cast<uint32_t>(block << kPlaceBits | bytes.size());
    bytes.append(utf8);
    // A full block: the next text starts the next one, so every place fits its bits.
    m_starts.push_back(static_cast<uint32_t>(bytes.size() >= kBlockFull ? (block + 1) << kPlaceBits
                                                                        : block << kPlaceBits | bytes.size()));
}

std::string_view SharedTexts::at(size_t index) const
{
    constexpr uint32_t kPlaceMask = (1u << kPlaceBits) - 1;
    const uint32_t start = m_starts[index];
    const uint32_t next = m_starts[index + 1];
    const std::string& bytes = m_blocks[start >> kPlaceBits];
    const size_t end = (next >> kPlaceBits) == (start >> kPlaceBits) ? next & kPlaceMask : bytes.size();
    return std::string_view(bytes).substr(start & kPlaceMask, end - (start & kPlaceMask));
}

SheetRows::SheetRows(int width, std::shared_ptr<const SharedTexts> shared) : m_width(width), m_shared(std::move(shared))
{
    if (!m_shared)
        m_shared = std::make_shared<const SharedTexts>();
}

void SheetRows::add(std::string_view utf8, bool numeric)
{
    putNumber(m_open, static_cast<uint64_t>(utf8.size()) << 2 | (numeric ? Numeric : Text));
    m_open.append(utf8);
}

void SheetRows::addShared(uint32_t index)
{
    putNumber(m_open, static_cast<uint64_t>(index) << 2 | Shared);
}

void SheetRows::endRow()
{
    if (m_blocks.empty() || m_blocks.back().size() + m_open.size() > m_blocks.back().capacity()) {
        m_blocks.emplace_back().reserve(std::max(kBlockBytes, m_open.size()));
        m_blockFirstRow.push_back(m_rowStarts.size());
    }
    std::string& block = m_blocks.back();
    m_rowStarts.push_back(static_cast<uint32_t>(block.size()));
    block.append(m_open);
    m_open.clear();
}

std::string_view SheetRows::rowBytes(size_t row) const
{
    const size_t block = static_cast<size_t>(std::upper_bound(m_blockFirstRow.begin(), m_blockFirstRow.end(), row)
                                             - m_blockFirstRow.begin())
        - 1;
    const std::string& bytes = m_blocks[block];
    const bool lastInBlock = row + 1 == m_rowStarts.size()
        || (block + 1 < m_blockFirstRow.size() && m_blockFirstRow[block + 1] == row + 1);
    const size_t start = m_rowStarts[row];
    const size_t end = lastInBlock ? bytes.size() : m_rowStarts[row + 1];
    return std::string_view(bytes).substr(start, end - start);
}

template <class Take>
void SheetRows::decodeRow(size_t row, Take&& take) const
{
    const std::string_view bytes = rowBytes(row);
    size_t at = 0;
    for (int column = 0; at < bytes.size() && column < m_width; ++column) {
        const uint64_t head = takeNumber(bytes, at);
        const uint64_t kind = head & 3;
        const uint64_t value = head >> 2;
        if (kind == Shared) {
            take(column, Cell{value < m_shared->size() ? m_shared->at(value) : std::string_view(), false});
        } else {
            const size_t length = std::min<size_t>(value, bytes.size() - at);
            take(column, Cell{bytes.substr(at, length), kind == Numeric});
            at += length;
        }
    }
}

std::vector<int64_t> SheetRows::readIds()
{
    std::vector<int64_t> ids(m_rowStarts.size());
    for (size_t i = 0; i < ids.size(); ++i)
        ids[i] = static_cast<int64_t>(i);
    return ids;
}

void SheetRows::fetchRows(const std::vector<int64_t>& ids, ResultSet& page)
{
    // A cell never written is empty and does not keep its column from sorting by value.
    std::vector<Cell> cells;
    for (const int64_t id : ids) {
        cells.assign(static_cast<size_t>(m_width), Cell{{}, true});
        if (id >= 0 && static_cast<uint64_t>(id) < m_rowStarts.size())
            decodeRow(static_cast<size_t>(id), [&](int column, const Cell& cell) { cells[static_cast<size_t>(column)] = cell; });
        for (const Cell& cell : cells)
            page.addCell(cell.text, cell.numeric);
        page.endRow();
    }
}

void SheetRows::readColumn(int column, const ColumnSink& take)
{
    for (size_t row = 0; row < m_rowStarts.size(); ++row) {
        Cell found{{}, true};
        decodeRow(row, [&](int at, const Cell& cell) {
            if (at == column)
                found = cell;
        });
        take(static_cast<int64_t>(row), found.text, found.numeric);
    }
}

ResultSet rowsOf(QStringList columns, std::shared_ptr<SheetRows> rows)
{
    std::vector<int64_t> ids = rows->readIds();
    return ResultSet::paged(std::move(columns), std::move(ids), std::move(rows));
}

} // namespace ostrel::workbook

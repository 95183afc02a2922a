#pragma once
// The cells of a sheet once read, kept compactly: a workbook's repeated texts (its shared
// strings) are held once and each use is a small number, every other text is kept where its
// row is written, and the grid and the import decode a page of rows when they reach it, as
// the card list reads its rows. A sheet of cards costs little more than its distinct texts.
#include "engine/result_set.h"

#include <QStringList>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::workbook {

// Texts referred to by number, end to end in blocks that never move once filled: reading
// them costs no copy of those read before, nor room left over at the end.
class SharedTexts {
public:
    size_t size() const { return m_starts.size() - 1; }
    void reserve(size_t count) { m_starts.reserve(count + 1); }
    void add(std::string_view utf8);
    std::string_view at(size_t index) const;

private:
    // A text's start: its block above these bits, its place in the block below them.
    static constexpr int kPlaceBits = 20;
    std::vector<std::string> m_blocks;
    // Text i from m_starts[i] to m_starts[i + 1], or to its block's end when that is in the next one.
    std::vector<uint32_t> m_starts{0};
};

// Rows written in order, cell by cell from the first column; a row's cells after its last
// written one read as empty. Read back as the rows of a paged result set (see rowsOf).
class SheetRows : public RowSource {
public:
    SheetRows(int width, std::shared_ptr<const SharedTexts> shared);

    // The next cell of the open row: a text of its own (an empty one is an empty cell), or
    // the shared text of this number (which must exist).
    void add(std::string_view utf8, bool numeric);
    void addShared(uint32_t index);
    void endRow();
    void reserveRows(size_t rows) { m_rowStarts.reserve(rows); }
    size_t rowCount() const { return m_rowStarts.size(); }

    std::vector<int64_t> readIds() override;
    void fetchRows(const std::vector<int64_t>& ids, ResultSet& page) override;
    void readColumn(int column, const ColumnSink& take) override;

private:
    struct Cell {
        std::string_view text;
        bool numeric;
    };
    // Calls take(column, cell) for the stored cells of row, left to right.
    template <class Take>
    void decodeRow(size_t row, Take&& take) const;
    std::string_view rowBytes(size_t row) const;

    int m_width;
    std::shared_ptr<const SharedTexts> m_shared;
    // Rows lie whole in blocks that never move once filled: growing costs no copy of what
    // was read before.
    std::vector<std::string> m_blocks;
    std::vector<size_t> m_blockFirstRow;
    std::vector<uint32_t> m_rowStarts; // within its block
    std::string m_open;                // the row being written
};

// The rows as a paged result set under these column titles, each row's ID its number from 0.
ResultSet rowsOf(QStringList columns, std::shared_ptr<SheetRows> rows);

} // namespace ostrel::workbook

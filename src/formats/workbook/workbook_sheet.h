#pragma once
// Pieces the three workbook readers share: the limits that keep a hostile file from
// exhausting memory, the collector that turns sparse cells into a result set, and the
// text forms of numbers, dates and times.
#include "engine/result_set.h"
#include "formats/workbook/sheet_rows.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::workbook {

// Excel's own sheet size: 1,048,576 rows, columns A..XFD.
inline constexpr uint32_t kMaxRows = 1048576;
inline constexpr uint32_t kMaxColumns = 16384;
// Cells of the padded result (rows x widest row): Excel's row limit at 24 columns.
inline constexpr uint64_t kMaxCells = 26'000'000;
// Text of all cells together, repeated shared strings counted each time.
inline constexpr uint64_t kMaxTextBytes = 256ull << 20;
// What one zip entry may expand to.
inline constexpr qint64 kMaxSheetXmlBytes = 200ll << 20;
inline constexpr qint64 kMaxSharedStringsBytes = 50ll << 20;
inline constexpr qint64 kMaxSmallPartBytes = 10ll << 20; // workbook, relationships, styles
// Files read whole into memory (.xlsx, .csv).
inline constexpr qint64 kMaxFileBytes = 200ll << 20;

// How a cell's number is shown, from its number format.
enum class NumberKind : uint8_t { Number, Date, Time };

// The kind of a built-in number format id (Chinese Excel's built-in date formats included).
NumberKind builtinFormatKind(int id);
// The kind of a format code: y or d (or m without h and s) outside quotes, brackets and
// escapes makes a date; h or s a time.
NumberKind formatCodeKind(QStringView code);

// A number as text: whole numbers without a fraction ("13800138000"), others in their
// shortest form that reads back to the same value.
std::string numberText(double value);
// A day serial as "yyyy-mm-dd", the 1900 system with its fictitious 29 February 1900 or
// the 1904 system. Serials outside the calendar give numberText.
std::string serialDateText(double serial, bool date1904);
// The fraction of a day as "hh:mm:ss".
std::string serialTimeText(double serial);
// The number as the kind shows it.
std::string formattedNumber(double value, NumberKind kind, bool date1904);

// Collects the cells of one sheet in any order and builds the result set: the first
// non-empty row names the columns (an empty title reads "F" and the column number), every
// later row up to the last non-empty one is a row, padded to the widest row. The result
// keeps its rows compactly and reads them a page at a time (SheetRows).
class SheetBuilder {
public:
    // Copies the text. Empty texts are not stored. Throws EngineError past the limits.
    void add(uint32_t row, uint32_t column, std::string_view utf8, bool numeric);
    // Refers to shared text number `index` (of those set once, before), which the result
    // keeps without copying it.
    void addShared(uint32_t row, uint32_t column, uint32_t index);
    void setShared(std::shared_ptr<const SharedTexts> shared) { m_shared = std::move(shared); }
    // Room for about this many cells (capped at the limit), so they are not moved as they come.
    void reserve(uint32_t /*rows*/, size_t cells) { m_cells.reserve(std::min<size_t>(cells, kMaxCells)); }

    ResultSet build();

private:
    struct Cell {
        uint32_t row;
        uint32_t column;
        uint32_t start;  // in the arena, or the shared text's number
        uint32_t length; // with the flags below
    };
    static constexpr uint32_t kNumeric = 1u << 31;
    static constexpr uint32_t kShared = 1u << 30;
    static constexpr uint32_t kLengthMask = kShared - 1;

    void push(uint32_t row, uint32_t column, uint32_t start, uint32_t lengthAndFlags, size_t bytes);
    friend class OrderedSheet;
    // The checks every cell passes, whichever builder takes it.
    static void checkPosition(uint32_t row, uint32_t column);
    static void countText(uint64_t& total, size_t bytes);
    std::string_view text(const Cell& cell) const;

    std::vector<Cell> m_cells;
    std::string m_arena;
    std::shared_ptr<const SharedTexts> m_shared = std::make_shared<const SharedTexts>();
    uint64_t m_textBytes = 0;
    bool m_ordered = true;
};

// Builds the result set while the cells come as spreadsheet programs write them: rows in
// order, each row's cells left to right, none right of the title row's last cell. Each cell
// goes straight into the result; nothing is held beside it. Cells in any other order throw
// NotInOrder, and the sheet is read again into a SheetBuilder, which takes any order.
// The result is the one SheetBuilder would build from the same cells.
class OrderedSheet {
public:
    struct NotInOrder {};

    // Copies the text. Empty texts are not stored. Throws EngineError past the limits.
    void add(uint32_t row, uint32_t column, std::string_view utf8, bool numeric);
    // Refers to shared text number `index` (of those set once, before).
    void addShared(uint32_t row, uint32_t column, uint32_t index);
    void setShared(std::shared_ptr<const SharedTexts> shared) { m_shared = std::move(shared); }
    // Room for about this many rows and cells, as the sheet declares its size, so the result
    // is not moved as it grows. A false size costs at most the cells.
    void reserve(uint32_t rows, size_t cells)
    {
        m_reserveRows = rows;
        m_reserveCells = cells;
    }

    ResultSet build();

private:
    void startRows();
    void endRow();
    // Checks the cell's place and opens its row; false for a cell of the title row, which
    // is kept in m_titles.
    bool place(uint32_t row, uint32_t column, std::string_view utf8);

    std::shared_ptr<const SharedTexts> m_shared = std::make_shared<const SharedTexts>();
    uint64_t m_textBytes = 0;
    // The title row until it is complete: its cells' columns and texts.
    std::vector<std::pair<uint32_t, std::string>> m_titles;
    uint32_t m_titleRow = 0;
    QStringList m_columns;
    std::shared_ptr<SheetRows> m_result; // once the title row is complete
    uint32_t m_width = 0;
    uint64_t m_rows = 0;     // rows in the result, the open one included
    uint32_t m_row = 0;      // the last row begun (the title row at first)
    uint32_t m_nextColumn = 0;
    bool m_rowOpen = false;
    uint32_t m_reserveRows = 0;
    size_t m_reserveCells = 0;
};

// Sheet names compare as Excel compares them: without regard to case.
bool sameSheetName(const QString& a, const QString& b);
// The error of a workbook without the sheet asked for, naming the sheets it has.
[[noreturn]] void throwMissingSheet(const QString& sheet, const QStringList& present);

} // namespace ostrel::workbook

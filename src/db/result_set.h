#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// The rows of one query, kept compact: every cell's UTF-8 text lies in one arena, found by
// its start offset, so a list of 100,000 cards costs a few bytes over its text. Rows are
// shown through an order vector, which the sort rearranges without moving any text.
class ResultSet {
public:
    ResultSet() = default;
    explicit ResultSet(QStringList columns);

    // Building: addCell() for each column in order, then endRow().
    void addCell(std::string_view utf8, bool numeric);
    void endRow();
    void reserveRows(size_t rows);

    int rowCount() const { return static_cast<int>(m_order.size()); }
    int columnCount() const { return static_cast<int>(m_columns.size()); }
    const QStringList& columns() const { return m_columns; }
    // Column index by name, without regard to case; -1 when there is none.
    int columnIndex(const QString& name) const;

    // Cell of the row at display position `row` (0-based, in the current order).
    std::string_view raw(int row, int column) const;
    QString text(int row, int column) const { return QString::fromUtf8(raw(row, column)); }

    // Reorders the rows, stable against the statement's order: numbers by value, text in
    // Chinese (pinyin) order. unsort() brings back the statement's order.
    void sortBy(int column, bool descending);
    void unsort();
    // Storage index of the row at display position `row`; stays with the row across sorts.
    int storageRow(int row) const { return m_order[static_cast<size_t>(row)]; }
    int displayRow(int storageRow) const;

private:
    std::string_view cell(int storageRow, int column) const;

    QStringList m_columns;
    std::vector<bool> m_numeric; // a column sorts by value while every value is a number
    std::string m_arena;
    std::vector<uint32_t> m_starts; // one start per cell, row-major
    std::vector<int> m_order;
};

} // namespace ostrel

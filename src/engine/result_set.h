#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

class ResultSet;

// Reads the rows of a paged list when they are needed (see ResultSet::paged).
class RowSource {
public:
    virtual ~RowSource() = default;
    // The IDs of the list's rows, in the list's order.
    virtual std::vector<int64_t> readIds() = 0;
    // Adds to page, in the order given, the rows of the list with these IDs; an ID the
    // list no longer holds gives a row of empty cells.
    virtual void fetchRows(const std::vector<int64_t>& ids, ResultSet& page) = 0;
    // Hands over one column of every row of the list, with each row's ID, in any order.
    using ColumnSink = std::function<void(int64_t id, std::string_view utf8, bool numeric)>;
    virtual void readColumn(int column, const ColumnSink& take) = 0;
};

// The rows of one query, kept compact: every cell's UTF-8 text lies in one arena, found by
// its start offset, so a list of 100,000 cards costs a few bytes over its text. Rows are
// shown through an order vector, which the sort rearranges without moving any text.
//
// A paged result set holds only the rows' IDs (the first column, an integer); the
// cells of the rows being looked at are read from its source a page at a time and a few
// pages are kept, so a list of a million cards costs a few megabytes.
class ResultSet {
public:
    ResultSet() = default;
    explicit ResultSet(QStringList columns);
    static ResultSet paged(QStringList columns, std::vector<int64_t> ids, std::shared_ptr<RowSource> source);
    // The same over IDs shared with whoever keeps them (a connection that follows the list).
    static ResultSet paged(QStringList columns, std::shared_ptr<const std::vector<int64_t>> ids,
                           std::shared_ptr<RowSource> source);
    // A paged list of the IDs the source reads now.
    static ResultSet paged(QStringList columns, std::shared_ptr<RowSource> source);

    // Building: addCell() for each column in order, then endRow().
    void addCell(std::string_view utf8, bool numeric);
    void endRow();
    void reserveRows(size_t rows);

    int rowCount() const { return static_cast<int>(m_order.size()); }
    int columnCount() const { return static_cast<int>(m_columns.size()); }
    const QStringList& columns() const { return m_columns; }
    // Column index by name, without regard to case; -1 when there is none.
    int columnIndex(const QString& name) const;
    bool isPaged() const { return m_source != nullptr; }
    // The IDs of a paged list in the statement's order; empty otherwise.
    const std::vector<int64_t>& ids() const;
    // The IDs of a paged list in the order the rows are shown.
    std::vector<int64_t> shownIds() const;
    // The same, lent rather than copied while the rows are in the statement's order.
    std::shared_ptr<const std::vector<int64_t>> shownIdList() const;
    // A paged list of the same statement showing the rows of these IDs, in this order.
    ResultSet withIds(std::vector<int64_t> ids) const;

    // Cell of the row at display position `row` (0-based, in the current order). The view
    // stays valid until the next call: a paged set may drop the page it lies in. Reading
    // a paged set can throw EngineError; the page that failed then reads as empty cells
    // until the rows are reordered or replaced.
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
    struct Page {
        int first = 0; // display position of its first row
        std::shared_ptr<ResultSet> rows;
    };
    std::string_view cell(int storageRow, int column) const;
    const ResultSet& pageOf(int row) const;
    // One column of every row of a paged list, by storage index, for sorting.
    struct ColumnValues;
    ColumnValues sortColumn(int column) const;

    QStringList m_columns;
    std::vector<bool> m_numeric; // a column sorts by value while every value is a number
    std::string m_arena;
    std::vector<uint32_t> m_starts; // one start per cell, row-major
    std::vector<int> m_order;

    std::shared_ptr<const std::vector<int64_t>> m_ids; // never changed once set: shared, not copied
    std::shared_ptr<RowSource> m_source;
    mutable std::vector<Page> m_pages; // most recently used last
};

} // namespace ostrel

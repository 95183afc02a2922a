#pragma once
#include <QAbstractTableModel>
#include <QPointer>
#include <string_view>
#include <vector>

#include "engine/query.h"

namespace ostrel {

// A grid paints one line of a cell: a value longer than this (a whole document pasted into
// a workbook cell, say) is shown cut, with "…", so painting stays instant. The value itself
// is untouched.
inline constexpr size_t kShownCellBytes = 2048;
QString shownText(std::string_view cell);

// Shows a query's open rows to a grid: cell texts, row shading by record number, and the
// title marks of the title-click sort.
class QueryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class TitleMark { Plain, Ascending, Descending };

    explicit QueryModel(Query* query, QObject* parent = nullptr);
    Query* query() const { return m_query; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    TitleMark titleMark(int column) const;
    void setTitleMark(int column, TitleMark mark);
    void clearTitleMarks();

    // Background of a row by its record number (from 1): odd rows light green, even
    // rows the tooltip background.
    static QColor shade(int recNo);

private:
    void onCurrentChanged(int recNo);

    QPointer<Query> m_query;
    std::vector<TitleMark> m_marks;
    int m_currentRow = -1;
};

} // namespace ostrel

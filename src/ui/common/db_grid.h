#pragma once
#include <QTableView>

namespace ostrel {

class Query;
class QueryModel;

// The record grid of every list window: shows a query's rows read-only, keeps the grid's
// current row and the query's current row together, sorts by a clicked title (ascending
// red, descending blue) and shades rows by record number.
class DBGrid : public QTableView {
    Q_OBJECT
public:
    explicit DBGrid(QWidget* parent = nullptr);

    void setQuery(Query* query);
    Query* query() const;
    QueryModel* queryModel() const { return m_model; }

    // Title-click sort of the column: ascending first, then descending, then ascending.
    void titleClick(int column);

signals:
    void rowDoubleClicked();

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void followQuery(int recNo);

    QueryModel* m_model = nullptr;
    bool m_syncing = false;
};

} // namespace ostrel

#pragma once
#include <QPointer>
#include <QTableView>

class QMenu;

namespace ostrel {

class Query;
class QueryModel;

// The record grid of every list window: shows a query's rows read-only, keeps the grid's
// current row and the query's current row together, sorts by a clicked title (ascending
// red, descending blue) and shades rows by record number. Column widths are taken exactly
// as given, and the current cell always sits in a column the user can see.
class DBGrid : public QTableView {
    Q_OBJECT
public:
    explicit DBGrid(QWidget* parent = nullptr);

    void setQuery(Query* query);
    Query* query() const;

    // Title-click sort of the column: ascending first, then descending, then ascending.
    void titleClick(int column);

    // The menu a right click opens; setting it again replaces it, never doubles it.
    void setPopupMenu(QMenu* menu);

signals:
    void rowDoubleClicked();

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void followQuery(int recNo);
    // The first column with a width the user can see, or -1 when there is none.
    int firstShownColumn() const;
    bool isColumnShown(int column) const;
    void moveCurrentCell(int row, int column);

    QueryModel* m_model = nullptr;
    QPointer<QMenu> m_popupMenu;
    bool m_syncing = false;
};

} // namespace ostrel

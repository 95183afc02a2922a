#include "db_grid.h"

#include "engine/query.h"
#include "query_model.h"

#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>

namespace ostrel {

DBGrid::DBGrid(QWidget* parent) : QTableView(parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    // Fixed row heights: sizing rows to their contents takes seconds on 100,000 rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setFixedWidth(18);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // A stored width below the style's minimum section size must still be exact.
    horizontalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &DBGrid::titleClick);
    // Hiding a column (or narrowing it to nothing) must not take the visible current cell
    // with it: a refresh hides the ID column after the rows have arrived.
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        const QModelIndex current = currentIndex();
        if (size == 0 && current.isValid() && current.column() == column) {
            const int shown = firstShownColumn();
            if (shown >= 0)
                moveCurrentCell(current.row(), shown);
        }
    });
    // Wired once here: the windows only say which menu.
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (m_popupMenu)
            m_popupMenu->popup(viewport()->mapToGlobal(at));
    });
}

void DBGrid::setPopupMenu(QMenu* menu)
{
    m_popupMenu = menu;
    setContextMenuPolicy(menu ? Qt::CustomContextMenu : Qt::DefaultContextMenu);
}

bool DBGrid::isColumnShown(int column) const
{
    return !isColumnHidden(column) && columnWidth(column) > 0;
}

int DBGrid::firstShownColumn() const
{
    for (int column = 0; m_model && column < m_model->columnCount(); ++column)
        if (isColumnShown(column))
            return column;
    return -1;
}

void DBGrid::moveCurrentCell(int row, int column)
{
    const QModelIndex index = m_model->index(row, column);
    setCurrentIndex(index);
    scrollTo(index);
}

void DBGrid::setQuery(Query* query)
{
    QueryModel* old = m_model;
    m_model = new QueryModel(query, this);
    setModel(m_model);
    delete old;
    connect(query, &Query::currentChanged, this, &DBGrid::followQuery);
    connect(query, &Query::rowsReset, this, [this, query] { followQuery(query->recNo()); });
    connect(query, &Query::reordered, this, [this, query] { followQuery(query->recNo()); });
    followQuery(query->recNo());
}

Query* DBGrid::query() const
{
    return m_model ? m_model->query() : nullptr;
}

void DBGrid::titleClick(int column)
{
    Query* q = query();
    if (!q || !q->isActive())
        return;
    // Every title plain first; then the clicked one marks its new direction.
    m_model->clearTitleMarks();
    const QString field = q->rows().columns().at(column);
    if (q->sort() == field + QStringLiteral(" ASC")) {
        q->setSort(field + QStringLiteral(" DESC"));
        m_model->setTitleMark(column, QueryModel::TitleMark::Descending);
    } else {
        q->setSort(field + QStringLiteral(" ASC"));
        m_model->setTitleMark(column, QueryModel::TitleMark::Ascending);
    }
}

void DBGrid::followQuery(int recNo)
{
    if (m_syncing || !m_model)
        return;
    m_syncing = true;
    if (recNo <= 0) {
        setCurrentIndex({});
    } else {
        // Stay in the current column while it can be seen; else the first one that can.
        int column = currentIndex().isValid() ? currentIndex().column() : 0;
        if (!isColumnShown(column))
            column = std::max(firstShownColumn(), 0);
        moveCurrentCell(recNo - 1, column);
    }
    m_syncing = false;
}

void DBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (m_syncing || !current.isValid() || !query() || !query()->isActive())
        return;
    m_syncing = true;
    query()->setRecNo(current.row() + 1);
    m_syncing = false;
}

void DBGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
        emit rowDoubleClicked();
}

} // namespace ostrel

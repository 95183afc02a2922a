#include "db_grid.h"

#include "query.h"
#include "query_model.h"

#include <QHeaderView>
#include <QMouseEvent>

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
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &DBGrid::titleClick);
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
        int column = currentIndex().isValid() ? currentIndex().column() : 0;
        while (column < m_model->columnCount() - 1 && isColumnHidden(column))
            ++column;
        const QModelIndex index = m_model->index(recNo - 1, column);
        setCurrentIndex(index);
        scrollTo(index);
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

#include "query_model.h"

#include "engine/query.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QToolTip>

namespace ostrel {

QueryModel::QueryModel(Query* query, QObject* parent) : QAbstractTableModel(parent), m_query(query)
{
    connect(query, &Query::aboutToReset, this, [this] { beginResetModel(); });
    connect(query, &Query::rowsReset, this, [this] {
        // A fresh run of the query brings the statement's order and plain titles back.
        m_marks.assign(static_cast<size_t>(m_query->rows().columnCount()), TitleMark::Plain);
        m_currentRow = m_query->recNo() - 1;
        endResetModel();
    });
    connect(query, &Query::aboutToReorder, this, [this] { emit layoutAboutToBeChanged(); });
    connect(query, &Query::reordered, this, [this] { emit layoutChanged(); });
    connect(query, &Query::currentChanged, this, &QueryModel::onCurrentChanged);
    m_marks.assign(static_cast<size_t>(query->rows().columnCount()), TitleMark::Plain);
}

int QueryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_query ? 0 : m_query->rows().rowCount();
}

int QueryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_query ? 0 : m_query->rows().columnCount();
}

QColor QueryModel::shade(int recNo)
{
    return recNo % 2 == 1 ? QColor(191, 255, 223) : QToolTip::palette().color(QPalette::ToolTipBase);
}

QString shownText(std::string_view cell)
{
    if (cell.size() <= kShownCellBytes)
        return QString::fromUtf8(cell);
    size_t end = kShownCellBytes;
    while (end > 0 && (static_cast<unsigned char>(cell[end]) & 0xC0) == 0x80)
        --end; // never split a character
    return QString::fromUtf8(cell.substr(0, end)) + u'…';
}

QVariant QueryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !m_query)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return shownText(m_query->rows().raw(index.row(), index.column()));
    case Qt::BackgroundRole:
        // The record number follows the order shown, sorted or not.
        return shade(index.row() + 1);
    default:
        return {};
    }
}

QVariant QueryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        // The row indicator marks the current row.
        if (role == Qt::DisplayRole)
            return section == m_currentRow ? QStringLiteral("▶") : QString();
        return {};
    }
    if (!m_query || section < 0 || section >= m_query->rows().columnCount())
        return {};
    const TitleMark mark = titleMark(section);
    switch (role) {
    case Qt::DisplayRole:
        return m_query->rows().columns().at(section);
    case Qt::ForegroundRole:
        if (mark == TitleMark::Ascending)
            return QColor(255, 0, 0);
        if (mark == TitleMark::Descending)
            return QColor(0, 0, 255);
        return QApplication::palette().color(QPalette::WindowText);
    case Qt::FontRole: {
        QFont font;
        font.setBold(mark != TitleMark::Plain);
        return font;
    }
    default:
        return {};
    }
}

QueryModel::TitleMark QueryModel::titleMark(int column) const
{
    return column >= 0 && static_cast<size_t>(column) < m_marks.size() ? m_marks[static_cast<size_t>(column)]
                                                                          : TitleMark::Plain;
}

void QueryModel::setTitleMark(int column, TitleMark mark)
{
    if (column < 0 || static_cast<size_t>(column) >= m_marks.size())
        return;
    m_marks[static_cast<size_t>(column)] = mark;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void QueryModel::clearTitleMarks()
{
    std::fill(m_marks.begin(), m_marks.end(), TitleMark::Plain);
    if (!m_marks.empty())
        emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(m_marks.size()) - 1);
}

void QueryModel::onCurrentChanged(int recNo)
{
    const int old = m_currentRow;
    m_currentRow = recNo - 1;
    if (old >= 0 && old < rowCount())
        emit headerDataChanged(Qt::Vertical, old, old);
    if (m_currentRow >= 0)
        emit headerDataChanged(Qt::Vertical, m_currentRow, m_currentRow);
}

} // namespace ostrel

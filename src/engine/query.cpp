#include "engine/query.h"

#include "engine/engine_error.h"

#include <algorithm>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace ostrel {

Query::Query(Connection* connection, QObject* parent) : QObject(parent), m_connection(connection) {}

void Query::run(const QString& sql)
{
    close();
    setSql(sql);
    open();
}

void Query::open()
{
    if (!m_connection)
        throw EngineError(QStringLiteral("%1: 没有连接").arg(objectName()));
    close();
    ResultSet rows = m_paged ? m_connection->selectPaged(m_sql) : m_connection->select(m_sql);
    m_active = true;
    showRows(std::move(rows));
}

ResultSet Query::showRows(ResultSet rows, const QString& sort)
{
    emit aboutToReset();
    ResultSet shown = std::exchange(m_rows, std::move(rows));
    m_sort = sort;
    m_pos = 0;
    m_bof = true;
    m_eof = m_rows.rowCount() == 0;
    emit rowsReset();
    emit currentChanged(recNo());
    return shown;
}

void Query::showOnly(std::vector<int64_t> ids)
{
    requireActive();
    if (m_narrowed) {
        showRows(m_statementRows.withIds(std::move(ids)));
        return;
    }
    m_statementSort = m_sort;
    m_narrowed = true;
    // Kept, not copied: a long list's IDs and order would be held twice.
    m_statementRows = showRows(m_rows.withIds(std::move(ids)));
}

void Query::showAll()
{
    if (!m_narrowed)
        return;
    m_narrowed = false;
    showRows(std::exchange(m_statementRows, ResultSet()), m_statementSort);
}

std::shared_ptr<const std::vector<int64_t>> Query::statementIds() const
{
    requireActive();
    return (m_narrowed ? m_statementRows : m_rows).shownIdList();
}

void Query::close()
{
    if (!m_active)
        return;
    emit aboutToReset();
    m_active = false;
    m_rows = ResultSet();
    m_statementRows = ResultSet();
    m_narrowed = false;
    m_sort.clear();
    m_pos = 0;
    m_eof = m_bof = true;
    emit rowsReset();
}

int Query::exec(const QString& sql)
{
    if (!m_connection)
        throw EngineError(QStringLiteral("%1: 没有连接").arg(objectName()));
    close();
    setSql(sql);
    return m_connection->execute(sql);
}

int Query::countRows(const QString& sql)
{
    if (!m_connection)
        throw EngineError(QStringLiteral("%1: 没有连接").arg(objectName()));
    close();
    setSql(sql);
    return m_connection->countRows(sql);
}

void Query::requireActive() const
{
    if (!m_active)
        throw EngineError(QStringLiteral("%1: 数据集没有打开，无法执行此操作")
                              .arg(objectName().isEmpty() ? QStringLiteral("Query") : objectName()));
}

void Query::moveTo(int position)
{
    const int old = m_pos;
    m_pos = position;
    if (old != m_pos)
        emit currentChanged(recNo());
}

void Query::first()
{
    requireActive();
    m_bof = true;
    m_eof = m_rows.rowCount() == 0;
    moveTo(0);
}

void Query::last()
{
    requireActive();
    m_eof = true;
    m_bof = m_rows.rowCount() == 0;
    moveTo(std::max(0, m_rows.rowCount() - 1));
}

void Query::next()
{
    requireActive();
    if (m_pos + 1 < m_rows.rowCount()) {
        m_bof = false;
        moveTo(m_pos + 1);
    } else {
        m_eof = true;
    }
}

void Query::prior()
{
    requireActive();
    if (m_pos > 0) {
        m_eof = false;
        moveTo(m_pos - 1);
    } else {
        m_bof = true;
    }
}

int Query::recordCount() const
{
    requireActive();
    return m_rows.rowCount();
}

int Query::recNo() const
{
    return m_active && m_rows.rowCount() > 0 ? m_pos + 1 : 0;
}

void Query::setRecNo(int recNo)
{
    requireActive();
    if (recNo < 1 || recNo > m_rows.rowCount())
        return;
    m_bof = m_eof = false;
    moveTo(recNo - 1);
}

int Query::fieldIndex(const QString& field) const
{
    requireActive();
    const int index = m_rows.columnIndex(field);
    if (index < 0)
        throw EngineError(QStringLiteral("%1: 找不到字段 '%2'")
                              .arg(objectName().isEmpty() ? QStringLiteral("Query") : objectName(), field));
    return index;
}

QString Query::text(const QString& field) const
{
    const int column = fieldIndex(field);
    return m_rows.rowCount() == 0 ? QString() : m_rows.text(m_pos, column);
}

qint64 Query::integer(const QString& field) const
{
    const QString value = text(field);
    if (value.isEmpty())
        return 0;
    bool ok = false;
    const qint64 number = value.toLongLong(&ok);
    if (!ok)
        throw EngineError(QStringLiteral("'%1' 不是有效的整数值").arg(value));
    return number;
}

bool Query::yesNo(const QString& field) const
{
    const QString value = text(field);
    return !value.isEmpty() && value != u"0" && value.compare(u"False", Qt::CaseInsensitive) != 0;
}

void Query::setSort(const QString& sortText)
{
    requireActive();
    const QString trimmed = sortText.trimmed();
    const int blank = trimmed.lastIndexOf(u' ');
    const QString direction = blank < 0 ? QString() : trimmed.mid(blank + 1);
    const bool descending = direction.compare(u"DESC", Qt::CaseInsensitive) == 0;
    const bool hasDirection = descending || direction.compare(u"ASC", Qt::CaseInsensitive) == 0;
    const int column = trimmed.isEmpty() ? -1 : fieldIndex(hasDirection ? trimmed.left(blank).trimmed() : trimmed);

    const int storage = m_rows.rowCount() > 0 ? m_rows.storageRow(m_pos) : -1;
    emit aboutToReorder();
    if (column < 0)
        m_rows.unsort();
    else
        m_rows.sortBy(column, descending);
    // A long list's sort freed its keys among the heap's other blocks: given back now, they
    // are not counted again beside what the next work takes.
#ifdef __GLIBC__
    if (m_rows.isPaged() && column >= 0)
        malloc_trim(0);
#endif
    m_sort = sortText;
    // The current row stays the same row, at its new place.
    m_pos = storage < 0 ? 0 : m_rows.displayRow(storage);
    emit reordered();
    emit currentChanged(recNo());
}

} // namespace ostrel

#include "lookup_combo.h"

#include "engine/query.h"

namespace ostrel {

DBLookupComboBox::DBLookupComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(false);
    setMaxVisibleItems(20);
}

void DBLookupComboBox::setListSource(Query* query, const QString& keyField)
{
    if (m_query)
        disconnect(m_query, nullptr, this, nullptr);
    m_query = query;
    m_keyField = keyField;
    connect(query, &Query::rowsReset, this, &DBLookupComboBox::reload);
    reload();
}

void DBLookupComboBox::reload()
{
    // Closing the shared query before it runs again must not lose the choice.
    if (!m_query || !m_query->isActive())
        return;
    const QString chosen = text();
    const ResultSet& rows = m_query->rows();
    const int column = rows.columnIndex(m_keyField);
    QStringList items;
    for (int r = 0; column >= 0 && r < rows.rowCount(); ++r)
        items << rows.text(r, column);
    clear();
    addItems(items);
    setKeyValue(chosen);
}

void DBLookupComboBox::setKeyValue(const QString& value)
{
    setCurrentIndex(value.isEmpty() ? -1 : findText(value, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

QString DBLookupComboBox::text() const
{
    return currentIndex() < 0 ? QString() : currentText();
}

void DBLookupComboBox::mousePressEvent(QMouseEvent* event)
{
    emit clicked();
    QComboBox::mousePressEvent(event);
}

} // namespace ostrel

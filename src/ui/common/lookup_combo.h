#pragma once
#include <QComboBox>
#include <QPointer>

#include "engine/query.h"

namespace ostrel {

// A picker over one column of a shared query: lists its values in the query's order,
// shows the chosen one, and reads back the empty text when nothing (or a value no longer
// listed) is chosen. When the shared query runs again the list follows it.
class DBLookupComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit DBLookupComboBox(QWidget* parent = nullptr);

    void setListSource(Query* query, const QString& keyField);
    // Preselects the value; one not in the list leaves the box empty.
    void setKeyValue(const QString& value);
    QString text() const;

signals:
    // A click into the box (the main window ticks its condition on it).
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void reload();

    QPointer<Query> m_query;
    QString m_keyField;
};

} // namespace ostrel

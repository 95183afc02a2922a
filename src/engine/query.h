#pragma once
#include "engine/connection.h"
#include "engine/result_set.h"

#include <QObject>
#include <QString>

#include <vector>

namespace ostrel {

// A statement bound to a connection with its open rows and a current row, as every window
// uses it: bind, close, replace the text, open; or run a command. Moving past the last
// row sets end-of-rows and leaves the current row on the last one.
class Query : public QObject {
    Q_OBJECT
public:
    explicit Query(Connection* connection = nullptr, QObject* parent = nullptr);

    void setConnection(Connection* connection) { m_connection = connection; }
    Connection* connection() const { return m_connection; }

    // A paged query keeps only its rows' IDs and reads the cells of the rows looked at
    // when they are needed (Connection::selectPaged): for lists of very many rows.
    void setPaged(bool paged) { m_paged = paged; }

    const QString& sql() const { return m_sql; }
    void setSql(const QString& sql) { m_sql = sql; }

    // Close, replace the text, open: the rows are read and the first is current.
    void run(const QString& sql);
    void open();
    void close();
    bool isActive() const { return m_active; }
    // Closes the rows and runs the text as a command; returns the rows it changed.
    int exec(const QString& sql);
    // Closes the rows and returns how many rows the text selects, without keeping them.
    int countRows(const QString& sql);

    void first();
    void last();
    void next();
    void prior();
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }
    int recordCount() const;
    // The current row's number from 1; 0 when there is none.
    int recNo() const;
    void setRecNo(int recNo);

    // The current row's column by name. An empty value, or no row at all, reads as the
    // empty text. A closed query or an unknown name throws EngineError.
    QString text(const QString& field) const;
    qint64 integer(const QString& field) const;
    bool yesNo(const QString& field) const;

    // "name ASC" or "name DESC"; the empty text restores the statement's order.
    QString sort() const { return m_sort; }
    void setSort(const QString& sortText);

    const ResultSet& rows() const { return m_rows; }

    // Shows only the statement's rows with these IDs, in this order (a paged query). The
    // statement's rows are kept: the next call narrows them anew and showAll() shows them
    // again. Both end a title-click sort and make the first row current.
    void showOnly(std::vector<int64_t> ids);
    void showAll();
    bool isNarrowed() const { return m_narrowed; }
    // The IDs of the statement's rows in the order they were shown before any narrowing;
    // lent, not copied, while that is the statement's own order.
    std::shared_ptr<const std::vector<int64_t>> statementIds() const;

signals:
    // The rows are about to be replaced or closed, and have been.
    void aboutToReset();
    void rowsReset();
    // The rows are about to be reordered by a sort, and have been.
    void aboutToReorder();
    void reordered();
    // The current row moved.
    void currentChanged(int recNo);

private:
    void requireActive() const;
    int fieldIndex(const QString& field) const;
    void moveTo(int position);
    // Returns the rows shown until now.
    ResultSet showRows(ResultSet rows, const QString& sort = {});

    Connection* m_connection = nullptr;
    QString m_sql;
    ResultSet m_rows;
    ResultSet m_statementRows; // while narrowed: the statement's rows and their sort
    QString m_statementSort;
    bool m_narrowed = false;
    bool m_paged = false;
    bool m_active = false;
    int m_pos = 0;
    bool m_eof = true;
    bool m_bof = true;
    QString m_sort;
};

} // namespace ostrel

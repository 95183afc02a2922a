// Long lists of the file read a page at a time (see ResultSet::paged).
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "engine/sqlcipher/sqlcipher_support.h"

#include "engine/sql_text.h"

#include <sqlcipher/sqlite3.h>

#include <algorithm>

namespace ostrel {

using namespace sqlcipher;

// Its statements wrap the list's own statement, so its filter and order hold unchanged; the
// engine flattens the wrapper, so reading the IDs touches the ID index alone and a page is a
// handful of lookups by ID.
class SqlCipherConnection::ListPager : public RowSource {
public:
    static constexpr int kPageIds = 64;

    ListPager(SqlCipherConnection& connection, const QString& sql, const QStringList& columns)
        : m_connection(connection), m_sql(QStringLiteral("(") + sql + QStringLiteral(") AS w")), m_columns(columns)
    {
        QString marks;
        for (int i = 0; i < kPageIds; ++i)
            marks += i == 0 ? QStringLiteral("?") : QStringLiteral(",?");
        m_pageSql = QStringLiteral("select * from ") + m_sql + QStringLiteral(" where ") + columnName(0)
            + QStringLiteral(" in (") + marks + u')';
    }

    std::vector<int64_t> readIds() override
    {
        // The list's whole index, read at each refresh: kept in the cache, its pages would
        // stay beside the window's memory for the rest of the session.
        const PassingRead passing(m_connection);
        std::vector<int64_t> ids;
        const auto statement = m_connection.prepare(QStringLiteral("select ") + columnName(0) + QStringLiteral(" from ") + m_sql);
        while (statement->step())
            ids.push_back(statement->integer(0));
        return ids;
    }

    void fetchRows(const std::vector<int64_t>& ids, ResultSet& page) override
    {
        const auto statement = m_connection.prepare(m_pageSql);
        for (size_t from = 0; from < ids.size(); from += kPageIds) {
            const size_t count = std::min(ids.size() - from, static_cast<size_t>(kPageIds));
            for (size_t i = 0; i < static_cast<size_t>(kPageIds); ++i) {
                if (i < count)
                    statement->bind(static_cast<int>(i) + 1, ids[from + i]);
                else
                    statement->bindNull(static_cast<int>(i) + 1);
            }
            // The rows come in the list's order; the page wants the order it asked in.
            ResultSet found(m_columns);
            std::vector<int64_t> foundIds;
            while (statement->step()) {
                foundIds.push_back(statement->integer(0));
                for (int c = 0; c < m_columns.size(); ++c)
                    found.addCell(statement->utf8(c), statement->isNumber(c));
                found.endRow();
            }
            for (size_t i = 0; i < count; ++i) {
                const auto at = std::find(foundIds.begin(), foundIds.end(), ids[from + i]);
                for (int c = 0; c < m_columns.size(); ++c)
                    page.addCell(at == foundIds.end() ? std::string_view() : found.raw(static_cast<int>(at - foundIds.begin()), c),
                                 true);
                page.endRow();
            }
        }
    }

    void readColumn(int column, const ColumnSink& take) override
    {
        // Every row of the list, once (a sort): the values it takes are memory enough.
        const PassingRead passing(m_connection);
        const auto statement = m_connection.prepare(QStringLiteral("select ") + columnName(0) + u',' + columnName(column)
                                                    + QStringLiteral(" from ") + m_sql);
        while (statement->step())
            take(statement->integer(0), statement->utf8(1), statement->isNumber(1));
    }

private:
    // The engine tells apart columns of the same name in a subquery as "name:1", "name:2".
    QString columnName(int column) const
    {
        int earlier = 0;
        for (int c = 0; c < column; ++c)
            earlier += m_columns[c].compare(m_columns[column], Qt::CaseInsensitive) == 0 ? 1 : 0;
        return quotedName(earlier == 0 ? m_columns[column] : m_columns[column] + u':' + QString::number(earlier));
    }

    SqlCipherConnection& m_connection;
    QString m_sql;
    QStringList m_columns;
    QString m_pageSql;
};

ResultSet SqlCipherConnection::selectPaged(const QString& sql)
{
    sqlite3* db = handle();
    QStringList names;
    {
        Statement stmt(db, sql);
        for (int c = 0; c < sqlite3_column_count(stmt.get()); ++c)
            names << QString::fromUtf8(sqlite3_column_name(stmt.get(), c));
    }
    if (names.isEmpty())
        return select(sql);
    return ResultSet::paged(names, std::make_shared<ListPager>(*this, sql, names));
}

} // namespace ostrel

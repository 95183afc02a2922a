// Long lists of the server read a page at a time (see ResultSet::paged).
#include "engine/postgres/pg_connection.h"
#include "engine/postgres/pg_support.h"

#include "engine/sql_text.h"

#include <libpq-fe.h>

#include <algorithm>

namespace ostrel {

using namespace postgres;

// Its statements wrap the list's own statement, with the columns renamed k, c1, c2 …, so
// its filter and order hold and two columns of the same name stay apart; the server pushes
// the ID condition of a page into the list's statement, so a page is a few lookups by the
// card ID.
class PgConnection::ListPager : public RowSource {
public:
    ListPager(PgConnection& connection, const QString& sql, const QStringList& columns)
        : m_connection(connection), m_columns(columns)
    {
        QString names = QStringLiteral("k");
        for (int c = 1; c < columns.size(); ++c)
            names += QStringLiteral(", c") + QString::number(c);
        m_from = QStringLiteral(" from (") + sql + QStringLiteral(") AS w(") + names + u')';
    }

    std::vector<int64_t> readIds() override
    {
        std::vector<int64_t> ids;
        const Result result = m_connection.run(QStringLiteral("select k") + m_from, true);
        const int count = PQntuples(result.get());
        ids.reserve(static_cast<size_t>(count));
        for (int r = 0; r < count; ++r)
            ids.push_back(bigEndian(PQgetvalue(result.get(), r, 0), PQgetlength(result.get(), r, 0)));
        return ids;
    }

    void fetchRows(const std::vector<int64_t>& ids, ResultSet& page) override
    {
        const auto statement = m_connection.prepare(QStringLiteral("select *") + m_from + QStringLiteral(" where k = any(?1::bigint[])"));
        statement->bind(1, QString::fromLatin1(arrayText(ids)));
        // The rows come in the list's order; the page wants the order it asked in.
        ResultSet found(m_columns);
        std::vector<std::pair<int64_t, int>> foundIds;
        while (statement->step()) {
            foundIds.emplace_back(statement->integer(0), static_cast<int>(foundIds.size()));
            for (int c = 0; c < m_columns.size(); ++c)
                found.addCell(statement->utf8(c), true);
            found.endRow();
        }
        std::sort(foundIds.begin(), foundIds.end());
        for (int64_t id : ids) {
            const auto at = std::lower_bound(foundIds.begin(), foundIds.end(), std::pair<int64_t, int>(id, 0));
            const bool there = at != foundIds.end() && at->first == id;
            for (int c = 0; c < m_columns.size(); ++c)
                page.addCell(there ? found.raw(at->second, c) : std::string_view(), true);
            page.endRow();
        }
    }

    void readColumn(int column, const ColumnSink& take) override
    {
        const Result result = m_connection.run(QStringLiteral("select k, ") + (column == 0 ? QStringLiteral("k") : QStringLiteral("c%1").arg(column))
                                               + m_from);
        for (int r = 0; r < PQntuples(result.get()); ++r)
            take(toInteger(cellText(result.get(), r, 0)), cellText(result.get(), r, 1), isNumberCell(result.get(), r, 1));
    }

private:
    // An int8 in the server's binary form; an ID of another integer type is read by its size.
    static int64_t bigEndian(const char* data, int length)
    {
        uint64_t value = 0;
        for (int i = 0; i < length; ++i)
            value = (value << 8) | static_cast<unsigned char>(data[i]);
        if (length > 0 && length < 8 && (static_cast<unsigned char>(data[0]) & 0x80))
            value |= ~uint64_t(0) << (length * 8);
        return static_cast<int64_t>(value);
    }

    PgConnection& m_connection;
    QStringList m_columns;
    QString m_from;
};

ResultSet PgConnection::selectPaged(const QString& sql)
{
    handle();
    // The columns of the list without running it.
    checked(PQprepare(m_conn, "", adaptServerSql(sql, m_rules.names).toUtf8().constData(), 0, nullptr));
    const Result described = checked(PQdescribePrepared(m_conn, ""));
    const QStringList names = columnNames(described.get());
    if (names.isEmpty())
        return select(sql);
    return ResultSet::paged(names, std::make_shared<ListPager>(*this, sql, names));
}

} // namespace ostrel

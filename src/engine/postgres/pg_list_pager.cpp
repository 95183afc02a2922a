// Long lists of the server read a page at a time (see ResultSet::paged).
#include "engine/postgres/pg_connection.h"
#include "engine/postgres/pg_support.h"

#include "engine/sql_text.h"
#include "engine/transaction.h"

#include <libpq-fe.h>

#include <algorithm>
#include <functional>
#include <optional>

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
        readInLots(QStringLiteral("k"), true, [&](const pg_result* lot) { appendIds(lot, ids); });
        return ids;
    }

    // Which of cards the list holds now, in the list's order.
    std::vector<int64_t> listedAmong(const std::vector<int64_t>& cards)
    {
        const QByteArray values = arrayText(cards);
        const char* parameters[] = {values.constData()};
        const QString sql = adaptServerSql(QStringLiteral("select k") + m_from, m_connection.m_rules.names)
            + QStringLiteral(" where k = any($1::bigint[])");
        return idsOf(m_connection.checked(
            PQexecParams(m_connection.handle(), sql.toUtf8().constData(), 1, nullptr, parameters, nullptr, nullptr, 1)));
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
        readInLots(QStringLiteral("k, ") + (column == 0 ? QStringLiteral("k") : QStringLiteral("c%1").arg(column)), false,
                   [&](const pg_result* lot) {
                       for (int r = 0, rows = PQntuples(lot); r < rows; ++r)
                           take(toInteger(cellText(lot, r, 0)), cellText(lot, r, 1), isNumberCell(lot, r, 1));
                   });
    }

private:
    // The list's columns in lots through a cursor: a million cards in one result would sit
    // whole in memory (40 MB for their IDs alone, 70 MB for a column of names beside the sort
    // keys made of it).
    void readInLots(const QString& columns, bool binary, const std::function<void(const pg_result*)>& take)
    {
        constexpr int kLot = 20000;
        std::optional<Transaction> own;
        if (!m_connection.inTransaction())
            own.emplace(m_connection); // a cursor lives in a transaction
        m_connection.run(QStringLiteral("declare ostrel_list_lots no scroll cursor for select ") + columns + m_from);
        for (int rows = kLot; rows == kLot;) {
            const Result lot = m_connection.run(QStringLiteral("fetch %1 from ostrel_list_lots").arg(kLot), binary);
            rows = PQntuples(lot.get());
            take(lot.get());
        }
        m_connection.run(QStringLiteral("close ostrel_list_lots"));
        if (own)
            own->commit();
    }

    static void appendIds(const pg_result* result, std::vector<int64_t>& ids)
    {
        for (int r = 0, count = PQntuples(result); r < count; ++r)
            ids.push_back(bigEndian(PQgetvalue(result, r, 0), PQgetlength(result, r, 0)));
    }

    static std::vector<int64_t> idsOf(const Result& result)
    {
        std::vector<int64_t> ids;
        ids.reserve(static_cast<size_t>(PQntuples(result.get())));
        appendIds(result.get(), ids);
        return ids;
    }

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

namespace {

// ids (descending) without the changed cards, with those of them listed now (descending).
std::vector<int64_t> patchedIds(const std::vector<int64_t>& ids, std::vector<int64_t> changed,
                                const std::vector<int64_t>& listed)
{
    std::sort(changed.begin(), changed.end(), std::greater<>());
    std::vector<int64_t> patched;
    patched.reserve(ids.size() + listed.size());
    size_t c = 0, l = 0;
    for (int64_t id : ids) {
        while (l < listed.size() && listed[l] > id)
            patched.push_back(listed[l++]);
        while (c < changed.size() && changed[c] > id)
            ++c;
        if (c == changed.size() || changed[c] != id)
            patched.push_back(id);
    }
    patched.insert(patched.end(), listed.begin() + static_cast<ptrdiff_t>(l), listed.end());
    return patched;
}

} // namespace

QStringList PgConnection::listColumns(const QString& sql)
{
    handle();
    // The columns of the list without running it.
    checked(PQprepare(m_conn, "", adaptServerSql(sql, m_rules.names).toUtf8().constData(), 0, nullptr));
    const Result described = checked(PQdescribePrepared(m_conn, ""));
    return columnNames(described.get());
}

ResultSet PgConnection::selectPaged(const QString& sql)
{
    const bool followed = m_followed.changes && sql == m_followed.sql;
    const QStringList names = followed && !m_followed.columns.isEmpty() ? m_followed.columns : listColumns(sql);
    if (names.isEmpty())
        return select(sql);
    auto pager = std::make_shared<ListPager>(*this, sql, names);
    if (!followed)
        return ResultSet::paged(names, pager);
    m_followed.columns = names;
    return followedList(pager);
}

void PgConnection::followList(const QString& sql, const std::function<ChangesSince()>& makeChanges)
{
    if (!m_followed.asked) {
        m_followed.asked = true;
        m_followed.changes = makeChanges();
    }
    if (sql != m_followed.sql) {
        m_followed.sql = sql;
        m_followed.columns.clear();
        m_followed.moment.clear();
        m_followed.ids.reset();
    }
}

ResultSet PgConnection::followedList(const std::shared_ptr<ListPager>& pager)
{
    Followed& f = m_followed;
    if (!f.moment.isEmpty()) {
        const ChangedRows changed = f.changes(f.moment);
        if (changed.known) {
            // Read after the moment the changes were: a card changed in between is looked at
            // again next time, and a card's place in the list depends on its row alone.
            if (!changed.ids.empty())
                f.ids = std::make_shared<const std::vector<int64_t>>(
                    patchedIds(*f.ids, changed.ids, pager->listedAmong(changed.ids)));
            f.moment = changed.moment;
            return ResultSet::paged(f.columns, f.ids, pager);
        }
    }
    // The moment before the read: what is committed in between is read now and looked at
    // again next time.
    // Kept only once the read is done: after a failed read nothing is patched from it.
    f.moment.clear();
    const QString moment = f.changes(QString()).moment;
    f.ids = std::make_shared<const std::vector<int64_t>>(pager->readIds());
    // Not in ID order: nothing to patch.
    if (std::adjacent_find(f.ids->begin(), f.ids->end(), std::less_equal<>()) == f.ids->end())
        f.moment = moment;
    return ResultSet::paged(f.columns, f.ids, pager);
}

} // namespace ostrel

// The server engine's prepared statements: prepared once per connection on the server
// (PgConnection::keptStatement), their rows read whole, so two statements of one text never
// share their rows.
#include "engine/postgres/pg_connection.h"
#include "engine/postgres/pg_support.h"

#include "engine/engine_error.h"
#include "engine/sql_text.h"

#include <libpq-fe.h>

#include <algorithm>

namespace ostrel {

using namespace postgres;

namespace {

// The value as the server takes it: text, without NUL characters (as the file stores it).
QByteArray valueText(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    utf8.replace(QByteArrayView("\0", 1), QByteArrayView());
    return utf8;
}

} // namespace

class PgStatement final : public PreparedStatement {
public:
    PgStatement(PgConnection& connection, const QString& sql) : m_connection(connection), m_sql(sql), m_closes(connection.m_closes)
    {
        prepareOnServer();
    }

    void bind(int position, const QString& text) override { value(position) = valueText(text); }
    void bind(int position, int64_t number) override { value(position) = QByteArray::number(static_cast<qlonglong>(number)); }
    // The text form a bytea takes.
    void bindBytes(int position, const QByteArray& bytes) override { value(position) = "\\x" + bytes.toHex(); }
    void bindNull(int position) override
    {
        value(position).clear();
        m_null[static_cast<size_t>(position - 1)] = true;
    }
    bool step() override
    {
        if (!m_result) {
            m_result = runOnServer();
            m_row = -1;
        }
        return ++m_row < PQntuples(m_result.get());
    }
    std::string_view utf8(int column) const override { return cellText(atColumn(column), m_row, column); }
    int64_t integer(int column) const override { return toInteger(utf8(column)); }
    bool isNumber(int column) const override { return isNumberCell(atColumn(column), m_row, column); }
    int columnCount() const override { return m_columns; }
    int exec() override
    {
        const PgConnection::Result result = runOnServer();
        m_result.reset();
        return PQresultStatus(result.get()) == PGRES_TUPLES_OK ? 0 : static_cast<int>(toInteger(PQcmdTuples(result.get())));
    }
    void reset() override
    {
        live();
        m_result.reset();
    }

private:
    void live() const
    {
        if (m_closes != m_connection.m_closes)
            throw EngineError(QStringLiteral("数据库连接已关闭，预备的语句不能再用"));
    }
    // The value at the position, for binding anew: the next step runs the statement again.
    QByteArray& value(int position)
    {
        live();
        if (position < 1 || position > static_cast<int>(m_values.size()))
            throw EngineError(QStringLiteral("语句没有第 %1 个参数").arg(position));
        m_result.reset();
        m_null[static_cast<size_t>(position - 1)] = false;
        return m_values[static_cast<size_t>(position - 1)];
    }
    const PGresult* atColumn(int column) const
    {
        if (!m_result || m_row < 0 || m_row >= PQntuples(m_result.get()) || column < 0 || column >= PQnfields(m_result.get()))
            throw EngineError(QStringLiteral("语句的当前行没有编号为 %1 的列").arg(column));
        return m_result.get();
    }
    void prepareOnServer()
    {
        live();
        const PgConnection::Kept kept = m_connection.keptStatement(m_sql);
        m_name = kept.name;
        m_columns = kept.columns;
        m_session = m_connection.m_session;
        m_values.resize(static_cast<size_t>(kept.parameters));
        m_null.resize(m_values.size(), false);
    }
    PgConnection::Result runOnServer()
    {
        live();
        m_connection.handle();
        // A new connection (the old one was lost) knows no statement of the old one.
        if (m_session != m_connection.m_session || !m_connection.isKept(m_name))
            prepareOnServer();
        // The values as libpq takes them: each a pointer and a length, all text.
        std::vector<const char*> pointers;
        std::vector<int> lengths;
        for (size_t i = 0; i < m_values.size(); ++i) {
            pointers.push_back(m_null[i] ? nullptr : m_values[i].constData());
            lengths.push_back(static_cast<int>(m_values[i].size()));
        }
        return m_connection.checked(PQexecPrepared(m_connection.m_conn, m_name.constData(), static_cast<int>(m_values.size()),
                                                   pointers.data(), lengths.data(), nullptr, 0));
    }

    PgConnection& m_connection;
    QString m_sql;
    int m_closes;
    int m_session = 0;
    QByteArray m_name;
    int m_columns = 0;
    std::vector<QByteArray> m_values;
    std::vector<bool> m_null; // bound as a missing value
    PgConnection::Result m_result;
    int m_row = -1;
};

std::unique_ptr<PreparedStatement> PgConnection::prepare(const QString& sql)
{
    return std::make_unique<PgStatement>(*this, sql);
}

PgConnection::Kept PgConnection::keptStatement(const QString& sql)
{
    pg_conn* conn = handle();
    const auto found = std::find_if(m_kept.begin(), m_kept.end(), [&](const Kept& kept) { return kept.sql == sql; });
    if (found != m_kept.end()) {
        std::rotate(found, found + 1, m_kept.end());
        return m_kept.back();
    }
    // The lists and the engine's own helpers use a few dozen texts; older ones are let go.
    constexpr size_t kKept = 32;
    if (m_kept.size() >= kKept) {
        run(QStringLiteral("DEALLOCATE ") + QString::fromLatin1(m_kept.front().name));
        m_kept.erase(m_kept.begin());
    }
    Kept kept{sql, "ostrel_" + QByteArray::number(++m_nextName)};
    checked(PQprepare(conn, kept.name.constData(), adaptServerSql(sql, m_rules.names).toUtf8().constData(), 0, nullptr));
    // Asked once per text: each statement of the text knows its values and columns then.
    const Result described = checked(PQdescribePrepared(conn, kept.name.constData()));
    kept.parameters = PQnparams(described.get());
    kept.columns = PQnfields(described.get());
    m_kept.push_back(kept);
    return kept;
}

bool PgConnection::isKept(const QByteArray& name) const
{
    return std::any_of(m_kept.begin(), m_kept.end(), [&](const Kept& kept) { return kept.name == name; });
}

} // namespace ostrel

// The file engine's prepared statements and the one cache they come from.
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "engine/sqlcipher/sqlcipher_support.h"

#include <sqlcipher/sqlite3.h>

#include <QByteArray>

#include <algorithm>
#include <utility>
#include <vector>

namespace ostrel {

using namespace sqlcipher;

class SqlCipherStatement final : public PreparedStatement {
public:
    SqlCipherStatement(SqlCipherConnection& connection, const QString& sql)
        : m_connection(&connection), m_db(connection.handle()), m_sql(sql), m_stmt(connection.takeStatement(sql)),
          m_values(static_cast<size_t>(sqlite3_bind_parameter_count(m_stmt)))
    {
        connection.m_statements.push_back(this);
    }
    ~SqlCipherStatement() override
    {
        if (!m_connection)
            return;
        std::erase(m_connection->m_statements, this);
        // Handed back unbound: the texts it points into go with this object.
        m_connection->keepStatement(m_sql, m_stmt);
    }
    SqlCipherStatement(const SqlCipherStatement&) = delete;
    SqlCipherStatement& operator=(const SqlCipherStatement&) = delete;

    void bind(int position, const QString& text) override
    {
        QByteArray utf8 = text.toUtf8();
        // The same value the quoted text would store: NUL characters are dropped there.
        if (utf8.contains('\0'))
            utf8.replace(QByteArrayView("\0", 1), QByteArrayView());
        sqlite3_stmt* stmt = bindable(position);
        // The engine reads the text where it lies, kept here until bound anew: no copy.
        QByteArray& kept = m_values[static_cast<size_t>(position - 1)];
        const int rc = sqlite3_bind_text(stmt, position, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_STATIC);
        kept = std::move(utf8);
        checkBound(rc);
    }
    void bind(int position, int64_t value) override { checkBound(sqlite3_bind_int64(bindable(position), position, value)); }
    void bindNull(int position) override { checkBound(sqlite3_bind_null(bindable(position), position)); }
    void bindBytes(int position, const QByteArray& bytes) override
    {
        sqlite3_stmt* stmt = bindable(position);
        QByteArray& kept = m_values[static_cast<size_t>(position - 1)];
        kept = bytes; // shared, not copied: the engine reads it where it lies until bound anew
        checkBound(sqlite3_bind_blob(stmt, position, kept.constData(), static_cast<int>(kept.size()), SQLITE_STATIC));
    }
    bool step() override
    {
        sqlite3_stmt* stmt = live();
        m_running = true;
        return stepRow(m_db, stmt);
    }
    std::string_view utf8(int column) const override { return columnText(atColumn(column), column); }
    int64_t integer(int column) const override { return sqlite3_column_int64(atColumn(column), column); }
    bool isNumber(int column) const override { return isNumeric(atColumn(column), column); }
    int columnCount() const override { return sqlite3_column_count(live()); }
    int exec() override
    {
        sqlite3_stmt* stmt = live();
        m_running = true;
        while (stepRow(m_db, stmt)) {
        }
        const int changed = sqlite3_stmt_readonly(stmt) ? 0 : sqlite3_changes(m_db);
        stopRun();
        return changed;
    }
    void reset() override { stopRun(); }

    // The connection closes its handle: the statement goes first.
    void end()
    {
        sqlite3_finalize(std::exchange(m_stmt, nullptr));
        m_connection = nullptr;
    }

private:
    sqlite3_stmt* live() const
    {
        if (!m_stmt)
            throw EngineError(QStringLiteral("数据库连接已关闭，预备的语句不能再用"));
        return m_stmt;
    }
    sqlite3_stmt* atColumn(int column) const
    {
        sqlite3_stmt* stmt = live();
        if (column < 0 || column >= sqlite3_data_count(stmt))
            throw EngineError(QStringLiteral("语句的当前行没有编号为 %1 的列").arg(column));
        return stmt;
    }
    sqlite3_stmt* bindable(int position)
    {
        stopRun();
        if (position < 1 || position > static_cast<int>(m_values.size()))
            throw failure(SQLITE_RANGE, QStringLiteral("%1 (?%2)").arg(QString::fromUtf8(sqlite3_errstr(SQLITE_RANGE))).arg(position));
        return m_stmt;
    }
    static void checkBound(int rc)
    {
        if (rc != SQLITE_OK)
            throw failure(rc, QString::fromUtf8(sqlite3_errstr(rc)));
    }
    // Ends a run that began; a reset costs about as much as binding a value.
    void stopRun()
    {
        sqlite3_stmt* stmt = live();
        if (std::exchange(m_running, false))
            sqlite3_reset(stmt);
    }

    SqlCipherConnection* m_connection;
    sqlite3* m_db;
    QString m_sql;
    sqlite3_stmt* m_stmt;
    std::vector<QByteArray> m_values; // by position, from 1
    bool m_running = false;
};

std::unique_ptr<PreparedStatement> SqlCipherConnection::prepare(const QString& sql)
{
    return std::make_unique<SqlCipherStatement>(*this, sql);
}

sqlite3_stmt* SqlCipherConnection::takeStatement(const QString& sql)
{
    sqlite3* db = handle();
    // The most recent first: a text run again and again is found at once.
    const auto found = std::find_if(m_idle.rbegin(), m_idle.rend(), [&](const auto& entry) { return entry.first == sql; });
    if (found == m_idle.rend())
        return prepareOne(db, sql);
    sqlite3_stmt* stmt = found->second;
    m_idle.erase(std::next(found).base());
    return stmt;
}

void SqlCipherConnection::keepStatement(const QString& sql, sqlite3_stmt* stmt)
{
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    m_idle.emplace_back(sql, stmt);
    // The lists open and the engine's own helpers use a dozen texts; older ones are let go.
    constexpr size_t kKept = 16;
    if (m_idle.size() > kKept) {
        sqlite3_finalize(m_idle.front().second);
        m_idle.erase(m_idle.begin());
    }
}

void SqlCipherConnection::endStatements()
{
    for (SqlCipherStatement* statement : std::exchange(m_statements, {}))
        statement->end();
    for (const auto& [sql, stmt] : std::exchange(m_idle, {}))
        sqlite3_finalize(stmt);
}

} // namespace ostrel

#include "engine/postgres/pg_connection.h"

#include "engine/engine_error.h"
#include "engine/sql_text.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>

namespace ostrel {

namespace {

// Type numbers of the server's numeric and yes/no columns (pg_type.oid).
constexpr Oid kBoolOid = 16, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23, kOidOid = 26, kFloat4Oid = 700,
              kFloat8Oid = 701, kNumericOid = 1700;

bool isNumericType(Oid type)
{
    switch (type) {
    case kBoolOid:
    case kInt8Oid:
    case kInt2Oid:
    case kInt4Oid:
    case kOidOid:
    case kFloat4Oid:
    case kFloat8Oid:
    case kNumericOid:
        return true;
    default:
        return false;
    }
}

// A cell as the file engine gives it: a missing value is empty, yes/no is 1/0.
std::string_view cellText(const PGresult* result, int row, int column)
{
    if (PQgetisnull(result, row, column))
        return {};
    const char* value = PQgetvalue(result, row, column);
    if (PQftype(result, column) == kBoolOid)
        return *value == 't' ? "1" : "0";
    return std::string_view(value, static_cast<size_t>(PQgetlength(result, row, column)));
}

int64_t toInteger(std::string_view text)
{
    int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

QString trimmedMessage(const char* text)
{
    return QString::fromUtf8(text ? text : "").trimmed();
}

// The value as the server takes it: text, without NUL characters (as the file stores it).
QByteArray valueText(const QVariant& value)
{
    // Bytes (an image) in the text form a bytea takes.
    if (value.typeId() == QMetaType::QByteArray)
        return "\\x" + value.toByteArray().toHex();
    if (value.typeId() != QMetaType::QString)
        return QByteArray::number(value.toLongLong());
    QByteArray utf8 = value.toString().toUtf8();
    utf8.replace(QByteArrayView("\0", 1), QByteArrayView());
    return utf8;
}

QStringList columnNames(const PGresult* result)
{
    QStringList names;
    for (int c = 0; c < PQnfields(result); ++c)
        names << QString::fromUtf8(PQfname(result, c));
    return names;
}

void fillRows(const PGresult* result, ResultSet& rows)
{
    const int count = PQntuples(result);
    const int columns = PQnfields(result);
    rows.reserveRows(static_cast<size_t>(count));
    for (int r = 0; r < count; ++r) {
        for (int c = 0; c < columns; ++c)
            rows.addCell(cellText(result, r, c), isNumericType(PQftype(result, c)) || PQgetisnull(result, r, c));
        rows.endRow();
    }
}

class PgRow : public Database::Row {
public:
    explicit PgRow(const PGresult* result) : m_result(result) {}
    void setRow(int row) { m_row = row; }
    int64_t integer(int column) const override { return toInteger(utf8(column)); }
    std::string_view utf8(int column) const override { return cellText(m_result, m_row, column); }

private:
    const PGresult* m_result;
    int m_row = 0;
};

QString arrayText(const std::vector<int64_t>& values)
{
    QString text = QStringLiteral("{");
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            text += u',';
        text += QString::number(values[i]);
    }
    return text + u'}';
}

void dropNotice(void*, const char*) {}

} // namespace

void PgConnection::ResultDeleter::operator()(pg_result* result) const
{
    PQclear(result);
}

PgConnection::~PgConnection()
{
    close();
}

bool PgConnection::isOpen() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

void PgConnection::open()
{
    handle();
}

void PgConnection::close()
{
    if (m_conn) {
        PQfinish(m_conn);
        m_conn = nullptr;
    }
    m_kept.clear();
    ++m_closes;
}

pg_conn* PgConnection::handle()
{
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        return m_conn;
    if (m_conn) {
        // The connection was lost: the next statement connects anew.
        PQfinish(m_conn);
        m_conn = nullptr;
    }
    m_kept.clear();
    const QByteArray conninfo = connectionString().toUtf8();
    // A server that cannot be reached fails within seconds unless the text sets its own
    // timeout (the expanded connection text comes later and wins); the text is UTF-8 always.
    // Compiling a plan (JIT) costs a few hundred milliseconds each time, more than the
    // program's statements take to run; the text's own options come later and win.
    const char* keys[] = {"connect_timeout", "application_name", "options", "dbname", "client_encoding", nullptr};
    const char* values[] = {"10", "ostrel", "-c jit=off", conninfo.constData(), "UTF8", nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 1);
    if (!conn)
        throw EngineError(engineFailureText(kServerUnreachable, QStringLiteral("out of memory")), kServerUnreachable);
    if (PQstatus(conn) != CONNECTION_OK) {
        const QString text = trimmedMessage(PQerrorMessage(conn));
        PQfinish(conn);
        throw EngineError(engineFailureText(kServerUnreachable, text), kServerUnreachable);
    }
    PQsetNoticeProcessor(conn, dropNotice, nullptr);
    m_conn = conn;
    ++m_session;
    return m_conn;
}

PgConnection::Result PgConnection::checked(pg_result* raw)
{
    Result result(raw);
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_COPY_IN)
        return result;
    const QString text = trimmedMessage(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(m_conn));
    if (PQstatus(m_conn) != CONNECTION_OK)
        throw EngineError(engineFailureText(kServerConnectionLost, text), kServerConnectionLost);
    throw EngineError(text.isEmpty() ? trimmedMessage(PQerrorMessage(m_conn)) : text);
}

PgConnection::Result PgConnection::run(const QString& sql, const std::vector<QByteArray>& values, bool binary)
{
    pg_conn* conn = handle();
    const QByteArray text = adaptServerSql(sql, m_rules.names).toUtf8();
    std::vector<const char*> pointers;
    std::vector<int> lengths;
    for (const QByteArray& value : values) {
        pointers.push_back(value.constData());
        lengths.push_back(static_cast<int>(value.size()));
    }
    return checked(PQexecParams(conn, text.constData(), static_cast<int>(values.size()), nullptr, pointers.data(),
                                lengths.data(), nullptr, binary ? 1 : 0));
}

QByteArray PgConnection::keptStatement(const QString& sql)
{
    pg_conn* conn = handle();
    const auto found = std::find_if(m_kept.begin(), m_kept.end(), [&](const auto& entry) { return entry.first == sql; });
    if (found != m_kept.end()) {
        std::rotate(found, found + 1, m_kept.end());
        return m_kept.back().second;
    }
    // The lists and the engine's own helpers use a few dozen texts; older ones are let go.
    constexpr size_t kKept = 32;
    if (m_kept.size() >= kKept) {
        run(QStringLiteral("DEALLOCATE ") + QString::fromLatin1(m_kept.front().second));
        m_kept.erase(m_kept.begin());
    }
    const QByteArray name = "ostrel_" + QByteArray::number(++m_nextName);
    checked(PQprepare(conn, name.constData(), adaptServerSql(sql, m_rules.names).toUtf8().constData(), 0, nullptr));
    m_kept.emplace_back(sql, name);
    return name;
}

PgConnection::Result PgConnection::runKept(const QString& sql, const std::vector<QByteArray>& values)
{
    const QByteArray name = keptStatement(sql);
    std::vector<const char*> pointers;
    std::vector<int> lengths;
    for (const QByteArray& value : values) {
        pointers.push_back(value.constData());
        lengths.push_back(static_cast<int>(value.size()));
    }
    return checked(PQexecPrepared(m_conn, name.constData(), static_cast<int>(values.size()), pointers.data(),
                                  lengths.data(), nullptr, 0));
}

void PgConnection::runServerSql(const QString& serverSql)
{
    pg_conn* conn = handle();
    checked(PQexec(conn, serverSql.toUtf8().constData()));
    // PQexec returns the last statement's result; an earlier failure ends the run there.
}

ResultSet PgConnection::select(const QString& sql)
{
    const Result result = run(sql);
    ResultSet rows(columnNames(result.get()));
    fillRows(result.get(), rows);
    return rows;
}

int PgConnection::execute(const QString& sql)
{
    const Result result = run(sql);
    return static_cast<int>(toInteger(PQcmdTuples(result.get())));
}

int PgConnection::countRows(const QString& sql)
{
    QString inner = sql.trimmed();
    while (inner.endsWith(u';'))
        inner.chop(1);
    const Result result = run(QStringLiteral("select count(*) from (") + inner + QStringLiteral(") AS counted"));
    return static_cast<int>(toInteger(cellText(result.get(), 0, 0)));
}

int PgConnection::runBound(const QString& sql, const QVariantList& values, const RowHandler& row)
{
    std::vector<QByteArray> texts;
    for (const QVariant& value : values)
        texts.push_back(valueText(value));
    // The rows are all read first, so the handler may run statements of its own.
    const Result result = runKept(sql, texts);
    if (row) {
        PgRow current(result.get());
        for (int r = 0; r < PQntuples(result.get()); ++r) {
            current.setRow(r);
            row(current);
        }
    }
    return PQresultStatus(result.get()) == PGRES_TUPLES_OK ? 0 : static_cast<int>(toInteger(PQcmdTuples(result.get())));
}

std::vector<qint64> PgConnection::sumsInKeyRuns(const QString& sql, std::vector<int64_t> keys)
{
    std::sort(keys.begin(), keys.end());
    std::vector<int64_t> firsts, lasts;
    for (size_t first = 0; first < keys.size();) {
        size_t last = first;
        while (last + 1 < keys.size() && keys[last + 1] <= keys[last] + 1)
            ++last;
        firsts.push_back(keys[first]);
        lasts.push_back(keys[last]);
        first = last + 1;
    }
    // The statement once per run, on the server: ?1 and ?2 stand for each run's ends.
    const QString inner = adaptServerSql(sql, m_rules.names, {QStringLiteral("r.first"), QStringLiteral("r.last")});
    const Result result = run(QStringLiteral("select s.* from unnest(?1::bigint[], ?2::bigint[]) AS r(first, last) "
                                             "cross join lateral (")
                                  + inner + QStringLiteral(") AS s"),
                              {arrayText(firsts).toLatin1(), arrayText(lasts).toLatin1()});
    std::vector<qint64> totals(static_cast<size_t>(PQnfields(result.get())));
    for (int r = 0; r < PQntuples(result.get()); ++r)
        for (size_t c = 0; c < totals.size(); ++c)
            totals[c] += toInteger(cellText(result.get(), r, static_cast<int>(c)));
    return totals;
}

int64_t PgConnection::lastInsertId()
{
    const Result result = run(QStringLiteral("select lastval()"));
    return toInteger(cellText(result.get(), 0, 0));
}

void PgConnection::beginTransaction()
{
    run(QStringLiteral("BEGIN"));
}

void PgConnection::commit()
{
    run(QStringLiteral("COMMIT"));
}

void PgConnection::rollback()
{
    if (inTransaction())
        run(QStringLiteral("ROLLBACK"));
}

bool PgConnection::inTransaction() const
{
    if (!m_conn)
        return false;
    const PGTransactionStatusType status = PQtransactionStatus(m_conn);
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

int64_t PgConnection::changeCounter(int64_t card)
{
    if (m_rules.changeCounterSql.isEmpty())
        return -1;
    const QString& sql = m_rules.changeCounterSql;
    int64_t counter = 0; // a card that is not there: never the number it was loaded with
    runBound(inTransaction() ? sql + QStringLiteral(" for update") : sql, {QVariant::fromValue<qint64>(card)},
             [&](const Row& row) { counter = row.integer(0); });
    return counter;
}

QString PgConnection::displayName() const
{
    QString host, database, user;
    if (m_conn) {
        host = QString::fromUtf8(PQhost(m_conn));
        database = QString::fromUtf8(PQdb(m_conn));
    } else if (PQconninfoOption* options = PQconninfoParse(connectionString().toUtf8().constData(), nullptr)) {
        for (PQconninfoOption* option = options; option->keyword; ++option) {
            const QString value = QString::fromUtf8(option->val ? option->val : "");
            if (qstrcmp(option->keyword, "host") == 0)
                host = value;
            else if (qstrcmp(option->keyword, "dbname") == 0)
                database = value;
            else if (qstrcmp(option->keyword, "user") == 0)
                user = value;
        }
        PQconninfoFree(options);
    }
    if (host.isEmpty())
        host = QStringLiteral("localhost");
    if (database.isEmpty())
        database = user;
    return host + u'/' + database;
}

namespace {

class CopyBuffer : public PgConnection::CopySink {
public:
    explicit CopyBuffer(const std::function<void(const QByteArray&)>& flush) : m_flush(flush) {}
    void add(std::string_view utf8) override
    {
        if (!m_rowStart)
            m_data += '\t';
        m_rowStart = false;
        // The COPY text format: a backslash, tab and line ends are escaped; NUL cannot be stored.
        for (char c : utf8) {
            switch (c) {
            case '\\':
                m_data += "\\\\";
                break;
            case '\t':
                m_data += "\\t";
                break;
            case '\n':
                m_data += "\\n";
                break;
            case '\r':
                m_data += "\\r";
                break;
            case '\0':
                break;
            default:
                m_data += c;
            }
        }
    }
    void endRow() override
    {
        m_data += '\n';
        m_rowStart = true;
        if (m_data.size() >= (1 << 18))
            flush();
    }
    void flush()
    {
        if (!m_data.isEmpty())
            m_flush(m_data);
        m_data.clear();
    }

private:
    std::function<void(const QByteArray&)> m_flush;
    QByteArray m_data;
    bool m_rowStart = true;
};

} // namespace

void PgConnection::copyIn(const QString& table, const QStringList& columns, const std::function<void(CopySink&)>& write)
{
    QString sql = QStringLiteral("COPY ") + table + QStringLiteral(" (") + columns.join(u',') + QStringLiteral(") FROM STDIN");
    run(sql);
    CopyBuffer buffer([&](const QByteArray& data) {
        if (PQputCopyData(m_conn, data.constData(), static_cast<int>(data.size())) != 1)
            checked(PQgetResult(m_conn));
    });
    try {
        write(buffer);
        buffer.flush();
    } catch (...) {
        PQputCopyEnd(m_conn, "ended by the program");
        while (PGresult* rest = PQgetResult(m_conn))
            PQclear(rest);
        throw;
    }
    if (PQputCopyEnd(m_conn, nullptr) != 1)
        throw EngineError(engineFailureText(kServerConnectionLost, trimmedMessage(PQerrorMessage(m_conn))), kServerConnectionLost);
    Result result = checked(PQgetResult(m_conn));
    while (PGresult* rest = PQgetResult(m_conn))
        PQclear(rest);
}

// ---- windowed lists ----

// A windowed list on the server. Its statements wrap the list's own statement, with the
// columns renamed k, c1, c2 …, so its filter and order hold and two columns of the same
// name stay apart; the server pushes the key condition of a page into the list's statement,
// so a page is a few lookups by the card key.
class PgConnection::Window : public RowSource {
public:
    Window(PgConnection& connection, const QString& sql, const QStringList& columns)
        : m_connection(connection), m_columns(columns)
    {
        QString names = QStringLiteral("k");
        for (int c = 1; c < columns.size(); ++c)
            names += QStringLiteral(", c") + QString::number(c);
        m_from = QStringLiteral(" from (") + sql + QStringLiteral(") AS w(") + names + u')';
    }

    std::vector<int64_t> readKeys()
    {
        std::vector<int64_t> keys;
        const Result result = m_connection.run(QStringLiteral("select k") + m_from, {}, true);
        const int count = PQntuples(result.get());
        keys.reserve(static_cast<size_t>(count));
        for (int r = 0; r < count; ++r)
            keys.push_back(bigEndian(PQgetvalue(result.get(), r, 0), PQgetlength(result.get(), r, 0)));
        return keys;
    }

    void fetchRows(const std::vector<int64_t>& keys, ResultSet& page) override
    {
        const Result result = m_connection.runKept(QStringLiteral("select *") + m_from + QStringLiteral(" where k = any(?1::bigint[])"),
                                                   {arrayText(keys).toLatin1()});
        const PGresult* rows = result.get();
        // The rows come in the list's order; the page wants the order it asked in.
        std::vector<std::pair<int64_t, int>> found;
        for (int r = 0; r < PQntuples(rows); ++r)
            found.emplace_back(toInteger(cellText(rows, r, 0)), r);
        std::sort(found.begin(), found.end());
        for (int64_t key : keys) {
            const auto at = std::lower_bound(found.begin(), found.end(), std::pair<int64_t, int>(key, 0));
            const bool there = at != found.end() && at->first == key;
            for (int c = 0; c < m_columns.size(); ++c)
                page.addCell(there ? cellText(rows, at->second, c) : std::string_view(), true);
            page.endRow();
        }
    }

    void readColumn(int column, const ColumnSink& take) override
    {
        const Result result = m_connection.run(QStringLiteral("select k, ") + (column == 0 ? QStringLiteral("k") : QStringLiteral("c%1").arg(column))
                                               + m_from);
        const bool numeric = isNumericType(PQftype(result.get(), 1));
        for (int r = 0; r < PQntuples(result.get()); ++r)
            take(toInteger(cellText(result.get(), r, 0)), cellText(result.get(), r, 1), numeric || PQgetisnull(result.get(), r, 1));
    }

private:
    // An int8 in the server's binary form; a key of another integer type is read by its size.
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

ResultSet PgConnection::selectWindowed(const QString& sql)
{
    handle();
    // The columns of the list without running it.
    checked(PQprepare(m_conn, "", adaptServerSql(sql, m_rules.names).toUtf8().constData(), 0, nullptr));
    const Result described = checked(PQdescribePrepared(m_conn, ""));
    const QStringList names = columnNames(described.get());
    if (names.isEmpty())
        return select(sql);
    auto window = std::make_shared<Window>(*this, sql, names);
    std::vector<int64_t> keys = window->readKeys();
    return ResultSet::windowed(names, std::move(keys), std::move(window));
}

// ---- prepared statements ----

class PgStatement final : public PreparedStatement {
public:
    PgStatement(PgConnection& connection, const QString& sql) : m_connection(connection), m_sql(sql), m_closes(connection.m_closes)
    {
        prepareOnServer();
    }

    void bind(int position, const QString& text) override
    {
        live();
        if (position < 1 || position > static_cast<int>(m_values.size()))
            throw EngineError(QStringLiteral("语句没有第 %1 个参数").arg(position));
        m_result.reset();
        m_values[static_cast<size_t>(position - 1)] = valueText(text);
    }
    bool step() override
    {
        if (!m_result) {
            m_result = runOnServer();
            m_row = -1;
        }
        return ++m_row < PQntuples(m_result.get());
    }
    QString text(int column) const override
    {
        if (!m_result || m_row < 0 || m_row >= PQntuples(m_result.get()) || column < 0 || column >= PQnfields(m_result.get()))
            throw EngineError(QStringLiteral("语句的当前行没有编号为 %1 的列").arg(column));
        const std::string_view value = cellText(m_result.get(), m_row, column);
        return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    }
    int exec() override
    {
        const PgConnection::Result result = runOnServer();
        m_result.reset();
        return static_cast<int>(toInteger(PQcmdTuples(result.get())));
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
    void prepareOnServer()
    {
        live();
        m_name = m_connection.keptStatement(m_sql);
        m_session = m_connection.m_session;
        const PgConnection::Result described = m_connection.checked(PQdescribePrepared(m_connection.m_conn, m_name.constData()));
        m_values.resize(static_cast<size_t>(PQnparams(described.get())));
    }
    PgConnection::Result runOnServer()
    {
        live();
        m_connection.handle();
        // A new connection (the old one was lost) knows no statement of the old one.
        if (m_session != m_connection.m_session || !m_connection.isKept(m_name))
            prepareOnServer();
        std::vector<const char*> pointers;
        std::vector<int> lengths;
        for (const QByteArray& value : m_values) {
            pointers.push_back(value.constData());
            lengths.push_back(static_cast<int>(value.size()));
        }
        return m_connection.checked(PQexecPrepared(m_connection.m_conn, m_name.constData(), static_cast<int>(m_values.size()),
                                                   pointers.data(), lengths.data(), nullptr, 0));
    }

    PgConnection& m_connection;
    QString m_sql;
    int m_closes;
    int m_session = 0;
    QByteArray m_name;
    std::vector<QByteArray> m_values;
    PgConnection::Result m_result;
    int m_row = -1;
};

std::unique_ptr<PreparedStatement> PgConnection::prepare(const QString& sql)
{
    return std::make_unique<PgStatement>(*this, sql);
}

bool PgConnection::isKept(const QByteArray& name) const
{
    return std::any_of(m_kept.begin(), m_kept.end(), [&](const auto& entry) { return entry.second == name; });
}

} // namespace ostrel

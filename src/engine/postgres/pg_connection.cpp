#include "engine/postgres/pg_connection.h"
#include "engine/postgres/pg_support.h"

#include "engine/engine_error.h"
#include "engine/sql_text.h"

#include <libpq-fe.h>

#include <algorithm>


namespace ostrel {

using namespace postgres;

namespace {

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
    // Another server may come with the next connection text.
    m_followed = Followed();
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

PgConnection::Result PgConnection::run(const QString& sql, bool binary)
{
    pg_conn* conn = handle();
    const QByteArray text = adaptServerSql(sql, m_rules.names).toUtf8();
    return checked(PQexecParams(conn, text.constData(), 0, nullptr, nullptr, nullptr, nullptr, binary ? 1 : 0));
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

std::vector<qint64> PgConnection::sumsInIdRuns(const QString& sql, std::vector<int64_t> ids)
{
    std::sort(ids.begin(), ids.end());
    std::vector<int64_t> firsts, lasts;
    for (size_t first = 0; first < ids.size();) {
        size_t last = first;
        while (last + 1 < ids.size() && ids[last + 1] <= ids[last] + 1)
            ++last;
        firsts.push_back(ids[first]);
        lasts.push_back(ids[last]);
        first = last + 1;
    }
    // The statement once per run, on the server: ?1 and ?2 stand for each run's ends.
    const QString inner = adaptServerSql(sql, m_rules.names, {QStringLiteral("r.first"), QStringLiteral("r.last")});
    const std::unique_ptr<PreparedStatement> statement = prepare(
        QStringLiteral("select s.* from unnest(?1::bigint[], ?2::bigint[]) AS r(first, last) cross join lateral (") + inner
        + QStringLiteral(") AS s"));
    statement->bind(1, QString::fromLatin1(arrayText(firsts)));
    statement->bind(2, QString::fromLatin1(arrayText(lasts)));
    std::vector<qint64> totals(static_cast<size_t>(statement->columnCount()));
    while (statement->step()) {
        for (size_t c = 0; c < totals.size(); ++c)
            totals[c] += statement->integer(static_cast<int>(c));
    }
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

} // namespace ostrel

// Rows written into a table with the server's COPY.
#include "engine/postgres/pg_connection.h"
#include "engine/postgres/pg_support.h"

#include "engine/engine_error.h"

#include <libpq-fe.h>

namespace ostrel {

using namespace postgres;

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

} // namespace ostrel

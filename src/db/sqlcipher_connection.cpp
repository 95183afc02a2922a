#include "sqlcipher_connection.h"

#include "connection_string.h"
#include "engine_error.h"
#include "sql_text.h"

#include <sqlcipher/sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ostrel {

namespace {

constexpr int kBusyTimeoutMs = 5000;

QString errorText(sqlite3* db)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
}

void execOrThrow(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const QString text = message ? QString::fromUtf8(message) : errorText(db);
        sqlite3_free(message);
        throw EngineError(text);
    }
}

// Mid(text, start[, length]) with the original engine's meaning: start counts characters
// from 1, and a start past the end gives the empty text.
void midFunction(sqlite3_context* context, int argc, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const sqlite3_int64 start = sqlite3_value_int64(argv[1]);
    const sqlite3_int64 length = argc > 2 ? sqlite3_value_int64(argv[2]) : -1;
    if (start < 1 || (argc > 2 && length < 0)) {
        sqlite3_result_error(context, "Invalid procedure call or argument (Mid)", -1);
        return;
    }
    const auto* text = reinterpret_cast<const unsigned char*>(sqlite3_value_text(argv[0]));
    const int bytes = sqlite3_value_bytes(argv[0]);
    auto advance = [&](int at, sqlite3_int64 chars) {
        while (at < bytes && chars > 0) {
            ++at;
            while (at < bytes && (text[at] & 0xC0) == 0x80)
                ++at;
            --chars;
        }
        return at;
    };
    const int begin = advance(0, start - 1);
    const int end = length < 0 ? bytes : advance(begin, length);
    sqlite3_result_text(context, reinterpret_cast<const char*>(text) + begin, end - begin, SQLITE_TRANSIENT);
}

void registerFunctions(sqlite3* db)
{
    for (int args : {2, 3})
        sqlite3_create_function_v2(db, "Mid", args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   midFunction, nullptr, nullptr, nullptr);
}

// A prepared statement that finalises itself.
class Statement {
public:
    Statement(sqlite3* db, const QString& sql)
    {
        const QByteArray utf8 = adaptSql(sql).toUtf8();
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &m_stmt, &tail) != SQLITE_OK)
            throw EngineError(errorText(db));
        for (; tail && *tail; ++tail) {
            if (*tail != ';' && !QChar::isSpace(static_cast<unsigned char>(*tail)))
                throw EngineError(QStringLiteral("一次只能执行一条语句"));
        }
        if (!m_stmt)
            throw EngineError(QStringLiteral("语句为空"));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Returns true while a row is there; throws on an engine error.
    bool step(sqlite3* db)
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw EngineError(errorText(db));
    }
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace

void keyAndConfigure(sqlite3* db, const QString& password)
{
    // Without a password the file is read as a plain database, which an encrypted one is not.
    const QByteArray key = password.toUtf8();
    if (!key.isEmpty() && sqlite3_key(db, key.constData(), static_cast<int>(key.size())) != SQLITE_OK)
        throw EngineError(errorText(db));
    // 4096-byte pages scan about three times faster than SQLCipher 3's 1024; every cache
    // miss costs a decryption, hence the large cache.
    execOrThrow(db, "PRAGMA cipher_page_size = 4096;");
    execOrThrow(db, "PRAGMA cache_size = -65536;");
    // The first read tells a wrong key ("file is encrypted or is not a database").
    execOrThrow(db, "SELECT count(*) FROM sqlite_master;");
    // A save that reported success must survive a crash or a power loss.
    execOrThrow(db, "PRAGMA journal_mode = WAL;");
    execOrThrow(db, "PRAGMA synchronous = FULL;");
    execOrThrow(db, "PRAGMA foreign_keys = OFF;");
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    registerFunctions(db);
}

SqlCipherConnection::~SqlCipherConnection()
{
    close();
}

void SqlCipherConnection::open()
{
    if (m_db)
        return;
    const ConnectionString cs(connectionString());
    const QString path = cs.value(kDataSourceKey);
    sqlite3* db = nullptr;
    // No create flag: a missing file is an error, never a fresh empty database.
    // One thread uses the connection, so SQLite's own locking is pure cost (about a third of
    // the time spent reading a long list).
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString text = errorText(db);
        sqlite3_close(db);
        throw EngineError(QStringLiteral("%1: %2").arg(text, QDir::toNativeSeparators(path)));
    }
    try {
        keyAndConfigure(db, cs.value(kPasswordKey));
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    m_db = db;
}

void SqlCipherConnection::close()
{
    if (m_db) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

sqlite3* SqlCipherConnection::handle()
{
    open();
    return m_db;
}

ResultSet SqlCipherConnection::select(const QString& sql)
{
    sqlite3* db = handle();
    Statement stmt(db, sql);
    const int columns = sqlite3_column_count(stmt.get());
    QStringList names;
    for (int c = 0; c < columns; ++c)
        names << QString::fromUtf8(sqlite3_column_name(stmt.get(), c));
    ResultSet rows(names);
    while (stmt.step(db)) {
        for (int c = 0; c < columns; ++c) {
            const int type = sqlite3_column_type(stmt.get(), c);
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), c));
            const int bytes = sqlite3_column_bytes(stmt.get(), c);
            rows.addCell(std::string_view(text ? text : "", static_cast<size_t>(bytes)),
                         type == SQLITE_INTEGER || type == SQLITE_FLOAT || type == SQLITE_NULL);
        }
        rows.endRow();
    }
    return rows;
}

int SqlCipherConnection::execute(const QString& sql)
{
    sqlite3* db = handle();
    Statement stmt(db, sql);
    while (stmt.step(db)) {
    }
    return sqlite3_changes(db);
}

int SqlCipherConnection::countRows(const QString& sql)
{
    // Counted inside the engine: the same rows, without handing each one out.
    sqlite3* db = handle();
    QString inner = sql.trimmed();
    while (inner.endsWith(u';'))
        inner.chop(1);
    Statement stmt(db, QStringLiteral("select count(*) from (") + inner + u')');
    return stmt.step(db) ? sqlite3_column_int(stmt.get(), 0) : 0;
}

void SqlCipherConnection::beginTransaction()
{
    execOrThrow(handle(), "BEGIN IMMEDIATE;");
}

void SqlCipherConnection::commit()
{
    execOrThrow(handle(), "COMMIT;");
}

void SqlCipherConnection::rollback()
{
    if (inTransaction())
        execOrThrow(m_db, "ROLLBACK;");
}

bool SqlCipherConnection::inTransaction() const
{
    return m_db && !sqlite3_get_autocommit(m_db);
}

bool deliverDatabase(const QString& path, const QString& password, const QString& schemaSql)
{
    if (QFileInfo::exists(path))
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Written under another name and renamed at the end, so a failed build never leaves a
    // half-made file that later builds would take for the user's.
    const QString partial = path + QStringLiteral(".partial");
    QFile::remove(partial);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(partial).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    try {
        if (rc != SQLITE_OK)
            throw EngineError(errorText(db));
        keyAndConfigure(db, password);
        execOrThrow(db, "BEGIN;");
        execOrThrow(db, schemaSql.toUtf8().constData());
        execOrThrow(db, "COMMIT;");
    } catch (...) {
        sqlite3_close(db);
        QFile::remove(partial);
        throw;
    }
    sqlite3_close(db); // checkpoints the write-ahead log into the file
    if (!QFile::rename(partial, path))
        throw EngineError(QStringLiteral("无法写入数据库文件 %1").arg(path));
    return true;
}

} // namespace ostrel

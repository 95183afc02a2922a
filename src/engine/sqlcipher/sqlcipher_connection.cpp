#include "engine/sqlcipher/sqlcipher_connection.h"
#include "engine/sqlcipher/sqlcipher_support.h"

#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/file_system.h"
#include "engine/sql_text.h"

#include <sqlcipher/sqlite3.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <memory>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace ostrel {

using namespace sqlcipher;

namespace {

constexpr int kBusyTimeoutMs = 5000;
// In KiB, as the engine takes a negative size.
constexpr const char* kCacheSizeSql = "PRAGMA cache_size = -65536;";
constexpr const char* kPassingCacheSizeSql = "PRAGMA cache_size = -2048;";

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

void textFunction(sqlite3_context* context, int, sqlite3_value** argv)
{
    auto text = [&](int i) {
        const auto* chars = reinterpret_cast<const char*>(sqlite3_value_text(argv[i]));
        return chars ? std::string_view(chars, static_cast<size_t>(sqlite3_value_bytes(argv[i]))) : std::string_view();
    };
    const auto call = reinterpret_cast<DatabaseRules::TextFunction>(sqlite3_user_data(context));
    sqlite3_result_int(context, call(text(0), text(1)));
}

} // namespace

void keyAndConfigure(sqlite3* db, const QString& password, bool writable)
{
    // Set first: another program holding the file briefly must not fail even the opening.
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // Without a password the file is read as a plain database, which an encrypted one is not.
    const QByteArray key = password.toUtf8();
    if (!key.isEmpty() && sqlite3_key(db, key.constData(), static_cast<int>(key.size())) != SQLITE_OK)
        throw failure(db);
    // 4096-byte pages scan about three times faster than SQLCipher 3's 1024; every cache
    // miss costs a decryption, hence the large cache.
    execOrThrow(db, "PRAGMA cipher_page_size = 4096;");
    execOrThrow(db, kCacheSizeSql);
    // The first read tells a wrong key ("file is encrypted or is not a database").
    execOrThrow(db, "SELECT count(*) FROM sqlite_master;");
    // Users copy db.edb by hand, so the file alone must hold every committed change: a
    // rollback journal, not a write-ahead log. Switching a file from an older version
    // checkpoints its log into it.
    if (writable)
        execOrThrow(db, "PRAGMA journal_mode = DELETE;");
    // A save that reported success must survive a crash or a power loss.
    execOrThrow(db, "PRAGMA synchronous = FULL;");
    execOrThrow(db, "PRAGMA foreign_keys = OFF;");
    registerFunctions(db);
}

void SqlCipherConnection::releaseCache()
{
    if (m_db)
        sqlite3_db_release_memory(m_db);
#ifdef __GLIBC__
    // The freed pages lie scattered through the heap: without this they stay resident.
    malloc_trim(0);
#endif
}

void SqlCipherConnection::keepCacheSmall(bool on)
{
    // A sort's read inside a long import must not give the import its large cache back.
    m_smallCacheHolds = std::max(0, m_smallCacheHolds + (on ? 1 : -1));
    if (!m_db)
        return;
    // Never fails on an open handle; called from destructors too.
    sqlite3_exec(m_db, m_smallCacheHolds > 0 ? kPassingCacheSizeSql : kCacheSizeSql, nullptr, nullptr, nullptr);
    releaseCache();
}

SqlCipherConnection::PassingRead::PassingRead(SqlCipherConnection& connection)
{
    connection.handle();
    m_hold.emplace(connection);
}

SqlCipherConnection::~SqlCipherConnection()
{
    close();
}

void SqlCipherConnection::open()
{
    if (m_db)
        return;
    const QString path = this->path();
    requireNonEmpty(path);
    // A file or folder the program may not write is still listed; each save is then
    // refused by the engine as a write to a read-only database. (The journal is made
    // beside the file, so a read-only folder makes the file read-only too.)
    const bool folderWritable = !QFileInfo::exists(path) || folderTakesFiles(QFileInfo(path).absolutePath());
    Handle db;
    // No create flag: a missing file is an error, never a fresh empty database.
    // One thread uses the connection, so SQLite's own locking is pure cost (about a third of
    // the time spent reading a long list).
    openFile(db, path, (folderWritable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX);
    // The engine falls back to reading a file it may not write.
    m_readOnly = sqlite3_db_readonly(db.get(), "main") == 1;
    keyAndConfigure(db.get(), password(), !m_readOnly);
    for (const auto& [name, call] : m_rules.functions)
        sqlite3_create_function_v2(db.get(), name.constData(), 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   reinterpret_cast<void*>(call), textFunction, nullptr, nullptr, nullptr);
    m_db = db.release();
}

bool SqlCipherConnection::openWithPassword(const QString& password)
{
    closeHandle();
    setUserPassword(password);
    try {
        open();
        return true;
    } catch (const EngineError& error) {
        setUserPassword({});
        if (!isWrongPassword(error))
            throw;
        return false;
    }
}

void SqlCipherConnection::close()
{
    closeHandle();
    setUserPassword({});
}

void SqlCipherConnection::closeHandle()
{
    endStatements();
    if (m_db) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

void SqlCipherConnection::setUserPassword(const QString& password)
{
    m_userPassword.fill(QChar()); // not left behind in freed memory
    m_userPassword = password == passwordSetting() ? QString() : password;
}

QString SqlCipherConnection::password() const
{
    return m_userPassword.isEmpty() ? passwordSetting() : m_userPassword;
}

QString SqlCipherConnection::path() const
{
    return ConnectionString(connectionString()).value(kDataSourceKey);
}

QString SqlCipherConnection::passwordSetting() const
{
    return ConnectionString(connectionString()).value(kPasswordKey);
}

bool SqlCipherConnection::opensWithPassword(const QString& password) const
{
    return fileOpensWith(path(), password);
}

void SqlCipherConnection::changePassword(const QString& password)
{
    sqlite3* db = handle();
    const QByteArray bytes = (password.isEmpty() ? passwordSetting() : password).toUtf8();
    const int rc = sqlite3_rekey(db, bytes.constData(), static_cast<int>(bytes.size()));
    // After a failed re-key the engine would go on writing with the new key into a file still
    // keyed with the old one; after a good one, reopening shows the file as stored opens
    // with the new key. Either way the handle goes.
    closeHandle();
    if (rc != SQLITE_OK)
        throw failure(rc, QString::fromUtf8(sqlite3_errstr(rc)));
    setUserPassword(password);
    open();
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
    while (stmt.step()) {
        for (int c = 0; c < columns; ++c)
            rows.addCell(columnText(stmt.get(), c), isNumeric(stmt.get(), c));
        rows.endRow();
    }
    return rows;
}

int SqlCipherConnection::execute(const QString& sql)
{
    sqlite3* db = handle();
    Statement stmt(db, sql);
    while (stmt.step()) {
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
    return stmt.step() ? sqlite3_column_int(stmt.get(), 0) : 0;
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

int64_t SqlCipherConnection::lastInsertId()
{
    return sqlite3_last_insert_rowid(handle());
}

std::vector<qint64> SqlCipherConnection::sumsInIdRuns(const QString& sql, std::vector<int64_t> ids)
{
    // A list in its statement's order is mostly newest first already.
    if (std::is_sorted(ids.rbegin(), ids.rend()))
        std::reverse(ids.begin(), ids.end());
    else
        std::sort(ids.begin(), ids.end());
    // One read transaction for all the counts: each statement on its own would lock and
    // unlock the file and check the journal and the first page again.
    sqlite3* db = handle();
    const bool own = !inTransaction();
    if (own)
        execOrThrow(db, "BEGIN;");
    struct End {
        sqlite3* db;
        bool own;
        ~End()
        {
            if (own)
                sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr); // a read: nothing to keep or lose
        }
    } end{db, own};
    const std::unique_ptr<PreparedStatement> statement = prepare(sql);
    std::vector<qint64> totals(static_cast<size_t>(statement->columnCount()));
    for (size_t first = 0; first < ids.size();) {
        size_t last = first;
        while (last + 1 < ids.size() && ids[last + 1] == ids[last] + 1)
            ++last;
        statement->bind(1, ids[first]);
        statement->bind(2, ids[last]);
        while (statement->step()) {
            for (size_t c = 0; c < totals.size(); ++c)
                totals[c] += statement->integer(static_cast<int>(c));
        }
        first = last + 1;
    }
    return totals;
}

} // namespace ostrel

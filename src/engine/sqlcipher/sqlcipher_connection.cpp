#include "engine/sqlcipher/sqlcipher_connection.h"

#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/file_system.h"
#include "engine/sql_text.h"

#include <sqlcipher/sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <functional>
#include <utility>

namespace ostrel {

namespace {

constexpr int kBusyTimeoutMs = 5000;

// The engine's failure as the user is told it: what to do, then the engine's own text.
EngineError failure(int code, const QString& text)
{
    return EngineError(engineFailureText(code, text), code & 0xff);
}

EngineError failure(sqlite3* db)
{
    if (!db)
        return EngineError(engineFailureText(SQLITE_NOMEM, QStringLiteral("out of memory")), SQLITE_NOMEM);
    return failure(sqlite3_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
}

void execOrThrow(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        if (!message)
            throw failure(db);
        const QString text = QString::fromUtf8(message);
        sqlite3_free(message);
        throw failure(sqlite3_errcode(db), text);
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

void textFunction(sqlite3_context* context, int, sqlite3_value** argv)
{
    auto text = [&](int i) {
        const auto* chars = reinterpret_cast<const char*>(sqlite3_value_text(argv[i]));
        return chars ? std::string_view(chars, static_cast<size_t>(sqlite3_value_bytes(argv[i]))) : std::string_view();
    };
    const auto call = reinterpret_cast<DatabaseRules::TextFunction>(sqlite3_user_data(context));
    sqlite3_result_int(context, call(text(0), text(1)));
}

// A prepared statement that finalises itself.
class Statement {
public:
    Statement(sqlite3* db, const QString& sql)
    {
        const QByteArray utf8 = adaptSql(sql).toUtf8();
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &m_stmt, &tail) != SQLITE_OK)
            throw failure(db);
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
        throw failure(db);
    }
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// A handle that closes itself.
class Handle {
public:
    Handle() = default;
    ~Handle() { sqlite3_close(m_db); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    sqlite3** out() { return &m_db; }
    sqlite3* get() const { return m_db; }
    sqlite3* release() { return std::exchange(m_db, nullptr); }

private:
    sqlite3* m_db = nullptr;
};

// Opens a database file without ever creating it. Throws with the path named.
void openFile(Handle& handle, const QString& path, int flags)
{
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), handle.out(), flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString text = handle.get() ? QString::fromUtf8(sqlite3_errmsg(handle.get())) : QStringLiteral("out of memory");
        throw failure(rc, QStringLiteral("%1: %2").arg(text, QDir::toNativeSeparators(path)));
    }
}

// An empty file would be taken for an empty database and the first write would make it
// one: refuse it before the engine sees it. (Damaged, not a wrong password: no one is asked
// for another.)
void requireNonEmpty(const QString& path)
{
    const QFileInfo file(path);
    if (file.exists() && file.isFile() && file.size() == 0)
        throw EngineError(QStringLiteral("数据库文件是空的（0 字节）或已损坏，没有打开它：%1\n请用“恢复数据…”从备份恢复。")
                              .arg(QDir::toNativeSeparators(path)),
                          SQLITE_CORRUPT);
}

// The engine's answer when the password does not fit the file (or the file is no database).
bool isWrongPassword(const EngineError& error)
{
    return error.code() == SQLITE_NOTADB;
}

// The journal and log files the engine may keep beside a database.
const char* const kSideFiles[] = {"-journal", "-wal", "-shm"};

void removeSideFiles(const QString& path)
{
    for (const char* suffix : kSideFiles)
        QFile::remove(path + QString::fromLatin1(suffix));
}

// Replaces target by the finished file in one step, also when target exists.
void moveIntoPlace(const QString& finished, const QString& target)
{
    if (std::rename(QFile::encodeName(finished).constData(), QFile::encodeName(target).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(finished);
        throw EngineError(QStringLiteral("无法写入文件 %1：%2").arg(QDir::toNativeSeparators(target), reason));
    }
}

// Writes a new database file at target: made under another name, keyed with password,
// filled, and renamed over target only once whole, so a failure never leaves a half-made
// file that would be taken for a real one. Readable by the user alone: it holds cards.
void writeNewFile(const QString& target, const QString& password, const std::function<void(sqlite3*)>& fill)
{
    QDir().mkpath(QFileInfo(target).absolutePath());
    const QString partial = target + QStringLiteral(".partial");
    QFile::remove(partial);
    removeSideFiles(partial);
    try {
        Handle db;
        openFile(db, partial, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        QFile::setPermissions(partial, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        keyAndConfigure(db.get(), password);
        fill(db.get());
    } catch (...) {
        QFile::remove(partial);
        removeSideFiles(partial);
        throw;
    }
    // A log or journal left by an earlier file of that name would be read into this one.
    removeSideFiles(target);
    moveIntoPlace(partial, target);
}

// A consistent copy of the open database source, by the engine's online backup.
void writeCopy(sqlite3* source, const QString& target, const QString& password)
{
    writeNewFile(target, password, [&](sqlite3* copy) {
        sqlite3_backup* backup = sqlite3_backup_init(copy, "main", source, "main");
        if (!backup)
            throw failure(copy);
        const int rc = sqlite3_backup_step(backup, -1);
        sqlite3_backup_finish(backup);
        if (rc != SQLITE_DONE)
            throw failure(rc, QString::fromUtf8(sqlite3_errstr(rc)));
    });
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
    execOrThrow(db, "PRAGMA cache_size = -65536;");
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
    for (const auto& [sql, stmt] : m_prepared)
        sqlite3_finalize(stmt);
    m_prepared.clear();
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

// ---- prepared statements ----

class SqlCipherStatement final : public PreparedStatement {
public:
    SqlCipherStatement(SqlCipherConnection& connection, const QString& sql)
        : m_connection(&connection), m_db(connection.handle()), m_stmt(std::make_unique<Statement>(m_db, sql)),
          m_values(static_cast<size_t>(sqlite3_bind_parameter_count(m_stmt->get())))
    {
        connection.m_statements.push_back(this);
    }
    ~SqlCipherStatement() override
    {
        if (m_connection)
            std::erase(m_connection->m_statements, this);
    }
    SqlCipherStatement(const SqlCipherStatement&) = delete;
    SqlCipherStatement& operator=(const SqlCipherStatement&) = delete;

    void bind(int position, const QString& text) override
    {
        stopRun();
        QByteArray utf8 = text.toUtf8();
        // The same value the quoted text would store: NUL characters are dropped there.
        if (utf8.contains('\0'))
            utf8.replace(QByteArrayView("\0", 1), QByteArrayView());
        if (position < 1 || position > sqlite3_bind_parameter_count(m_stmt->get()))
            throw failure(SQLITE_RANGE, QStringLiteral("%1 (?%2)").arg(QString::fromUtf8(sqlite3_errstr(SQLITE_RANGE))).arg(position));
        // The engine reads the text where it lies, kept here until bound anew: no copy.
        QByteArray& kept = m_values[static_cast<size_t>(position - 1)];
        const int rc = sqlite3_bind_text(m_stmt->get(), position, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_STATIC);
        kept = std::move(utf8);
        if (rc != SQLITE_OK)
            throw failure(rc, QString::fromUtf8(sqlite3_errstr(rc)));
    }
    bool step() override
    {
        live();
        m_running = true;
        return m_stmt->step(m_db);
    }
    QString text(int column) const override
    {
        sqlite3_stmt* stmt = live();
        if (column < 0 || column >= sqlite3_data_count(stmt))
            throw EngineError(QStringLiteral("语句的当前行没有编号为 %1 的列").arg(column));
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        return QString::fromUtf8(text, sqlite3_column_bytes(stmt, column));
    }
    int exec() override
    {
        live();
        m_running = true;
        while (m_stmt->step(m_db)) {
        }
        const int changed = sqlite3_changes(m_db);
        stopRun();
        return changed;
    }
    void reset() override
    {
        live();
        stopRun();
    }

    // The connection closes its handle: the statement goes first.
    void end()
    {
        m_stmt.reset();
        m_connection = nullptr;
    }

private:
    sqlite3_stmt* live() const
    {
        if (!m_stmt)
            throw EngineError(QStringLiteral("数据库连接已关闭，预备的语句不能再用"));
        return m_stmt->get();
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
    std::unique_ptr<Statement> m_stmt;
    std::vector<QByteArray> m_values; // by position, from 1
    bool m_running = false;
};

std::unique_ptr<PreparedStatement> SqlCipherConnection::prepare(const QString& sql)
{
    return std::make_unique<SqlCipherStatement>(*this, sql);
}

void SqlCipherConnection::endStatements()
{
    for (SqlCipherStatement* statement : std::exchange(m_statements, {}))
        statement->end();
}

bool deliverDatabase(const QString& path, const QString& password, const QString& schemaSql)
{
    if (QFileInfo::exists(path))
        return false;
    writeNewFile(path, password, [&](sqlite3* db) {
        execOrThrow(db, "BEGIN;");
        execOrThrow(db, schemaSql.toUtf8().constData());
        execOrThrow(db, "COMMIT;");
    });
    return true;
}

void SqlCipherConnection::backupTo(const QString& target)
{
    if (QFileInfo(target).absoluteFilePath() == QFileInfo(path()).absoluteFilePath())
        throw EngineError(QStringLiteral("不能备份到正在使用的数据库文件本身，请另选一个文件。"));
    writeCopy(handle(), target, password());
}

void SqlCipherConnection::replaceFile(const QString& ready, const QString& password)
{
    closeHandle();
    removeSideFiles(path());
    moveIntoPlace(ready, path());
    setUserPassword(password);
    open();
}

bool fileOpensWith(const QString& path, const QString& password)
{
    requireNonEmpty(path);
    Handle db;
    openFile(db, path, SQLITE_OPEN_READONLY);
    try {
        keyAndConfigure(db.get(), password, false);
        return true;
    } catch (const EngineError& error) {
        if (!isWrongPassword(error))
            throw;
        return false;
    }
}

void checkDatabaseFile(const QString& path, const QString& password, const QString& requiredTable)
{
    requireNonEmpty(path);
    Handle db;
    openFile(db, path, SQLITE_OPEN_READONLY);
    keyAndConfigure(db.get(), password, false);
    Statement check(db.get(), QStringLiteral("PRAGMA integrity_check"));
    const QString verdict = check.step(db.get())
        ? QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0)))
        : QString();
    if (verdict != QStringLiteral("ok"))
        throw EngineError(QStringLiteral("数据库文件没有通过完整性检查，已损坏：%1\n%2").arg(QDir::toNativeSeparators(path), verdict),
                          SQLITE_CORRUPT);
    Statement cards(db.get(), QStringLiteral("select count(*) from sqlite_master where type='table' and name='%1'").arg(sqlQuote(requiredTable)));
    if (!cards.step(db.get()) || sqlite3_column_int(cards.get(), 0) != 1)
        throw EngineError(QStringLiteral("这个文件不是名片数据库：%1").arg(QDir::toNativeSeparators(path)), SQLITE_NOTADB);
}

void copyDatabaseFile(const QString& source, const QString& password, const QString& target)
{
    Handle db;
    openFile(db, source, SQLITE_OPEN_READONLY);
    keyAndConfigure(db.get(), password, false);
    writeCopy(db.get(), target, password);
}

sqlite3_stmt* SqlCipherConnection::prepared(const QString& sql)
{
    sqlite3* db = handle();
    const auto found = std::find_if(m_prepared.begin(), m_prepared.end(), [&](const auto& entry) { return entry.first == sql; });
    if (found != m_prepared.end()) {
        std::rotate(found, found + 1, m_prepared.end());
        sqlite3_stmt* stmt = m_prepared.back().second;
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        return stmt;
    }
    // A few lists are open at a time; statements of lists long gone are let go.
    constexpr size_t kKept = 8;
    if (m_prepared.size() >= kKept) {
        sqlite3_finalize(m_prepared.front().second);
        m_prepared.erase(m_prepared.begin());
    }
    const QByteArray utf8 = adaptSql(sql).toUtf8();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &stmt, nullptr) != SQLITE_OK)
        throw failure(db);
    m_prepared.emplace_back(sql, stmt);
    return stmt;
}

namespace {

QString quotedName(const QString& name)
{
    return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

std::string_view columnText(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return std::string_view(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
}

bool isNumeric(sqlite3_stmt* stmt, int column)
{
    const int type = sqlite3_column_type(stmt, column);
    return type == SQLITE_INTEGER || type == SQLITE_FLOAT || type == SQLITE_NULL;
}

// Steps a kept statement to its end, reset however it ends, so it holds no read lock.
template <typename Row>
void eachRow(sqlite3* db, sqlite3_stmt* stmt, const Row& row)
{
    struct Reset {
        sqlite3_stmt* stmt;
        ~Reset() { sqlite3_reset(stmt); }
    } reset{stmt};
    for (;;) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE)
            return;
        if (rc != SQLITE_ROW)
            throw failure(db);
        row();
    }
}

} // namespace

// A windowed list of this database. Its statements wrap the list's own statement, so its
// filter and order hold unchanged; the engine flattens the wrapper, so reading the keys
// touches the key index alone and a page is a handful of lookups by key.
class SqlCipherConnection::Window : public RowSource {
public:
    static constexpr int kPageKeys = 64;

    Window(SqlCipherConnection& connection, const QString& sql, const QStringList& columns)
        : m_connection(connection), m_sql(QStringLiteral("(") + sql + QStringLiteral(") AS w")), m_columns(columns)
    {
        QString marks;
        for (int i = 0; i < kPageKeys; ++i)
            marks += i == 0 ? QStringLiteral("?") : QStringLiteral(",?");
        m_pageSql = QStringLiteral("select * from ") + m_sql + QStringLiteral(" where ") + columnName(0)
            + QStringLiteral(" in (") + marks + u')';
    }

    std::vector<int64_t> readKeys()
    {
        std::vector<int64_t> keys;
        sqlite3_stmt* stmt = m_connection.prepared(QStringLiteral("select ") + columnName(0) + QStringLiteral(" from ") + m_sql);
        eachRow(m_connection.m_db, stmt, [&] { keys.push_back(sqlite3_column_int64(stmt, 0)); });
        return keys;
    }

    void fetchRows(const std::vector<int64_t>& keys, ResultSet& page) override
    {
        for (size_t from = 0; from < keys.size(); from += kPageKeys) {
            const size_t count = std::min(keys.size() - from, static_cast<size_t>(kPageKeys));
            sqlite3_stmt* stmt = m_connection.prepared(m_pageSql);
            for (size_t i = 0; i < count; ++i)
                sqlite3_bind_int64(stmt, static_cast<int>(i) + 1, keys[from + i]);
            // The rows come in the list's order; the page wants the order it asked in.
            ResultSet found(m_columns);
            std::vector<int64_t> foundKeys;
            eachRow(m_connection.m_db, stmt, [&] {
                foundKeys.push_back(sqlite3_column_int64(stmt, 0));
                for (int c = 0; c < m_columns.size(); ++c)
                    found.addCell(columnText(stmt, c), isNumeric(stmt, c));
                found.endRow();
            });
            for (size_t i = 0; i < count; ++i) {
                const auto at = std::find(foundKeys.begin(), foundKeys.end(), keys[from + i]);
                for (int c = 0; c < m_columns.size(); ++c)
                    page.addCell(at == foundKeys.end() ? std::string_view() : found.raw(static_cast<int>(at - foundKeys.begin()), c),
                                 true);
                page.endRow();
            }
        }
    }

    void readColumn(int column, const ColumnSink& take) override
    {
        sqlite3_stmt* stmt = m_connection.prepared(QStringLiteral("select ") + columnName(0) + u',' + columnName(column)
                                                   + QStringLiteral(" from ") + m_sql);
        eachRow(m_connection.m_db, stmt, [&] { take(sqlite3_column_int64(stmt, 0), columnText(stmt, 1), isNumeric(stmt, 1)); });
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

namespace {

class SqlCipherRow : public Database::Row {
public:
    explicit SqlCipherRow(sqlite3_stmt* stmt) : m_stmt(stmt) {}
    int64_t integer(int column) const override { return sqlite3_column_int64(m_stmt, column); }
    std::string_view utf8(int column) const override { return columnText(m_stmt, column); }

private:
    sqlite3_stmt* m_stmt;
};

} // namespace

int SqlCipherConnection::runBound(const QString& sql, const QVariantList& values, const RowHandler& row)
{
    sqlite3_stmt* stmt = prepared(sql);
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& value = values[i];
        if (value.typeId() == QMetaType::QString) {
            const QByteArray utf8 = value.toString().toUtf8();
            sqlite3_bind_text(stmt, i + 1, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
        } else if (value.typeId() == QMetaType::QByteArray) {
            const QByteArray bytes = value.toByteArray();
            sqlite3_bind_blob(stmt, i + 1, bytes.constData(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_int64(stmt, i + 1, value.toLongLong());
        }
    }
    const SqlCipherRow current(stmt);
    eachRow(m_db, stmt, [&] {
        if (row)
            row(current);
    });
    return sqlite3_stmt_readonly(stmt) ? 0 : sqlite3_changes(m_db);
}

int64_t SqlCipherConnection::lastInsertId()
{
    return sqlite3_last_insert_rowid(handle());
}

ResultSet SqlCipherConnection::selectWindowed(const QString& sql)
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
    auto window = std::make_shared<Window>(*this, sql, names);
    std::vector<int64_t> keys = window->readKeys();
    return ResultSet::windowed(names, std::move(keys), std::move(window));
}

std::vector<qint64> SqlCipherConnection::sumsInKeyRuns(const QString& sql, std::vector<int64_t> keys)
{
    // A list in its statement's order is mostly newest first already.
    if (std::is_sorted(keys.rbegin(), keys.rend()))
        std::reverse(keys.begin(), keys.end());
    else
        std::sort(keys.begin(), keys.end());
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
    sqlite3_stmt* stmt = prepared(sql);
    std::vector<qint64> totals(static_cast<size_t>(sqlite3_column_count(stmt)));
    for (size_t first = 0; first < keys.size();) {
        size_t last = first;
        while (last + 1 < keys.size() && keys[last + 1] == keys[last] + 1)
            ++last;
        sqlite3_bind_int64(stmt, 1, keys[first]);
        sqlite3_bind_int64(stmt, 2, keys[last]);
        eachRow(m_db, stmt, [&] {
            for (size_t c = 0; c < totals.size(); ++c)
                totals[c] += sqlite3_column_int64(stmt, static_cast<int>(c));
        });
        first = last + 1;
    }
    return totals;
}

} // namespace ostrel

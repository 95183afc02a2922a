#pragma once
#include "connection.h"

#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace ostrel {

// The card database: a SQLCipher file keyed with the connection string's password.
class SqlCipherConnection : public Connection {
public:
    SqlCipherConnection() = default;
    ~SqlCipherConnection() override;
    SqlCipherConnection(const SqlCipherConnection&) = delete;
    SqlCipherConnection& operator=(const SqlCipherConnection&) = delete;

    bool isOpen() const override { return m_db != nullptr; }
    // Opened for reading only: the file or its folder cannot be written.
    bool isReadOnly() const { return m_db && m_readOnly; }
    void open() override;
    void close() override;
    ResultSet select(const QString& sql) override;
    int execute(const QString& sql) override;
    int countRows(const QString& sql) override;
    ResultSet selectWindowed(const QString& sql) override;
    // Runs sql, a count of the rows whose key lies between ?1 and ?2, once for each run of
    // consecutive numbers among keys, and returns the sum: a count over a key index that
    // never reads a row, and never looks up a key one by one.
    qint64 countInKeyRuns(const QString& sql, std::vector<int64_t> keys);

    void beginTransaction();
    void commit();
    void rollback();
    bool inTransaction() const;

    // Writes a consistent copy of the database to target with the engine's online backup,
    // keyed with the same password. target is replaced only once the copy is whole.
    void backupTo(const QString& target);
    // Closes the connection and puts the finished database file ready in place of its
    // file; the next statement opens it.
    void replaceFile(const QString& ready);

private:
    class Window;
    sqlite3* handle();
    // A statement prepared once and kept while the connection is open, reset for reuse.
    sqlite3_stmt* prepared(const QString& sql);

    sqlite3* m_db = nullptr;
    std::vector<std::pair<QString, sqlite3_stmt*>> m_prepared; // most recently used last
    bool m_readOnly = false;
};

// Keys a freshly opened handle and applies the storage settings every open needs (the
// cipher page size is not stored in the file); a handle that may not write keeps the
// file's journal setting. Throws EngineError with the engine's text.
void keyAndConfigure(sqlite3* db, const QString& password, bool writable = true);

// Writes a new encrypted database at path from the schema text, unless a file is already
// there. Returns whether it wrote one. Throws EngineError.
bool deliverDatabase(const QString& path, const QString& password, const QString& schemaSql);

// Throws EngineError unless path is a card database that opens with password and passes
// the engine's integrity check.
void checkDatabaseFile(const QString& path, const QString& password);
// Writes a consistent copy of the database file source to target (see backupTo).
void copyDatabaseFile(const QString& source, const QString& password, const QString& target);

} // namespace ostrel

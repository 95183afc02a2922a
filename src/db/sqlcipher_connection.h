#pragma once
#include "connection.h"

struct sqlite3;

namespace ostrel {

// The card database: a SQLCipher file keyed with the connection string's password.
class SqlCipherConnection : public Connection {
public:
    SqlCipherConnection() = default;
    ~SqlCipherConnection() override;
    SqlCipherConnection(const SqlCipherConnection&) = delete;
    SqlCipherConnection& operator=(const SqlCipherConnection&) = delete;

    bool isOpen() const override { return m_db != nullptr; }
    void open() override;
    void close() override;
    ResultSet select(const QString& sql) override;
    int execute(const QString& sql) override;
    int countRows(const QString& sql) override;

    void beginTransaction();
    void commit();
    void rollback();
    bool inTransaction() const;

private:
    sqlite3* handle();

    sqlite3* m_db = nullptr;
};

// Keys a freshly opened handle and applies the storage settings every open needs (the
// cipher page size is not stored in the file). Throws EngineError with the engine's text.
void keyAndConfigure(sqlite3* db, const QString& password);

// Writes a new encrypted database at path from the schema text, unless a file is already
// there. Returns whether it wrote one. Throws EngineError.
bool deliverDatabase(const QString& path, const QString& password, const QString& schemaSql);

} // namespace ostrel

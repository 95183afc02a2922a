#pragma once

#include "engine/database.h"

#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace ostrel {

class SqlCipherStatement;

// The card database: a SQLCipher file encrypted with the connection string's password (the
// program's own), or with the user's password once one is set.
class SqlCipherConnection : public Database {
public:
    explicit SqlCipherConnection(DatabaseRules rules = {}) : m_rules(std::move(rules)) {}
    ~SqlCipherConnection() override;
    SqlCipherConnection(const SqlCipherConnection&) = delete;
    SqlCipherConnection& operator=(const SqlCipherConnection&) = delete;

    bool isOpen() const override { return m_db != nullptr; }
    // Opened for reading only: the file or its folder cannot be written.
    bool isReadOnly() const override { return m_db && m_readOnly; }
    // Opens with the user's password when one is held, else with the connection string's.
    void open() override;
    // Also forgets the user's password.
    void close() override;
    // Opens with password, or with the connection string's when password is empty. Any other
    // password is the user's: held in memory only, to reopen, until close(). Returns false,
    // and stays closed, when the file does not open with that password (a wrong one, or no
    // database at all); throws EngineError for every other failure.
    bool openWithPassword(const QString& password = {});
    bool hasUserPassword() const { return !m_userPassword.isEmpty(); }
    // Whether the database file opens with password (tried on a handle of its own).
    bool opensWithPassword(const QString& password) const;
    // The password this database's files get: the user's or the connection string's.
    // Never to be shown or written anywhere.
    QString password() const;
    // Encrypts the database in place with a new password through the engine's own re-key: one
    // write transaction, so an interruption leaves the file whole with the old password (the
    // journal beside it rolls it back on the next open). An empty password goes back to the
    // connection string's.
    void changePassword(const QString& password);
    ResultSet select(const QString& sql) override;
    int execute(const QString& sql) override;
    int countRows(const QString& sql) override;
    ResultSet selectPaged(const QString& sql) override;
    // Runs sql, counts of the rows whose ID lies between ?1 and ?2, once for each run of
    // consecutive numbers among ids, and returns the sum of each column: counts over ID
    // indexes that never read a row, and never look up an ID one by one.
    std::vector<qint64> sumsInIdRuns(const QString& sql, std::vector<int64_t> ids) override;
    // Takes a kept statement of the text that is not being stepped, or prepares one.
    std::unique_ptr<PreparedStatement> prepare(const QString& sql) override;
    int64_t lastInsertId() override;

    void beginTransaction() override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override;
    QString displayName() const override { return path(); }
    bool has(Capability) const override { return true; }
    void releaseCache() override;
    void keepCacheSmall(bool on) override;

    // Writes a consistent copy of the database to target with the engine's online backup,
    // encrypted with the same password as the database (password()). target is replaced only
    // once the copy is whole.
    void backupTo(const QString& target);
    // Closes the connection and puts the finished database file ready, encrypted with password
    // (see openWithPassword), in place of its file, and opens it.
    void replaceFile(const QString& ready, const QString& password);

private:
    DatabaseRules m_rules;
    class ListPager;
    friend class SqlCipherStatement;
    sqlite3* handle();
    QString path() const;
    QString passwordSetting() const; // the connection string's password, the program's own
    // Closes the engine's handle but keeps the user's password for the next open.
    void closeHandle();
    void setUserPassword(const QString& password);

    // The statement cache: a statement of the text that no one is stepping, or a new one;
    // each goes back to the cache, reset, when its statement object ends.
    sqlite3_stmt* takeStatement(const QString& sql);
    void keepStatement(const QString& sql, sqlite3_stmt* stmt);
    // Ends the statements handed out and those kept, before the handle goes.
    void endStatements();

    // For a read of every row of a long list, which no later read finds again in the cache:
    // the cache is emptied and kept small meanwhile, so that the pages the refreshes keep do
    // not sit beside the reader's own memory, then it is back to its size, empty.
    class PassingRead {
    public:
        explicit PassingRead(SqlCipherConnection& connection);

    private:
        std::optional<SmallCacheHold> m_hold; // taken once the file is open
    };

    sqlite3* m_db = nullptr;
    bool m_readOnly = false;
    int m_smallCacheHolds = 0; // keepCacheSmall(true) calls not yet ended
    QString m_userPassword;
    std::vector<SqlCipherStatement*> m_statements; // handed out on the open handle
    std::vector<std::pair<QString, sqlite3_stmt*>> m_idle; // kept, most recently used last
};

// Keys a freshly opened handle and applies the storage settings every open needs (the
// cipher page size is not stored in the file); a handle that may not write keeps the
// file's journal setting. Throws EngineError with the engine's text.
void keyAndConfigure(sqlite3* db, const QString& password, bool writable = true);

// Writes a new encrypted database at path from the schema text, unless a file is already
// there. Returns whether it wrote one. Throws EngineError.
bool deliverDatabase(const QString& path, const QString& password, const QString& schemaSql);

// Whether the database file at path opens with password: false for a wrong one (or no
// database at all), EngineError for a missing or empty file.
bool fileOpensWith(const QString& path, const QString& password);

// Throws EngineError unless path is a card database that opens with password and passes
// the engine's integrity check.
void checkDatabaseFile(const QString& path, const QString& password, const QString& requiredTable);
// Writes a consistent copy of the database file source to target (see backupTo).
void copyDatabaseFile(const QString& source, const QString& password, const QString& target);

} // namespace ostrel

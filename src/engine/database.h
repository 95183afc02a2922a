#pragma once
#include "engine/connection.h"

#include <QHash>
#include <QVariantList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel {

// What one engine can do and another cannot: callers ask this rather than test types.
enum class Capability {
    // The database is one file on this desktop: backups, restoring it and a password of the
    // user's own belong to it.
    LocalFile,
    // A failed statement inside a transaction leaves the transaction usable. Where it does not
    // (a server aborts the transaction), work that goes on after a failed row needs a savepoint
    // around each row.
    FailedStatementKeepsTransaction,
};

// What an engine must know of the schema it serves, handed in by whoever opens the database:
// the engines themselves know no table.
struct DatabaseRules {
    // Every table and column name keyed by its lower-case spelling, giving the spelling the
    // schema writes: a server quotes them so that their case holds.
    QHash<QString, QString> names;
    // Reads a row's change counter, the row's ID bound to ?1; empty where the schema keeps none.
    QString changeCounterSql;
    // Functions of two UTF-8 texts giving an integer, callable by name in statements of the
    // file (a server defines its own in its schema).
    using TextFunction = int (*)(std::string_view, std::string_view);
    std::vector<std::pair<QByteArray, TextFunction>> functions;
};

// A database: an encrypted file on this desktop, or a team's server. Everything above the
// engines reaches it only through this, so both engines run the same statement texts.
class Database : public Connection {
public:
    // A row of runBound: the statement at its current row, read by position (from 0).
    // Valid only inside the handler.
    using Row = PreparedStatement;
    using RowHandler = std::function<void(const Row&)>;

    // Runs sql through prepare() with the values (texts, integers, bytes as a QByteArray, or
    // null for an invalid QVariant) bound to ?1, ?2 …; hands each row to row. Returns the
    // rows changed. A handler may run further statements on the same database, also of the
    // same text.
    int runBound(const QString& sql, const QVariantList& values, const RowHandler& row = {});
    // The first column of the first row of sql with the values bound as by runBound; 0 when
    // there is no row.
    int64_t firstInteger(const QString& sql, const QVariantList& values = {});
    // Runs sql, counts of the rows whose ID lies between ?1 and ?2, once for each run of
    // consecutive numbers among ids, and returns the sum of each column.
    virtual std::vector<qint64> sumsInIdRuns(const QString& sql, std::vector<int64_t> ids) = 0;
    // The ID the engine gave the row last inserted through this connection.
    virtual int64_t lastInsertId() = 0;

    virtual void beginTransaction() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual bool inTransaction() const = 0;

    // The card's change counter, which every saved change of the card raises, or -1 where the
    // engine keeps none (the file has one user at a time). Read when a card is loaded, and
    // again inside the save's transaction (where a server also locks the card until the
    // commit): a different number means someone else saved the card meanwhile.
    virtual int64_t changeCounter(int64_t card)
    {
        (void)card;
        return -1;
    }

    virtual bool has(Capability capability) const = 0;

    // Gives back the memory of the pages the engine has cached so far, where it keeps any:
    // after the reads of the start, which later work does not read again.
    virtual void releaseCache() {}
    // For work that passes over many pages once (a long import's writes, a read of every
    // row): while on, the engine's cache, where it keeps one, stays small, so that those
    // pages never gather beside the caller's own memory; either way the cache is emptied.
    // Calls nest: the cache is back to its size after the last "off".
    virtual void keepCacheSmall(bool on) { (void)on; }

    // Whether changes cannot be saved (a file opened for reading only).
    virtual bool isReadOnly() const { return false; }
    // Names the database in use for the main window: the file's path or the server.
    virtual QString displayName() const = 0;
};

// keepCacheSmall for the length of a scope.
class SmallCacheHold {
public:
    explicit SmallCacheHold(Database& db) : m_db(db) { m_db.keepCacheSmall(true); }
    ~SmallCacheHold() { m_db.keepCacheSmall(false); }
    SmallCacheHold(const SmallCacheHold&) = delete;
    SmallCacheHold& operator=(const SmallCacheHold&) = delete;

private:
    Database& m_db;
};

} // namespace ostrel

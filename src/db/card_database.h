#pragma once
#include "connection.h"

#include <QVariantList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace ostrel {

class SqlCipherConnection;

// The card database: the encrypted file on this desktop, or a team's server. The windows
// and the engine's own helpers reach it only through this, so both engines run the same
// statement texts.
class CardDatabase : public Connection {
public:
    // A row of runBound, its columns by position (from 0). Valid only inside the handler.
    class Row {
    public:
        virtual ~Row() = default;
        virtual int64_t integer(int column) const = 0;
        // The column's text as the engine holds it, UTF-8; empty for a missing value.
        virtual std::string_view utf8(int column) const = 0;
        QString text(int column) const
        {
            const std::string_view v = utf8(column);
            return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
        }
    };
    using RowHandler = std::function<void(const Row&)>;

    // Runs sql, kept prepared, with the values (integers or texts) bound to ?1, ?2 … by the
    // engine, never pasted into the text; hands each row to row. Returns the rows changed.
    // A handler may run further statements on the same database.
    virtual int runBound(const QString& sql, const QVariantList& values, const RowHandler& row = {}) = 0;
    // Runs sql, counts of the rows whose key lies between ?1 and ?2, once for each run of
    // consecutive numbers among keys, and returns the sum of each column.
    virtual std::vector<qint64> sumsInKeyRuns(const QString& sql, std::vector<int64_t> keys) = 0;
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

    // Whether changes cannot be saved (a file opened for reading only).
    virtual bool isReadOnly() const { return false; }
    // Names the database in use for the main window: the file's path or the server.
    virtual QString displayName() const = 0;
    // The encrypted file behind this database, or null for a server: backups, restoring
    // and the user's password belong to the file alone.
    virtual SqlCipherConnection* file() { return nullptr; }
};

// The team server's settings beside the card database: where it is asked for, and the one
// text its engine connects with.
inline constexpr char kServerSettingsFile[] = "Data/server.conf";
// The connection text in a server settings file: a PostgreSQL connection URI or key=value
// pairs over one or more lines; lines starting with # and blank lines are left out. Throws
// EngineError, in words a user can act on, when the file cannot be read or sets nothing.
QString readServerSettings(const QString& path);

// The card database of the program in programFolder (ending in its separator), not yet
// opened: the team server that Data/server.conf names, else the encrypted file Data/db.edb.
// A server that was asked for is never replaced by the file: a settings file that cannot be
// used throws EngineError.
std::unique_ptr<CardDatabase> openCardDatabaseFor(const QString& programFolder);

} // namespace ostrel

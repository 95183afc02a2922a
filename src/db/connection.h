#pragma once
#include "result_set.h"

#include <QString>

namespace ostrel {

// A database the program reads through statements: the card database or a workbook.
// Opened by the first statement that needs it, then kept open.
class Connection {
public:
    virtual ~Connection() = default;

    // Setting a new text closes the connection; the next statement opens it again.
    void setConnectionString(const QString& text)
    {
        close();
        m_connectionString = text;
    }
    const QString& connectionString() const { return m_connectionString; }

    virtual bool isOpen() const = 0;
    virtual void open() = 0;
    virtual void close() = 0;
    // Runs a query and returns its rows. Throws EngineError.
    virtual ResultSet select(const QString& sql) = 0;
    // Runs an INSERT, UPDATE or DELETE and returns the number of rows it changed.
    virtual int execute(const QString& sql) = 0;
    // The number of rows a query returns, without keeping them.
    virtual int countRows(const QString& sql) { return select(sql).rowCount(); }
    // The rows of a query whose first column is an integer key that tells its rows apart
    // (a card list): an engine that can reads only the keys now and the other columns of
    // the rows looked at later (ResultSet::windowed). Others read every row at once.
    virtual ResultSet selectWindowed(const QString& sql) { return select(sql); }

private:
    QString m_connectionString;
};

} // namespace ostrel

#pragma once
#include "engine/result_set.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <string_view>

namespace ostrel {

// A statement parsed once and run many times: each `?` in its text stands for a value bound
// by position (from 1), which the engine takes as a whole value, so no value can end a
// literal or add a statement. Failures throw EngineError like every engine call.
class PreparedStatement {
public:
    virtual ~PreparedStatement() = default;

    // Binds the position's value for the next run; a statement that ran is made ready to
    // run again first. Values bound earlier stay until bound anew. A text is stored as the
    // quoted text would store it: without NUL characters.
    virtual void bind(int position, const QString& text) = 0;
    virtual void bind(int position, int64_t value) = 0;
    virtual void bindNull(int position) = 0;
    // Bytes kept as they are (an image), NUL bytes included.
    virtual void bindBytes(int position, const QByteArray& bytes) = 0;
    // Runs to the next row: false when there is none (left).
    virtual bool step() = 0;
    // The current row's column (from 0) as the engine holds it, UTF-8; a missing value reads
    // as the empty text. Valid until the next step.
    virtual std::string_view utf8(int column) const = 0;
    // The current row's column as an integer; a missing value reads as 0.
    virtual int64_t integer(int column) const = 0;
    // Whether the current row's column holds a number or nothing (for sorting a list).
    virtual bool isNumber(int column) const = 0;
    QString text(int column) const
    {
        const std::string_view value = utf8(column);
        return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    }
    // The number of columns of the statement's rows.
    virtual int columnCount() const = 0;
    // Runs a command to its end, makes the statement ready to run again, and returns the
    // number of rows it changed.
    virtual int exec() = 0;
    // Ends the current run (releasing what its rows hold) so the statement can run again.
    virtual void reset() = 0;
};

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
    // The rows of a query whose first column is an integer ID that tells its rows apart
    // (a card list): an engine that can reads only the IDs now and the other columns of
    // the rows looked at later (ResultSet::paged). Others read every row at once.
    virtual ResultSet selectPaged(const QString& sql) { return select(sql); }
    // Parses a statement with `?` placeholders once, for running many times: the one way a
    // value is bound into a statement. Two statements of the same text never share their
    // rows, so a statement may be prepared again while another of its text is being stepped.
    // The statement must not outlive the connection; closing the connection ends it (using
    // it afterwards throws EngineError).
    virtual std::unique_ptr<PreparedStatement> prepare(const QString& sql) = 0;

private:
    QString m_connectionString;
};

} // namespace ostrel

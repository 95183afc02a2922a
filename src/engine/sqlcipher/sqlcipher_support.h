#pragma once
// What the file engine's own sources share: its failures, handles and statements that end
// themselves. Not for use outside engine/sqlcipher.
#include "engine/engine_error.h"

#include <QString>

#include <string_view>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace ostrel::sqlcipher {

// The engine's failure as the user is told it: what to do, then the engine's own text.
EngineError failure(int code, const QString& text);
EngineError failure(sqlite3* db);

void execOrThrow(sqlite3* db, const char* sql);

// Prepares one statement (adapted to the engine); throws for a failure, an empty text or a
// second statement after the first.
sqlite3_stmt* prepareOne(sqlite3* db, const QString& sql);

// Returns true while a row is there; throws on an engine error.
bool stepRow(sqlite3* db, sqlite3_stmt* stmt);

// The column's text, empty for a missing value.
std::string_view columnText(sqlite3_stmt* stmt, int column);
// Whether the column holds a number or nothing.
bool isNumeric(sqlite3_stmt* stmt, int column);

// A prepared statement that finalises itself.
class Statement {
public:
    Statement(sqlite3* db, const QString& sql) : m_db(db), m_stmt(prepareOne(db, sql)) {}
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool step() { return stepRow(m_db, m_stmt); }
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt;
};

// A handle that closes itself.
class Handle {
public:
    Handle() = default;
    ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    sqlite3** out() { return &m_db; }
    sqlite3* get() const { return m_db; }
    sqlite3* release() { return std::exchange(m_db, nullptr); }

private:
    sqlite3* m_db = nullptr;
};

// Opens a database file without ever creating it. Throws with the path named.
void openFile(Handle& handle, const QString& path, int flags);

// An empty file would be taken for an empty database and the first write would make it
// one: refuse it before the engine sees it.
void requireNonEmpty(const QString& path);

// The engine's answer when the key does not fit the file (or the file is no database).
bool isWrongPassword(const EngineError& error);

} // namespace ostrel::sqlcipher

#include "engine/sqlcipher/sqlcipher_support.h"

#include "engine/sql_text.h"

#include <sqlcipher/sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ostrel::sqlcipher {

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

sqlite3_stmt* prepareOne(sqlite3* db, const QString& sql)
{
    const QByteArray utf8 = adaptSql(sql).toUtf8();
    const char* tail = nullptr;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &stmt, &tail) != SQLITE_OK)
        throw failure(db);
    for (; tail && *tail; ++tail) {
        if (*tail != ';' && !QChar::isSpace(static_cast<unsigned char>(*tail))) {
            sqlite3_finalize(stmt);
            throw EngineError(QStringLiteral("一次只能执行一条语句"));
        }
    }
    if (!stmt)
        throw EngineError(QStringLiteral("语句为空"));
    return stmt;
}

bool stepRow(sqlite3* db, sqlite3_stmt* stmt)
{
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throw failure(db);
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

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Handle::~Handle()
{
    sqlite3_close(m_db);
}

void openFile(Handle& handle, const QString& path, int flags)
{
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), handle.out(), flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString text = handle.get() ? QString::fromUtf8(sqlite3_errmsg(handle.get())) : QStringLiteral("out of memory");
        throw failure(rc, QStringLiteral("%1: %2").arg(text, QDir::toNativeSeparators(path)));
    }
}

// (Damaged, not a wrong password: no one is asked for another.)
void requireNonEmpty(const QString& path)
{
    const QFileInfo file(path);
    if (file.exists() && file.isFile() && file.size() == 0)
        throw EngineError(QStringLiteral("数据库文件是空的（0 字节）或已损坏，没有打开它：%1\n请用“恢复数据…”从备份恢复。")
                              .arg(QDir::toNativeSeparators(path)),
                          SQLITE_CORRUPT);
}

bool isWrongPassword(const EngineError& error)
{
    return error.code() == SQLITE_NOTADB;
}

} // namespace ostrel::sqlcipher

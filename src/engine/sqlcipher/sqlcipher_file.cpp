// The database file as a whole: delivering a new one, copying, checking and replacing it.
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "engine/sqlcipher/sqlcipher_support.h"

#include "engine/sql_text.h"

#include <sqlcipher/sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

namespace ostrel {

using namespace sqlcipher;

namespace {

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
    const QString verdict = check.step() ? QString::fromUtf8(columnText(check.get(), 0)) : QString();
    if (verdict != QStringLiteral("ok"))
        throw EngineError(QStringLiteral("数据库文件没有通过完整性检查，已损坏：%1\n%2").arg(QDir::toNativeSeparators(path), verdict),
                          SQLITE_CORRUPT);
    Statement cards(db.get(), QStringLiteral("select count(*) from sqlite_master where type='table' and name='%1'").arg(sqlQuote(requiredTable)));
    if (!cards.step() || sqlite3_column_int(cards.get(), 0) != 1)
        throw EngineError(QStringLiteral("这个文件不是名片数据库：%1").arg(QDir::toNativeSeparators(path)), SQLITE_NOTADB);
}

void copyDatabaseFile(const QString& source, const QString& password, const QString& target)
{
    Handle db;
    openFile(db, source, SQLITE_OPEN_READONLY);
    keyAndConfigure(db.get(), password, false);
    writeCopy(db.get(), target, password);
}

} // namespace ostrel

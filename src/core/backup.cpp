#include "core/backup.h"

#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/sqlcipher/sqlcipher_connection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace ostrel {

QString writeDailyBackup(SqlCipherConnection& db, const QString& folder, const QDate& day, int keep)
{
    const QDir dir(folder);
    const QString path = dir.filePath(QStringLiteral("db-%1.edb").arg(day.toString(QStringLiteral("yyyy-MM-dd"))));
    db.backupTo(path);
    // The dates in the names sort as the days do.
    static const QRegularExpression daily(QStringLiteral("^db-\\d{4}-\\d{2}-\\d{2}\\.edb$"));
    QStringList backups = dir.entryList({QStringLiteral("db-*.edb")}, QDir::Files, QDir::Name | QDir::Reversed)
                              .filter(daily);
    for (qsizetype i = keep; i < backups.size(); ++i)
        QFile::remove(dir.filePath(backups[i]));
    return path;
}

QString restoreDatabase(SqlCipherConnection& db, const QString& source, const QString& folder, const QDateTime& now,
                        const std::optional<QString>& sourcePassword)
{
    const QString path = ConnectionString(db.connectionString()).value(kDataSourceKey);
    const QString password = sourcePassword.value_or(db.password());
    if (QFileInfo(source).canonicalFilePath() == QFileInfo(path).canonicalFilePath())
        throw EngineError(QStringLiteral("选择的就是正在使用的数据库文件，不能用它恢复。"));
    checkDatabaseFile(source, password, QStringLiteral("D_B"));

    // The new file is made whole beside the current one before anything is replaced.
    const QString ready = path + QStringLiteral(".restore");
    copyDatabaseFile(source, password, ready);
    QString kept;
    try {
        if (QFileInfo::exists(path)) {
            kept = QDir(folder).filePath(QStringLiteral("恢复前-%1.edb").arg(now.toString(QStringLiteral("yyyy-MM-dd-HHmmss"))));
            QDir().mkpath(folder);
            if (db.isOpen())
                db.backupTo(kept);
            else if (!QFile::copy(path, kept)) // a file the engine cannot open is kept as it is
                throw EngineError(QStringLiteral("无法把当前的数据库文件保存到 %1，没有恢复。").arg(QDir::toNativeSeparators(kept)));
        }
        db.replaceFile(ready, password);
    } catch (...) {
        QFile::remove(ready);
        throw;
    }
    return kept;
}

} // namespace ostrel

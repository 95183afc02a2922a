#pragma once
#include <QDate>
#include <QDateTime>
#include <QString>

#include <optional>

namespace ostrel {

class SqlCipherConnection;

// How many automatic backups stay in the backup folder; older ones are removed.
inline constexpr int kBackupsKept = 10;

// Writes the day's automatic backup of db into folder ("db-2026-12-09.edb"; a later one
// of the same day replaces it) and removes all but the newest keep of them. Returns the
// file written. Throws EngineError.
QString writeDailyBackup(SqlCipherConnection& db, const QString& folder, const QDate& day, int keep = kBackupsKept);

// Replaces db's file by a copy of source once source has passed the checks (opens with
// sourcePassword, by default db's password; passes the integrity check; holds cards). The
// restored file keeps sourcePassword, and db goes on with it. The current file is kept in folder first
// ("恢复前-2026-12-09-133045.edb"). Returns that kept file, or the empty text when there was
// no current file. Nothing changes when a check fails. Throws EngineError.
QString restoreDatabase(SqlCipherConnection& db, const QString& source, const QString& folder, const QDateTime& now,
                        const std::optional<QString>& sourcePassword = std::nullopt);

} // namespace ostrel

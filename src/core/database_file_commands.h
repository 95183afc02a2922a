#pragma once
#include "core/schema_upgrade.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <optional>

namespace ostrel {

class SqlCipherConnection;

// What only the encrypted card file on this desktop has, for the windows: opening it with the
// user's password, backups, restoring, the password itself and the one-time upgrade. The
// factory that opens the card database makes one beside the file's engine and none for a
// server, so the windows ask whether there is one instead of looking at the engine.
class DatabaseFileCommands {
public:
    explicit DatabaseFileCommands(SqlCipherConnection& file) : m_file(file) {}

    // Opens the file with password, or with the program's own when it is empty. Returns false,
    // and stays closed, when the file does not open with it.
    bool openWithPassword(const QString& password = {});
    // Opens the file with the password it was last opened with.
    void open();
    bool hasUserPassword() const;
    bool opensWithPassword(const QString& password) const;
    // Encrypts the file with a new password; an empty one goes back to the program's own.
    void changePassword(const QString& password);

    // A consistent copy of the file at path, with the password in use.
    void backupTo(const QString& path);
    // Whether there is anything to keep at the day's backup: the file opened and can be written.
    bool takesDailyBackup() const;
    // Writes the day's backup into folder, keeping the newest few (see writeDailyBackup).
    void writeDailyBackup(const QString& folder, const QDate& day);

    // The password among those the program knows (the one in use, the program's own) that
    // opens the backup at source; none when it has one of its own.
    std::optional<QString> knownPasswordOf(const QString& source) const;
    // Whether the backup at source opens with password.
    static bool sourceOpensWith(const QString& source, const QString& password);
    struct Restored {
        QString kept;         // the file in use before, kept in the backup folder; empty when none
        bool passwordChanged = false; // the restored file opens with another password than the one in use
    };
    // Puts the checked backup at source, which opens with password, in place of the file, the
    // current file kept in folder first (see restoreDatabase).
    Restored restore(const QString& source, const QString& password, const QString& folder, const QDateTime& now);

    // Brings a file written by an older version up to date (see upgradeSchema). Returns whether
    // quick find can be used: a read-only older file has no search key table.
    bool upgrade(const UpgradeProgress& progress = {});

private:
    SqlCipherConnection& m_file;
};

} // namespace ostrel

#include "core/database_file_commands.h"

#include "core/backup.h"
#include "core/open_database.h"
#include "core/schema_upgrade.h"
#include "engine/sqlcipher/sqlcipher_connection.h"

namespace ostrel {

bool DatabaseFileCommands::openWithPassword(const QString& password)
{
    return m_file.openWithPassword(password);
}

void DatabaseFileCommands::open()
{
    m_file.open();
}

bool DatabaseFileCommands::hasUserPassword() const
{
    return m_file.hasUserPassword();
}

bool DatabaseFileCommands::opensWithPassword(const QString& password) const
{
    return m_file.opensWithPassword(password);
}

void DatabaseFileCommands::changePassword(const QString& password)
{
    m_file.changePassword(password);
}

void DatabaseFileCommands::backupTo(const QString& path)
{
    m_file.backupTo(path);
}

bool DatabaseFileCommands::takesDailyBackup() const
{
    return m_file.isOpen() && !m_file.isReadOnly();
}

void DatabaseFileCommands::writeDailyBackup(const QString& folder, const QDate& day)
{
    ostrel::writeDailyBackup(m_file, folder, day);
}

std::optional<QString> DatabaseFileCommands::knownPasswordOf(const QString& source) const
{
    // A backup made before the user set a password opens with the program's own.
    for (const QString& known : {m_file.password(), QString::fromLatin1(kDatabasePassword)})
        if (fileOpensWith(source, known))
            return known;
    return std::nullopt;
}

bool DatabaseFileCommands::sourceOpensWith(const QString& source, const QString& password)
{
    return fileOpensWith(source, password);
}

DatabaseFileCommands::Restored DatabaseFileCommands::restore(const QString& source, const QString& password,
                                                             const QString& folder, const QDateTime& now)
{
    const QString before = m_file.password();
    Restored restored;
    restored.kept = restoreDatabase(m_file, source, folder, now, password);
    restored.passwordChanged = password != before;
    return restored;
}

bool DatabaseFileCommands::upgrade(const UpgradeProgress& progress)
{
    return upgradeSchema(m_file, progress) != UpgradeResult::ReadOnly || hasSearchKeys(m_file);
}

} // namespace ostrel

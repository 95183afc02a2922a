#include "core/database_file_commands.h"
#include "core/open_database.h"
#include "test_database.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace ostrel;

// A backup is recognised by a password the program knows (the one in use, the program's own)
// or needs the user's; a restore says when the file now opens with another password.
TEST(DatabaseFileCommands, RestoreKnowsTheBackupsPasswordAndSaysWhenItChanges)
{
    const struct {
        const char* what;
        const char* backupPassword; // "" for the program's own
        const char* inUse;          // the file's password when restoring; "" for the program's own
        bool known;
        bool changed;
    } cases[] = {
        {"both the program's own", "", "", true, false},
        {"made before the password was set", "", "甲", true, true},
        {"made with the password in use", "甲", "甲", true, false},
        {"a password of its own", "乙", "", false, true},
        {"another password than the one in use", "乙", "甲", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const test::TestDatabase copy;
        OpenedCardDatabase opened = openCardFile(copy.connectionString());
        DatabaseFileCommands& file = *opened.fileCommands;
        EXPECT_FALSE(file.takesDailyBackup()) << "not open yet";
        ASSERT_TRUE(file.openWithPassword());
        EXPECT_TRUE(file.takesDailyBackup());
        const QString backup = copy.programDir() + QStringLiteral("备份.edb");
        file.changePassword(QString::fromUtf8(c.backupPassword));
        file.backupTo(backup);
        file.changePassword(QString::fromUtf8(c.inUse));

        const std::optional<QString> known = file.knownPasswordOf(backup);
        const QString password = *c.backupPassword ? QString::fromUtf8(c.backupPassword) : QString::fromLatin1(kDatabasePassword);
        EXPECT_EQ(known.has_value(), c.known);
        if (known) {
            EXPECT_EQ(*known, password);
        }
        EXPECT_TRUE(DatabaseFileCommands::sourceOpensWith(backup, password));
        const DatabaseFileCommands::Restored restored =
            file.restore(backup, password, copy.programDir() + QStringLiteral("Data/Backup"), QDateTime(QDate(2026, 12, 9), QTime(13, 30)));
        EXPECT_EQ(restored.passwordChanged, c.changed);
        EXPECT_FALSE(restored.kept.isEmpty());
        EXPECT_EQ(file.hasUserPassword(), *c.backupPassword != 0);
        EXPECT_TRUE(file.opensWithPassword(password));
    }
}

#include "engine/connection_string.h"

#include "engine/database.h"
#include "engine/engine_error.h"

#include "qt_print.h"
#include "test_database.h"
#include "core/open_database.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrel;

TEST(ConnectionString, CardDatabaseTextHasTheEighteenPairsInOrder)
{
    const QString text = cardConnectionString(QStringLiteral("C:/Card/"));
    EXPECT_EQ(text,
              QStringLiteral("provider=Microsoft.Jet.OLEDB.4.0;user ID=Admin;Data Source=C:/Card/Data/db.edb;"
                             "Mode=Share Deny None;Extended Properties=\"\";Jet OLEDB:System database=\"\";"
                             "Jet OLEDB:Registry Path=\"\";Jet OLEDB:Database Password=\"kqv749\";"
                             "Jet OLEDB:Engine Type=5;Jet OLEDB:Database Locking Mode=1;"
                             "Jet OLEDB:Global Partial Bulk Ops=2;Jet OLEDB:Global Bulk Transactions=1;"
                             "Jet OLEDB:New Database Password=\"\";Jet OLEDB:Create System Database=False;"
                             "Jet OLEDB:Encrypt Database=False;Jet OLEDB:Don't Copy Locale on Compact=False;"
                             "Jet OLEDB:Compact Without Replica Repair=False;Jet OLEDB:SFP=False"));
    EXPECT_EQ(ConnectionString(text).pairs().size(), 18);
}

TEST(ConnectionString, ProgramFolderGoesInUnchanged)
{
    const QString folders[] = {
        QStringLiteral("/opt/ostrel/"),
        QStringLiteral("/home/user/My Cards/bin/"),
        QStringLiteral("/home/用户/名片 管理/"),
    };
    for (const QString& folder : folders) {
        const ConnectionString cs(cardConnectionString(folder));
        EXPECT_EQ(cs.value(QStringLiteral("data source")), folder + QStringLiteral("Data/db.edb")) << folder.toStdString();
        EXPECT_EQ(cs.value(QString::fromLatin1(kPasswordKey)), QStringLiteral("kqv749"));
        EXPECT_EQ(cs.value(QStringLiteral("Extended Properties")), QString());
        EXPECT_EQ(cs.value(QStringLiteral("Jet OLEDB:Don't Copy Locale on Compact")), QStringLiteral("False"));
    }
}

TEST(ConnectionString, ParsesQuotedValuesAndIgnoresBlanksAroundKeys)
{
    const ConnectionString cs(QStringLiteral(
        "Provider=X; Data Source=\"C:/a;b/c.xls\";Extended Properties=\"Excel 8.0;HDR=\"\"Yes\"\"\";Last=1"));
    EXPECT_EQ(cs.value(QStringLiteral("data source")), QStringLiteral("C:/a;b/c.xls"));
    EXPECT_EQ(cs.value(QStringLiteral("Extended Properties")), QStringLiteral("Excel 8.0;HDR=\"Yes\""));
    EXPECT_EQ(cs.value(QStringLiteral("last")), QStringLiteral("1"));
    EXPECT_FALSE(cs.contains(QStringLiteral("missing")));
}

namespace {

QString errorOpening(const QString& folder)
{
    return test::engineMessage([&] { openCardDatabaseFor(folder); });
}

} // namespace

TEST(ServerSettings, FileChoosesTheServerAndGivesItsConnectionText)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + u'/';
    // Without a settings file the program keeps to its encrypted file.
    const OpenedCardDatabase local = openCardDatabaseFor(folder);
    ASSERT_NE(local.fileCommands, nullptr);
    EXPECT_EQ(local.database->connectionString(), cardConnectionString(folder));

    ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Data")));
    const QString settings = folder + QString::fromLatin1(kServerSettingsFile);
    const struct {
        const char* what;
        QByteArray text;
        const char* connection; // or a part of the error's text
        bool error;
    } cases[] = {
        {"URI", "# the team's server\n\n  postgresql://sales@db.example:5433/cards?sslmode=require  \n",
         "postgresql://sales@db.example:5433/cards?sslmode=require", false},
        {"key=value over lines, CRLF, BOM", "\xEF\xBB\xBFhost=db.example\r\n# password in ~/.pgpass\r\n\r\ndbname='名片 库' user=sales\r\n",
         "host=db.example dbname='名片 库' user=sales", false},
        {"empty", "", "中没有连接设置", true},
        {"comments and blanks only", "# host=db.example\n\n   \n", "中没有连接设置", true},
        {"URI with another line", "postgresql://db.example/cards\nuser=sales\n", "必须单独写成一行", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile file(settings);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.text);
        file.close();
        if (!c.error) {
            const OpenedCardDatabase server = openCardDatabaseFor(folder);
            EXPECT_EQ(server.fileCommands, nullptr);
            EXPECT_FALSE(server.database->isOpen());
            EXPECT_EQ(server.database->connectionString(), QString::fromUtf8(c.connection));
            continue;
        }
        // A server asked for is never replaced by the file.
        EXPECT_TRUE(errorOpening(folder).contains(QString::fromUtf8(c.connection)));
    }
    // Unreadable: a folder in its place, or a link to a file that is gone.
    ASSERT_TRUE(QFile::remove(settings));
    for (const bool link : {false, true}) {
        ASSERT_TRUE(link ? QFile::link(folder + QStringLiteral("gone.conf"), settings) : QDir().mkdir(settings));
        EXPECT_TRUE(errorOpening(folder).startsWith(QStringLiteral("无法读取团队数据库设置文件")));
        ASSERT_TRUE(link ? QFile::remove(settings) : QDir().rmdir(settings));
    }
}

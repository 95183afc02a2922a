#include "db/connection_string.h"

#include "qt_print.h"

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

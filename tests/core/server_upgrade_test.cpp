// A team server set up before the kept card images and the address-book sync gets their
// tables at the start, once; an account that may not create tables is told so.
#include "core/card_image_store.h"
#include "core/open_database.h"
#include "core/schema_upgrade.h"
#include "core/sync/sync_state.h"
#include "core/visit_stats.h"
#include "core/visit_summary.h"
#include "engine/postgres/pg_connection.h"
#include "pg_server.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace ostrel;

namespace {

// What a server of an older version lacks, dropped from a current one.
const char* const kOlderServer[] = {
    R"(DROP TABLE d_bimage)",
    R"(DROP FUNCTION hex(bytea))",
    R"(DROP TABLE d_sync)",
    R"(DROP TABLE d_syncconf)",
    R"(DROP TRIGGER "D_B_SyncChanged" ON "D_B")",
    R"(DROP FUNCTION ostrel_sync_changed())",
    R"(DROP TABLE d_notdup)",
    R"(DROP TRIGGER d_b_loginsert ON "D_B"; DROP TRIGGER d_b_logdelete ON "D_B"; DROP TRIGGER d_b_logupdate ON "D_B";
       DROP TRIGGER d_b_logtruncate ON "D_B")",
    R"(DROP FUNCTION ostrel_log_cards() CASCADE; DROP TABLE d_cardlog)",
    R"(DROP TRIGGER "DList_Summed" ON "DList"; DROP TRIGGER "D_B_Summed" ON "D_B"; DROP TRIGGER "DList_Emptied" ON "DList";
       DROP TRIGGER "D_B_Emptied" ON "D_B"; DROP TABLE d_visitmonths, d_visitlast, d_visitlastmonths)",
};

int64_t tables(PgConnection& db, const char* name)
{
    return db.firstInteger(QStringLiteral("select count(*) from sqlite_master where type='table' and name=?1"),
                           {QString::fromLatin1(name)});
}

QString olderServer(size_t dropped)
{
    const QString connection = test::freshServerDatabase();
    PgConnection db(connection, cardDatabaseRules());
    for (size_t i = 0; i < dropped; ++i)
        db.runServerSql(QString::fromLatin1(kOlderServer[i]));
    return connection;
}

TEST(ServerUpgrade, AnOlderServerGetsTheImageAndSyncTablesOnce)
{
    OSTREL_NEEDS_SERVER();
    const struct {
        const char* what;
        size_t dropped;
        UpgradeResult first;
    } cases[] = {
        {"current", 0, UpgradeResult::Current},
        {"without the image table, with hex()", 1, UpgradeResult::Upgraded},
        {"without images", 2, UpgradeResult::Upgraded},
        {"without either, the sync trigger left on D_B", 4, UpgradeResult::Upgraded},
        {"without either", std::size(kOlderServer) - 4, UpgradeResult::Upgraded},
        {"with a log that does not name the cards' own rows", std::size(kOlderServer) - 3, UpgradeResult::Upgraded},
        {"without the not-duplicate table too", std::size(kOlderServer) - 2, UpgradeResult::Upgraded},
        {"without the log of changed cards too", std::size(kOlderServer) - 1, UpgradeResult::Upgraded},
        {"without the visit statistics' kept tables too", std::size(kOlderServer), UpgradeResult::Upgraded},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PgConnection db(olderServer(c.dropped), cardDatabaseRules());
        EXPECT_EQ(tables(db, "d_bimage"), c.dropped == 0 ? 1 : 0);
        const ServerUpgrade first = upgradeServer(db);
        EXPECT_EQ(first.result, c.first);
        EXPECT_EQ(first.warning, QString());
        EXPECT_EQ(upgradeServer(db).result, UpgradeResult::Current);
        for (const char* table :
             {"d_bimage", "d_sync", "d_syncconf", "d_notdup", "d_cardlog", "d_visitmonths", "d_visitlast", "d_visitlastmonths"})
            EXPECT_EQ(tables(db, table), 1) << table;

        db.execute(QStringLiteral("insert into D_B(BName, theDel) values('王五','否')"));
        const int64_t card = db.lastInsertId();
        // The log names a card written without its key, for the lists kept on desktops.
        EXPECT_EQ(db.firstInteger(QStringLiteral("select count(*) from D_CardLog where card=%1").arg(card)), 1);
        QImage image(320, 200, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QByteArray jpeg = keptCardJpeg(image);
        saveCardImage(db, card, CardSide::Front, jpeg);
        EXPECT_EQ(cardImage(db, card), jpeg);
        // The sync trigger notes a card changed here.
        sync::saveSyncRecord(db, {card, QStringLiteral("uid-1"), {}, {}, {}, {}});
        db.execute(QStringLiteral("update D_B set BName='王六' where ID=%1").arg(card));
        EXPECT_FALSE(sync::loadSyncRecords(db).at(card).changed.isEmpty());
        // The kept tables follow a visit written after the upgrade.
        db.execute(QStringLiteral("insert into DList(DID, LDate) values(%1, '2025-01-02')").arg(card));
        EXPECT_EQ(db.firstInteger(QStringLiteral("select count(*) from D_VisitLast where Card=%1 and LastDate='2025-01-02'").arg(card)), 1);
        EXPECT_EQ(db.firstInteger(QStringLiteral("select Cards from D_VisitLastMonths where YearMonth='2025-01'")), 1);
    }
}

TEST(ServerUpgrade, AnAccountThatMayNotCreateTablesIsToldAndTheDatesAreStillFixed)
{
    OSTREL_NEEDS_SERVER();
    const QString owner = olderServer(std::size(kOlderServer));
    {
        PgConnection db(owner, cardDatabaseRules());
        db.runServerSql(QStringLiteral(
            "DO $$ BEGIN CREATE ROLE ostrel_clerk LOGIN; EXCEPTION WHEN duplicate_object THEN NULL; END $$;\n"
            "GRANT USAGE ON SCHEMA public TO ostrel_clerk;\n"
            "REVOKE CREATE ON SCHEMA public FROM PUBLIC;\n"
            "GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO ostrel_clerk;\n"
            "GRANT USAGE, SELECT ON ALL SEQUENCES IN SCHEMA public TO ostrel_clerk"));
        db.execute(QStringLiteral("insert into DList(LDate) values('2024-6-5')"));
    }
    QString clerk = owner;
    clerk.replace(QStringLiteral("user=ostrel "), QStringLiteral("user=ostrel_clerk "));
    ASSERT_NE(clerk, owner);
    PgConnection db(clerk, cardDatabaseRules());
    const ServerUpgrade upgraded = upgradeServer(db);
    EXPECT_EQ(upgraded.result, UpgradeResult::Upgraded);
    EXPECT_TRUE(upgraded.warning.contains(QStringLiteral("无法建立"))) << upgraded.warning.toStdString();
    EXPECT_TRUE(upgraded.warning.contains(QStringLiteral("数据库所有者"))) << upgraded.warning.toStdString();
    EXPECT_EQ(db.countRows(QStringLiteral("select ID from DList where LDate='2024-06-05'")), 1);
    EXPECT_FALSE(keepsCardImages(db));
    EXPECT_EQ(tables(db, "d_sync"), 0);

    // The owner's next start makes them.
    PgConnection ownerDb(owner, cardDatabaseRules());
    EXPECT_EQ(upgradeServer(ownerDb).warning, QString());
    EXPECT_TRUE(keepsCardImages(ownerDb));
    EXPECT_EQ(tables(ownerDb, "d_cardlog"), 1);

    // The clerk was granted only the tables there before: its visit statistics count the visits.
    EXPECT_FALSE(hasVisitSummaries(db));
    db.execute(QStringLiteral("insert into D_B(BName, theDel) values('王五','否')"));
    const int64_t card = db.lastInsertId();
    db.execute(QStringLiteral("insert into DList(DID, LDate) values(%1, '2024-06-07')").arg(card));
    EXPECT_EQ(visitStatistics(db, {card}, {QDate(2024, 6, 1), QDate(2024, 6, 30)}).visits, 1);
}

} // namespace

// The kept card images on both engines: made by the upgrade and the server's schema, saved in
// the card's transaction, kept while the card's row is, removed with the row, carried by
// backups.
#include "core/backup.h"
#include "core/card_image_store.h"
#include "core/open_database.h"
#include "core/schema_upgrade.h"
#include "engine/engine_error.h"
#include "engine/postgres/pg_connection.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "engine/transaction.h"
#include "pg_server.h"
#include "test_database.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <gtest/gtest.h>

using namespace ostrel;

namespace {

QImage pattern(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    return image;
}

QSize jpegSize(const QByteArray& jpeg)
{
    QBuffer buffer;
    buffer.setData(jpeg);
    QImageReader reader(&buffer, "JPEG");
    return reader.size();
}

TEST(KeptCardImage, ScaledDownToTheLongSideAsJpeg)
{
    const struct {
        QSize in;
        QSize out;
    } cases[] = {
        {{4000, 2400}, {1600, 960}}, // a phone photo
        {{1200, 3000}, {640, 1600}}, // upright: the long side is the height
        {{1063, 638}, {1063, 638}},  // a 300 DPI scan stays as it is
        {{1600, 900}, {1600, 900}},
    };
    for (const auto& c : cases) {
        const QByteArray jpeg = keptCardJpeg(pattern(c.in.width(), c.in.height()));
        EXPECT_TRUE(jpeg.startsWith("\xFF\xD8")) << c.in.width();
        EXPECT_EQ(jpegSize(jpeg), c.out) << c.in.width() << "x" << c.in.height();
    }
    EXPECT_TRUE(keptCardJpeg(QImage()).isEmpty());
}

// The card database of either engine, with the image table made as a user's would be.
class CardImages : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam()) {
            OSTREL_NEEDS_SERVER();
            auto server = std::make_unique<PgConnection>(cardDatabaseRules());
            server->setConnectionString(test::freshServerDatabase());
            db = std::move(server);
        } else {
            auto file = std::make_unique<SqlCipherConnection>(cardDatabaseRules());
            file->setConnectionString(copy.connectionString());
            ASSERT_EQ(upgradeSchema(*file), UpgradeResult::Upgraded);
            db = std::move(file);
        }
    }
    int64_t addCard()
    {
        db->execute(QStringLiteral("insert into D_B(BName, theDel) values('张三','否')"));
        return db->lastInsertId();
    }
    int images() { return db->countRows(QStringLiteral("select DID from D_BImage")); }

    test::TestDatabase copy;
    std::unique_ptr<Database> db;
};

TEST_P(CardImages, SavedBytesReadBackPerSideAndASecondSaveReplaces)
{
    const int64_t card = addCard();
    const QByteArray front = keptCardJpeg(pattern(800, 480));
    QByteArray back = front;
    back[100] = '\0'; // every byte value travels, NUL included
    back.append("\\x'\t", 4);
    saveCardImage(*db, card, CardSide::Front, front);
    saveCardImage(*db, card, CardSide::Back, back);
    EXPECT_EQ(cardImage(*db, card), front);
    EXPECT_EQ(cardImage(*db, card, CardSide::Back), back);
    EXPECT_TRUE(cardImage(*db, card + 1).isEmpty());
    const QByteArray other = keptCardJpeg(pattern(300, 200));
    saveCardImage(*db, card, CardSide::Front, other);
    EXPECT_EQ(cardImage(*db, card), other);
    EXPECT_EQ(images(), 2);
}

TEST_P(CardImages, AnImageSavedInAFailedSaveIsNotKept)
{
    const int64_t card = addCard();
    try {
        Transaction transaction(*db);
        saveCardImage(*db, card, CardSide::Front, keptCardJpeg(pattern(100, 60)));
        db->execute(QStringLiteral("insert into NoSuchTable values (1)"));
        transaction.commit();
        FAIL() << "the statement should have failed";
    } catch (const EngineError&) {
    }
    EXPECT_TRUE(cardImage(*db, card).isEmpty());
}

TEST_P(CardImages, KeptWhileTheRowIsThereAndRemovedWithIt)
{
    const int64_t deleted = addCard();
    const int64_t removed = addCard();
    for (int64_t card : {deleted, removed})
        saveCardImage(*db, card, CardSide::Front, keptCardJpeg(pattern(100, 60)));
    saveCardImage(*db, removed, CardSide::Back, keptCardJpeg(pattern(100, 60)));
    // The described delete keeps the row, and the overviews still open the card.
    db->execute(QStringLiteral("Update D_B Set theDel='是' where ID=%1").arg(deleted));
    db->execute(QStringLiteral("Delete * from D_B where ID=%1").arg(removed));
    EXPECT_FALSE(cardImage(*db, deleted).isEmpty());
    EXPECT_TRUE(cardImage(*db, removed).isEmpty());
    EXPECT_EQ(images(), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, CardImages, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Server" : "File"; });

TEST(CardImagesInAFile, TheUpgradeMakesTheTableOnceAndBackupsCarryTheImages)
{
    test::TestDatabase copy;
    SqlCipherConnection db(cardDatabaseRules());
    db.setConnectionString(copy.connectionString());
    EXPECT_EQ(upgradeSchema(db), UpgradeResult::Upgraded);
    EXPECT_EQ(upgradeSchema(db), UpgradeResult::Current);
    db.execute(QStringLiteral("insert into D_B(BName, theDel) values('李四','否')"));
    const int64_t card = db.lastInsertId();
    const QByteArray jpeg = keptCardJpeg(pattern(640, 400));
    saveCardImage(db, card, CardSide::Front, jpeg);

    const QString backup = writeDailyBackup(db, copy.programDir() + QStringLiteral("Data/Backup"), QDate(2026, 3, 31));
    SqlCipherConnection restored(cardDatabaseRules());
    restored.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=%2")
                                     .arg(backup, QString::fromLatin1(kDatabasePassword)));
    EXPECT_EQ(cardImage(restored, card), jpeg);
}

} // namespace

// Two-way sync against real address-book servers on loopback ports: Radicale 3 with a
// password, and Xandikos. The "phone" is the test writing vCards to the server over HTTP.
#include "dav_server.h"
#include "test_database.h"

#include "core/card_fields.h"
#include "core/new_card_statements.h"
#include "core/open_database.h"
#include "core/schema_upgrade.h"
#include "core/sync/card_sync.h"
#include "core/sync/carddav_client.h"
#include "core/sync/sync_state.h"
#include "engine/sqlcipher/sqlcipher_connection.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <filesystem>

namespace ostrel::sync {
namespace {

using test::DavServer;

class CardSyncTest : public ::testing::TestWithParam<DavServer::Kind> {
protected:
    void SetUp() override
    {
        OSTREL_NEEDS_DAV(server);
        opened = openCardFile(copy.connectionString());
        upgradeSchema(dynamic_cast<SqlCipherConnection&>(*opened.database));
        if (server.kind() == DavServer::Radicale)
            account.book = phone.createAddressBook(server.root(), QStringLiteral("名片"));
        else
            account.book = phone.discover(server.root()).front().url;
        account.user = DavServer::user();
        account.password = DavServer::password();
        account.timeoutSeconds = 10;
    }

    Database& db() { return *opened.database; }

    int64_t addCard(const QString& name, const QString& mobile)
    {
        QStringList values(kCardFieldCount);
        values[kNameField] = name;
        values[4] = mobile; // 移动电话
        db().execute(insertCardSql(QStringLiteral("2026-03-31"), values));
        return db().lastInsertId();
    }
    // As the editor's save and the main window's delete write them.
    void setField(int64_t id, const char* column, const QString& value)
    {
        db().runBound(QStringLiteral("Update D_B set %1=?1 where id=?2").arg(QString::fromLatin1(column)), {value, QVariant::fromValue<qint64>(id)});
    }
    void deleteCard(int64_t id) { db().execute(QStringLiteral("Update D_B Set theDel='是' where ID=%1").arg(id)); }
    QString field(int64_t id, const char* column)
    {
        QString value;
        db().runBound(QStringLiteral("select %1 from D_B where ID=?1").arg(QString::fromLatin1(column)), {QVariant::fromValue<qint64>(id)},
                      [&](const Database::Row& row) { value = row.text(0); });
        return value;
    }
    int64_t cardNamed(const QString& name)
    {
        int64_t id = 0;
        db().runBound(QStringLiteral("select ID from D_B where BName=?1 and theDel='否'"), {name}, [&](const Database::Row& row) { id = row.integer(0); });
        return id;
    }
    int liveCards()
    {
        int count = 0;
        db().runBound(QStringLiteral("select count(*) from D_B where theDel='否'"), {}, [&](const Database::Row& row) { count = static_cast<int>(row.integer(0)); });
        return count;
    }

    // The phone's side: every card on the server, by href.
    std::vector<DavCard> serverCards()
    {
        QStringList hrefs;
        for (const DavCard& card : phone.list(account.book))
            hrefs << card.href;
        return phone.fetch(account.book, hrefs);
    }
    DavCard serverCardHolding(const QString& text)
    {
        for (const DavCard& card : serverCards())
            if (card.data.contains(text.toUtf8()))
                return card;
        return {};
    }
    // The phone edits a card as contact apps do: the value replaced wherever it stands, a new REV.
    void phoneEdits(const QString& oldValue, const QString& newValue, const char* rev = "20990101T000000Z")
    {
        DavCard card = serverCardHolding(oldValue);
        ASSERT_FALSE(card.href.isEmpty()) << oldValue.toStdString();
        QByteArray text = card.data;
        text.replace(oldValue.toUtf8(), newValue.toUtf8());
        text.replace("END:VCARD", QByteArray("REV:") + rev + "\r\nEND:VCARD");
        ASSERT_EQ(phone.put(account.book, card.href, text, card.etag).outcome, WriteResult::Done);
    }
    void phoneAdds(const QString& uid, const QString& name, const QString& mobile)
    {
        const QByteArray text = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nFN:%2\r\nN:%2;;;;\r\nTEL;TYPE=CELL:%3\r\nEND:VCARD\r\n")
                                    .arg(uid, name, mobile).toUtf8();
        ASSERT_EQ(phone.put(account.book, uid + QStringLiteral(".vcf"), text, {}).outcome, WriteResult::Done);
    }

    SyncReport sync(const SyncProgress& progress = {}) { return syncCards(db(), account, progress); }

    DavServer server{GetParam()};
    test::TestDatabase copy;
    OpenedCardDatabase opened;
    CardDavClient phone{DavServer::user(), DavServer::password(), 10};
    SyncAccount account;
};

TEST_P(CardSyncTest, FirstSyncGoesBothWaysAndASecondFindsNothingToDo)
{
    addCard(QStringLiteral("张三"), QStringLiteral("13800000001"));
    addCard(QStringLiteral("李四"), QStringLiteral("13800000002"));
    phoneAdds(QStringLiteral("phone-1"), QStringLiteral("王五"), QStringLiteral("13800000003"));
    const int before = liveCards();

    const SyncReport first = sync();
    EXPECT_EQ(first.uploaded, before);
    EXPECT_EQ(first.downloaded, 1);
    EXPECT_TRUE(first.refused.isEmpty()) << first.summary().toStdString();
    EXPECT_EQ(liveCards(), before + 1);
    EXPECT_EQ(field(cardNamed(QStringLiteral("王五")), "BMob"), QStringLiteral("13800000003"));
    EXPECT_EQ(static_cast<int>(serverCards().size()), before + 1);
    EXPECT_FALSE(serverCardHolding(QStringLiteral("张三")).href.isEmpty());

    const SyncReport second = sync();
    EXPECT_EQ(second.uploaded + second.downloaded + second.deletedHere + second.deletedThere, 0) << second.summary().toStdString();
    EXPECT_EQ(liveCards(), before + 1);
}

TEST_P(CardSyncTest, AnEditOnEachSideReachesTheOther)
{
    const int64_t zhang = addCard(QStringLiteral("张三"), QStringLiteral("13800000001"));
    const int64_t li = addCard(QStringLiteral("李四"), QStringLiteral("13800000002"));
    sync();
    setField(zhang, "BMob", QStringLiteral("13911111111"));
    phoneEdits(QStringLiteral("13800000002"), QStringLiteral("13922222222"));

    const SyncReport report = sync();
    EXPECT_EQ(report.conflicts, 0);
    EXPECT_EQ(field(li, "BMob"), QStringLiteral("13922222222"));
    EXPECT_FALSE(serverCardHolding(QStringLiteral("13911111111")).href.isEmpty());
    EXPECT_TRUE(serverCardHolding(QStringLiteral("13800000001")).href.isEmpty());
}

TEST_P(CardSyncTest, TheSameFieldOnBothSidesKeepsTheEarlierValueInTheNotes)
{
    const int64_t zhang = addCard(QStringLiteral("张三"), QStringLiteral("13800000001"));
    sync();
    setField(zhang, "BMob", QStringLiteral("13911111111"));
    setField(zhang, "BMail", QStringLiteral("zhang@example.com")); // changed here only
    phoneEdits(QStringLiteral("13800000001"), QStringLiteral("13922222222")); // later: REV in 2099

    const SyncReport report = sync();
    EXPECT_EQ(report.conflicts, 1);
    EXPECT_EQ(field(zhang, "BMob"), QStringLiteral("13922222222"));
    EXPECT_EQ(field(zhang, "BMail"), QStringLiteral("zhang@example.com"));
    EXPECT_TRUE(field(zhang, "FDes").contains(QStringLiteral("同步冲突：移动电话「13911111111」"))) << field(zhang, "FDes").toStdString();
    // The merge went back: the phone has both changes and the note.
    const DavCard merged = serverCardHolding(QStringLiteral("zhang@example.com"));
    EXPECT_TRUE(merged.data.contains("13922222222"));
    EXPECT_TRUE(merged.data.contains(QStringLiteral("同步冲突").toUtf8()));
}

TEST_P(CardSyncTest, DeletesGoBothWaysAndStayRecoverableHere)
{
    const int64_t zhang = addCard(QStringLiteral("张三"), QStringLiteral("13800000001"));
    const int64_t li = addCard(QStringLiteral("李四"), QStringLiteral("13800000002"));
    sync();
    deleteCard(zhang);
    const DavCard liOnServer = serverCardHolding(QStringLiteral("13800000002"));
    ASSERT_EQ(phone.remove(account.book, liOnServer.href, liOnServer.etag).outcome, WriteResult::Done);

    const SyncReport report = sync();
    EXPECT_EQ(report.deletedThere, 1);
    EXPECT_EQ(report.deletedHere, 1);
    EXPECT_TRUE(serverCardHolding(QStringLiteral("13800000001")).href.isEmpty());
    EXPECT_EQ(field(li, "theDel"), QStringLiteral("是"));
    EXPECT_EQ(field(li, "BName"), QStringLiteral("李四")); // marked, not removed
}

TEST_P(CardSyncTest, APhoneEditDuringTheUploadIsFetchedMergedAndSentAgain)
{
    const int64_t zhang = addCard(QStringLiteral("张三"), QStringLiteral("13800000001"));
    sync();
    setField(zhang, "BMail", QStringLiteral("zhang@example.com"));
    bool raced = false;
    const SyncReport report = sync([&](const QString& step, int, int) {
        if (!raced && step == QStringLiteral("上传本机的变更")) {
            raced = true;
            phoneEdits(QStringLiteral("13800000001"), QStringLiteral("13922222222")); // the PUT now meets 412
        }
    });
    EXPECT_TRUE(raced);
    EXPECT_TRUE(report.refused.isEmpty()) << report.summary().toStdString();
    EXPECT_EQ(field(zhang, "BMob"), QStringLiteral("13922222222"));
    const DavCard merged = serverCardHolding(QStringLiteral("zhang@example.com"));
    EXPECT_TRUE(merged.data.contains("13922222222")) << merged.data.toStdString();
}

TEST_P(CardSyncTest, AServerKilledMidwayLeavesNoDuplicateAfterTheNextSync)
{
    for (int i = 0; i < 30; ++i)
        addCard(QStringLiteral("客户%1").arg(i), QStringLiteral("1380000%1").arg(1000 + i));
    const int before = liveCards();
    int told = 0;
    EXPECT_THROW(sync([&](const QString& step, int, int) {
                     if (step == QStringLiteral("上传本机的变更") && ++told == 12)
                         server.kill();
                 }),
                 SyncError);
    server.start();
    ASSERT_TRUE(server.unavailable().isEmpty()) << server.unavailable().toStdString();
    const SyncReport report = sync();
    EXPECT_TRUE(report.refused.isEmpty()) << report.summary().toStdString();
    EXPECT_EQ(static_cast<int>(serverCards().size()), before);
    EXPECT_EQ(liveCards(), before);
}

TEST_P(CardSyncTest, AnInvalidSyncTokenMeansAFullSyncWithoutDuplicates)
{
    addCard(QStringLiteral("张三"), QStringLiteral("13800000001"));
    sync();
    setSyncSetting(db(), setting::kToken, QStringLiteral("http://example.com/ns/sync/no-such-token"));
    phoneAdds(QStringLiteral("phone-2"), QStringLiteral("赵六"), QStringLiteral("13800000004"));
    const int before = liveCards();

    const SyncReport report = sync();
    EXPECT_TRUE(report.full);
    EXPECT_EQ(report.downloaded, 1);
    EXPECT_EQ(liveCards(), before + 1);
    EXPECT_EQ(static_cast<int>(serverCards().size()), before + 1);
}

TEST_P(CardSyncTest, AWrongPasswordIsRefusedInChinese)
{
    if (server.kind() == DavServer::Xandikos)
        GTEST_SKIP() << "Xandikos asks no password";
    account.password = QStringLiteral("wrong");
    try {
        sync();
        FAIL() << "a wrong password synced";
    } catch (const SyncError& error) {
        EXPECT_EQ(error.kind(), SyncError::Unauthorized);
        EXPECT_TRUE(error.message().contains(QStringLiteral("用户名或密码"))) << error.message().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, CardSyncTest, ::testing::Values(DavServer::Radicale, DavServer::Xandikos),
                         [](const auto& info) { return info.param == DavServer::Radicale ? "Radicale" : "Xandikos"; });

// The program's --sync-setup and --sync, run as cron would run them, on a program folder of
// their own with a Radicale that asks for a password.
class SyncCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        OSTREL_NEEDS_DAV(server);
        program = copy.programDir() + QStringLiteral("ostrel");
        // The program finds its database beside itself, so it has to be in the folder, not linked to it.
        std::error_code linkError;
        std::filesystem::create_hard_link(OSTREL_PROGRAM, program.toStdString(), linkError);
        if (linkError)
            ASSERT_TRUE(QFile::copy(QStringLiteral(OSTREL_PROGRAM), program));
        OpenedCardDatabase opened = openCardFile(copy.connectionString());
        upgradeSchema(dynamic_cast<SqlCipherConnection&>(*opened.database));
        QStringList values(kCardFieldCount);
        values[kNameField] = QStringLiteral("张三");
        values[4] = QStringLiteral("13800000001");
        opened.database->execute(insertCardSql(QStringLiteral("2026-03-31"), values));
        liveCards = static_cast<int>(opened.database->firstInteger(QStringLiteral("select count(*) from D_B where theDel='否'")));
    }

    struct Run {
        int code = -1;
        QString out;
        QString err;
    };
    // password goes in OSTREL_SYNC_PASSWORD, or on standard input when passwordOnInput.
    Run run(const QStringList& arguments, const QString& password, bool passwordOnInput = false)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("OSTREL_SYNC_PASSWORD"));
        if (!passwordOnInput && !password.isEmpty())
            environment.insert(QStringLiteral("OSTREL_SYNC_PASSWORD"), password);
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        if (!process.waitForStarted(10000))
            return {};
        if (passwordOnInput)
            process.write((password + u'\n').toUtf8());
        process.closeWriteChannel();
        process.waitForFinished(60000);
        const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return {code, QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }
    QString root() const { return server.root().toString(); }

    DavServer server{DavServer::Radicale};
    test::TestDatabase copy;
    QString program;
    int liveCards = 0;
    CardDavClient phone{DavServer::user(), DavServer::password(), 10};
};

TEST_F(SyncCommandTest, SetupMakesTheAddressBookAndSyncUploadsEveryCard)
{
    const Run setup = run({QStringLiteral("--sync-setup"), root(), DavServer::user()}, DavServer::password(), true);
    ASSERT_EQ(setup.code, 0) << setup.out.toStdString() << setup.err.toStdString();
    EXPECT_TRUE(setup.out.contains(QStringLiteral("新建了通讯录「名片」"))) << setup.out.toStdString();
    const std::vector<AddressBook> books = phone.discover(server.root());
    ASSERT_EQ(books.size(), 1u);
    EXPECT_EQ(books.front().name, QStringLiteral("名片"));

    const Run synced = run({QStringLiteral("--sync")}, {});
    ASSERT_EQ(synced.code, 0) << synced.out.toStdString() << synced.err.toStdString();
    EXPECT_TRUE(synced.out.contains(QStringLiteral("上传 %1 张名片").arg(liveCards))) << synced.out.toStdString();
    EXPECT_EQ(static_cast<int>(phone.list(books.front().url).size()), liveCards);
    for (const Run& each : {setup, synced})
        EXPECT_FALSE((each.out + each.err).contains(DavServer::password())) << each.out.toStdString();
    // The password lives in the encrypted database, not in a file beside it.
    for (const QString& name : QDir(copy.programDir() + QStringLiteral("Data")).entryList(QDir::Files)) {
        QFile file(copy.programDir() + QStringLiteral("Data/") + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_FALSE(file.readAll().contains(DavServer::password().toUtf8())) << name.toStdString();
    }
}

TEST_F(SyncCommandTest, FailuresExitNonZeroInChineseWithoutThePassword)
{
    const QString wrong = QStringLiteral("wrong-pw-7319");
    const struct {
        const char* what;
        QStringList arguments;
        QString password;
        QString said;
    } cases[] = {
        {"a wrong password", {QStringLiteral("--sync-setup"), root(), DavServer::user()}, wrong, QStringLiteral("用户名或密码")},
        {"a sync never set up", {QStringLiteral("--sync")}, wrong, QStringLiteral("请先运行：ostrel --sync-setup")},
        {"a server address missing", {QStringLiteral("--sync-setup"), DavServer::user()}, wrong, QStringLiteral("用法：ostrel --sync-setup")},
    };
    for (const auto& c : cases) {
        const Run failed = run(c.arguments, c.password);
        EXPECT_NE(failed.code, 0) << c.what;
        EXPECT_NE(failed.code, -1) << c.what << ": did not run to its end";
        EXPECT_TRUE(failed.err.contains(c.said)) << c.what << ": " << failed.err.toStdString();
        EXPECT_FALSE((failed.out + failed.err).contains(wrong)) << c.what;
    }
}

} // namespace
} // namespace ostrel::sync

// Two-way sync against real address-book servers on loopback ports: Radicale 3 with a
// password, and Xandikos. The "phone" is the test writing vCards to the server over HTTP.
#include "dav_relay.h"
#include "dav_server.h"
#include "test_database.h"

#include "core/card_fields.h"
#include "core/new_card_statements.h"
#include "core/open_database.h"
#include "core/schema_upgrade.h"
#include "core/sync/card_sync.h"
#include "core/sync/carddav_client.h"
#include "core/sync/sync_cards.h"
#include "core/sync/sync_state.h"
#include "engine/sqlcipher/sqlcipher_connection.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>

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

TEST_P(CardSyncTest, ACardTheServerRefusesIsListedAndTheOthersGoOn)
{
    if (server.kind() == DavServer::Xandikos)
        GTEST_SKIP() << "Xandikos keeps two cards of one UID";
    const int64_t zhang = addCard(QStringLiteral("张三"), QStringLiteral("13800000001"));
    addCard(QStringLiteral("李四"), QStringLiteral("13800000002"));
    // 张三 was named by a sync that stopped before sending it; the phone has since taken its UID.
    saveSyncRecord(db(), {zhang, QStringLiteral("shared-uid"), CardDavClient::pathOf(account.book, QStringLiteral("shared-uid.vcf")), {}, {}, {}});
    const QByteArray taken = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:shared-uid\r\nFN:赵六\r\nN:赵六;;;;\r\nEND:VCARD\r\n";
    ASSERT_EQ(phone.put(account.book, QStringLiteral("phone-6.vcf"), taken, {}).outcome, WriteResult::Done);

    const SyncReport report = sync();
    ASSERT_EQ(report.refused.size(), 1) << report.summary().toStdString();
    EXPECT_TRUE(report.refused.front().startsWith(QStringLiteral("张三："))) << report.refused.front().toStdString();
    EXPECT_FALSE(serverCardHolding(QStringLiteral("李四")).href.isEmpty());
    EXPECT_NE(cardNamed(QStringLiteral("赵六")), 0);
    // Kept here, and sent under a name of its own by the next sync.
    const SyncReport next = sync();
    EXPECT_EQ(next.uploaded, 1) << next.summary().toStdString();
    EXPECT_TRUE(next.refused.isEmpty()) << next.summary().toStdString();
    EXPECT_FALSE(serverCardHolding(QStringLiteral("张三")).href.isEmpty());
}

TEST_P(CardSyncTest, HugeOrUnreadableCardsFromThePhoneNeitherStopTheSyncNorComeBackChanged)
{
    const QByteArray huge = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:huge\r\nFN:巨大\r\nN:巨大;;;;\r\nNOTE:" + QByteArray(3 << 20, 'x')
        + "\r\nEND:VCARD\r\n";
    const QByteArray nameless = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:nameless\r\nFN:\r\nN:;;;;\r\nEMAIL:x@example.com\r\nEND:VCARD\r\n";
    for (const QByteArray& text : {huge, nameless}) {
        const QString uid = cardStamp(text).uid;
        ASSERT_EQ(phone.put(account.book, uid + QStringLiteral(".vcf"), text, {}).outcome, WriteResult::Done) << uid.toStdString();
    }
    phoneAdds(QStringLiteral("phone-1"), QStringLiteral("王五"), QStringLiteral("13800000003"));

    const SyncReport report = sync();
    EXPECT_NE(cardNamed(QStringLiteral("王五")), 0);
    const int64_t big = cardNamed(QStringLiteral("巨大"));
    ASSERT_NE(big, 0) << report.summary().toStdString();
    EXPECT_LT(field(big, "FDes").size(), 10000); // cut to the reader's limit
    // What was cut here is not sent back over the phone's whole text.
    const SyncReport again = sync();
    EXPECT_EQ(again.uploaded, 0) << again.summary().toStdString();
    EXPECT_GE(serverCardHolding(QStringLiteral("巨大")).data.count('x'), 3 << 20);
    // A contact with no name at all is kept too, by what it has.
    EXPECT_EQ(db().firstInteger(QStringLiteral("select count(*) from D_B where BMail='x@example.com'")), 1);
}

TEST_P(CardSyncTest, WithoutSyncCollectionTheCtagAndAnETagListingFindEveryChange)
{
    test::DavRelay relay(static_cast<quint16>(server.root().port()));
    const QUrl direct = account.book;
    account.book = relay.through(direct);
    const int64_t zhang = addCard(QStringLiteral("张三"), QStringLiteral("13800000001"));
    addCard(QStringLiteral("李四"), QStringLiteral("13800000002"));
    phoneAdds(QStringLiteral("phone-1"), QStringLiteral("王五"), QStringLiteral("13800000003"));
    const int before = liveCards();
    const SyncReport first = sync();
    EXPECT_TRUE(first.full);
    EXPECT_EQ(first.downloaded, 1);
    EXPECT_EQ(liveCards(), before + 1);
    const SyncReport unchanged = sync();
    EXPECT_FALSE(unchanged.full) << "the ctag said nothing changed";
    EXPECT_EQ(unchanged.uploaded + unchanged.downloaded, 0);

    setField(zhang, "BMail", QStringLiteral("zhang@example.com"));
    account.book = direct; // the phone's own changes
    phoneEdits(QStringLiteral("13800000003"), QStringLiteral("13933333333"));
    const DavCard li = serverCardHolding(QStringLiteral("13800000002"));
    ASSERT_EQ(phone.remove(direct, li.href, li.etag).outcome, WriteResult::Done);
    account.book = relay.through(direct);
    const SyncReport changed = sync();
    EXPECT_EQ(changed.uploaded, 1) << changed.summary().toStdString();
    EXPECT_EQ(changed.deletedHere, 1) << changed.summary().toStdString();
    EXPECT_EQ(field(cardNamed(QStringLiteral("王五")), "BMob"), QStringLiteral("13933333333"));
    EXPECT_EQ(cardNamed(QStringLiteral("李四")), 0);
    account.book = direct;
    EXPECT_FALSE(serverCardHolding(QStringLiteral("zhang@example.com")).href.isEmpty());
}

// A phone's address book of 10,000 cards comes down, and then a change on each side goes
// across without a full sync. (Uploads are measured by the benchmark: both servers take a new
// card in time that grows with the book, so 10,000 of them take the servers many minutes.)
TEST_P(CardSyncTest, TenThousandCardsComeDownThenAChangeOnEachSideGoesAcross)
{
    if (server.kind() == DavServer::Xandikos)
        GTEST_SKIP() << "the phone writes the whole address book in one request, which Radicale alone takes";
    constexpr int kCards = 10000;
    QByteArray book;
    for (int i = 0; i < kCards; ++i)
        book += QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:big-%1\r\nFN:客户%1\r\nN:客户%1;;;;\r\nTEL;TYPE=CELL:139%2\r\nEND:VCARD\r\n")
                    .arg(i)
                    .arg(i, 8, 10, QChar(u'0'))
                    .toUtf8();
    account.book = account.book.resolved(QUrl(QStringLiteral("../big/")));
    // A server listing 10,000 cards the first time takes minutes here.
    account.timeoutSeconds = 600;
    CardDavClient patient(DavServer::user(), DavServer::password(), 600);
    ASSERT_EQ(patient.put(account.book, {}, book, {}).outcome, WriteResult::Done);
    const int64_t zhang = addCard(QStringLiteral("张三"), QStringLiteral("13800000001"));
    const int before = liveCards();

    const SyncReport first = sync();
    EXPECT_EQ(first.downloaded, kCards);
    EXPECT_EQ(first.uploaded, 1) << "only the card typed here goes up";
    EXPECT_TRUE(first.refused.isEmpty()) << first.summary().left(2000).toStdString();
    EXPECT_EQ(liveCards(), before + kCards);

    setField(zhang, "BMob", QStringLiteral("13700000000"));
    // The phone edits the card it knows by its address (a listing of 10,000 takes long).
    const SyncRecord last = loadSyncRecords(db()).at(cardNamed(QStringLiteral("客户9999")));
    DavCard edited = patient.fetch(account.book, {last.href}).at(0);
    edited.data.replace("13900009999", "13600000000");
    ASSERT_EQ(patient.put(account.book, edited.href, edited.data, edited.etag).outcome, WriteResult::Done);
    const SyncReport second = sync();
    EXPECT_EQ(second.uploaded, 1) << second.summary().toStdString();
    EXPECT_EQ(second.downloaded, 1) << second.summary().toStdString();
    EXPECT_FALSE(second.full);
    EXPECT_EQ(field(cardNamed(QStringLiteral("客户9999")), "BMob"), QStringLiteral("13600000000"));
    EXPECT_EQ(liveCards(), before + kCards);
    EXPECT_EQ(static_cast<int>(patient.list(account.book).size()), kCards + 1);
}

INSTANTIATE_TEST_SUITE_P(Servers, CardSyncTest, ::testing::Values(DavServer::Radicale, DavServer::Xandikos),
                         [](const auto& info) { return info.param == DavServer::Radicale ? "Radicale" : "Xandikos"; });

// Faults of the connection: each stops the sync with its reason in Chinese, and a certificate
// no authority vouches for is trusted only by its fingerprint.
TEST(CardSyncFaults, TheConnectionsFaultsStopTheSyncWithTheirReason)
{
    DavServer tls(DavServer::Radicale, true);
    OSTREL_NEEDS_DAV(tls);
    test::TestDatabase copy;
    OpenedCardDatabase opened = openCardFile(copy.connectionString());
    upgradeSchema(dynamic_cast<SqlCipherConnection&>(*opened.database));
    QStringList values(kCardFieldCount);
    values[kNameField] = QStringLiteral("张三");
    opened.database->execute(insertCardSql(QStringLiteral("2026-03-31"), values));
    QTcpServer stalling; // takes the connection and never answers
    stalling.listen(QHostAddress::LocalHost);
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const quint16 closedPort = closed.serverPort();
    closed.close();
    const struct {
        const char* what;
        QUrl book;
        SyncError::Kind kind;
        QString said;
    } faults[] = {
        {"a server that never answers", QUrl(QStringLiteral("http://127.0.0.1:%1/phone/book/").arg(stalling.serverPort())), SyncError::Timeout,
         QStringLiteral("秒内没有回应")},
        {"no server at all", QUrl(QStringLiteral("http://127.0.0.1:%1/phone/book/").arg(closedPort)), SyncError::Unreachable,
         QStringLiteral("无法连接同步服务器")},
        {"a self-signed certificate", tls.root().resolved(QUrl(QStringLiteral("/phone/"))), SyncError::Untrusted,
         QStringLiteral("证书不受信任")},
    };
    SyncAccount account{{}, DavServer::user(), DavServer::password(), {}, 1};
    QString fingerprint;
    for (const auto& fault : faults) {
        account.book = fault.book;
        try {
            syncCards(*opened.database, account);
            ADD_FAILURE() << fault.what << ": synced";
        } catch (const SyncError& error) {
            EXPECT_EQ(error.kind(), fault.kind) << fault.what << ": " << error.message().toStdString();
            EXPECT_TRUE(error.message().contains(fault.said)) << fault.what << ": " << error.message().toStdString();
            if (fault.kind == SyncError::Untrusted)
                fingerprint = error.fingerprint;
        }
    }
    // Trusted by its fingerprint, as shown to the user, the same server syncs.
    ASSERT_EQ(normalFingerprint(fingerprint).size(), 64);
    account.timeoutSeconds = 10;
    account.trustedCertificate = shownFingerprint(fingerprint);
    CardDavClient phone(DavServer::user(), DavServer::password(), 10);
    phone.trustCertificate(account.trustedCertificate);
    account.book = phone.createAddressBook(tls.root(), QStringLiteral("名片"));
    EXPECT_GT(syncCards(*opened.database, account).uploaded, 0);
}

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
        if (linkError) {
            ASSERT_TRUE(QFile::copy(QStringLiteral(OSTREL_PROGRAM), program));
        }
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
    // A card the server refuses (the phone took its UID) is listed, and the exit code says so.
    {
        OpenedCardDatabase opened = openCardFile(copy.connectionString());
        QStringList values(kCardFieldCount);
        values[kNameField] = QStringLiteral("李四");
        opened.database->execute(insertCardSql(QStringLiteral("2026-03-31"), values));
        saveSyncRecord(*opened.database, {opened.database->lastInsertId(), QStringLiteral("shared-uid"),
                                          CardDavClient::pathOf(books.front().url, QStringLiteral("shared-uid.vcf")), {}, {}, {}});
    }
    const QByteArray taken = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:shared-uid\r\nFN:赵六\r\nN:赵六;;;;\r\nEND:VCARD\r\n";
    ASSERT_EQ(phone.put(books.front().url, QStringLiteral("phone.vcf"), taken, {}).outcome, WriteResult::Done);
    const Run refused = run({QStringLiteral("--sync")}, {});
    EXPECT_EQ(refused.code, 3) << refused.out.toStdString() << refused.err.toStdString();
    EXPECT_TRUE(refused.out.contains(QStringLiteral("李四："))) << refused.out.toStdString();
    // The password lives in the encrypted database, not in a file beside it.
    for (const QString& name : QDir(copy.programDir() + QStringLiteral("Data")).entryList(QDir::Files)) {
        QFile file(copy.programDir() + QStringLiteral("Data/") + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_FALSE(file.readAll().contains(DavServer::password().toUtf8())) << name.toStdString();
    }
}

TEST_F(SyncCommandTest, AnUntrustedCertificateIsTrustedByTheFingerprintItPrinted)
{
    DavServer tls(DavServer::Radicale, true);
    OSTREL_NEEDS_DAV(tls);
    const QStringList setup{QStringLiteral("--sync-setup"), tls.root().toString(), DavServer::user()};
    const Run refused = run(setup, DavServer::password());
    EXPECT_EQ(refused.code, 1);
    const qsizetype at = refused.err.indexOf(QStringLiteral("--sync-trust "));
    ASSERT_GE(at, 0) << refused.err.toStdString();
    const QString fingerprint = refused.err.mid(at + 13).section(u' ', 0, 0).trimmed();
    ASSERT_EQ(normalFingerprint(fingerprint).size(), 64) << fingerprint.toStdString();

    const Run trusted = run({QStringLiteral("--sync-trust"), fingerprint}, {});
    EXPECT_EQ(trusted.code, 0) << trusted.err.toStdString();
    const Run again = run(setup, DavServer::password());
    EXPECT_EQ(again.code, 0) << again.err.toStdString();
    const Run synced = run({QStringLiteral("--sync")}, {});
    EXPECT_EQ(synced.code, 0) << synced.err.toStdString();
    EXPECT_TRUE(synced.out.contains(QStringLiteral("上传 %1 张名片").arg(liveCards))) << synced.out.toStdString();
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
        {"a mistyped fingerprint", {QStringLiteral("--sync-trust"), QStringLiteral("AB:CD")}, wrong, QStringLiteral("不是 SHA-256 证书指纹")},
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

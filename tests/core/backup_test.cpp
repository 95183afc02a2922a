#include "core/backup.h"
#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "test_database.h"
#include "core/open_database.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

using namespace ostrel;

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int cardsNamed(const QString& path, const QString& name)
{
    SqlCipherConnection db{cardDatabaseRules()};
    db.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=kqv749").arg(path));
    return db.countRows(QStringLiteral("select * from D_B where BName='%1'").arg(name));
}

// A restart: a connection of its own that opens the file with key ("" for the program's own).
std::unique_ptr<SqlCipherConnection> reopened(const QString& connection, const QString& key)
{
    auto db = std::make_unique<SqlCipherConnection>();
    db->setConnectionString(connection);
    return db->openWithPassword(key) ? std::move(db) : nullptr;
}

class Backups : public ::testing::Test {
protected:
    Backups() { db.setConnectionString(copy.connectionString()); }
    void addCard(const QString& name) { db.execute(QStringLiteral("insert into D_B(BName, theDel) values('%1','否')").arg(name)); }
    QString folder() const { return copy.programDir() + QStringLiteral("Data/Backup"); }

    test::TestDatabase copy;
    SqlCipherConnection db{cardDatabaseRules()};
};

} // namespace

TEST_F(Backups, DailyCopiesOpenWithThePasswordAndOnlyTheNewestTenStay)
{
    QDir().mkpath(folder());
    for (int day = 1; day <= 12; ++day)
        QFile(QDir(folder()).filePath(QStringLiteral("db-2026-11-%1.edb").arg(day, 2, 10, QChar(u'0')))).open(QIODevice::WriteOnly);
    QFile(QDir(folder()).filePath(QStringLiteral("恢复前-2026-01-01-000000.edb"))).open(QIODevice::WriteOnly);

    addCard(QStringLiteral("早上"));
    writeDailyBackup(db, folder(), QDate(2026, 12, 9));
    addCard(QStringLiteral("晚上")); // a later close of the same day replaces that day's file
    const QString path = writeDailyBackup(db, folder(), QDate(2026, 12, 9));

    EXPECT_EQ(path, QDir(folder()).filePath(QStringLiteral("db-2026-12-09.edb")));
    EXPECT_EQ(cardsNamed(path, QStringLiteral("晚上")), 1);
    EXPECT_EQ(QFileInfo(path).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
    QStringList expected{QStringLiteral("恢复前-2026-01-01-000000.edb"), QStringLiteral("db-2026-12-09.edb")};
    for (int day = 12; day >= 4; --day)
        expected << QStringLiteral("db-2026-11-%1.edb").arg(day, 2, 10, QChar(u'0'));
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files, QDir::Name | QDir::Reversed), expected);
    // Nothing half-written is left anywhere.
    EXPECT_EQ(QDir(folder()).entryList({QStringLiteral("*.partial*")}, QDir::Files), QStringList());
    EXPECT_THROW(db.backupTo(copy.path()), EngineError);
}

TEST_F(Backups, RestoreRefusesAFileThatFailsACheckAndChangesNothing)
{
    const QString bad = copy.programDir() + QStringLiteral("bad.edb");
    QFile schema(QStringLiteral(OSTREL_SCHEMA_SQL));
    ASSERT_TRUE(schema.open(QIODevice::ReadOnly));
    const QString schemaSql = QString::fromUtf8(schema.readAll());
    const struct {
        const char* name;
        std::function<void()> make;
        const char* message;
    } cases[] = {
        {"empty", [&] { QFile(bad).open(QIODevice::WriteOnly); }, "是空的"},
        {"not a database", [&] { QFile f(bad); f.open(QIODevice::WriteOnly); f.write(QByteArray(8192, 'x')); }, "不是本程序的数据库"},
        {"another password", [&] { deliverDatabase(bad, QStringLiteral("other"), schemaSql); }, "密码不对"},
        {"no cards table", [&] { deliverDatabase(bad, QStringLiteral("kqv749"), QStringLiteral("create table x(y);")); }, "不是名片数据库"},
        {"damaged",
         [&] {
             db.backupTo(bad);
             QFile f(bad);
             f.open(QIODevice::ReadWrite);
             f.seek(3 * 4096 + 100);
             f.write(QByteArray(200, 'x'));
         },
         "损坏"},
        {"the file in use", [&] { QFile::copy(copy.path(), bad); }, "正在使用"},
    };
    addCard(QStringLiteral("现有"));
    db.close();
    const QByteArray before = contents(copy.path());
    for (const auto& c : cases) {
        QFile::remove(bad);
        c.make();
        const QString source = QString::fromUtf8(c.name) == QStringLiteral("the file in use") ? copy.path() : bad;
        try {
            restoreDatabase(db, source, folder(), QDateTime(QDate(2026, 12, 9), QTime(13, 30)));
            ADD_FAILURE() << c.name << " was restored";
        } catch (const EngineError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(c.message))) << c.name << ": " << e.message().toStdString();
        }
        db.close();
        EXPECT_EQ(contents(copy.path()), before) << c.name;
        EXPECT_FALSE(QFileInfo::exists(folder())) << c.name;
        EXPECT_EQ(QDir(copy.programDir() + QStringLiteral("Data")).entryList(QDir::Files), QStringList{"db.edb"}) << c.name;
    }
}

TEST_F(Backups, RestoreKeepsTheCurrentFileThenReplacesIt)
{
    addCard(QStringLiteral("备份里的"));
    const QString backup = copy.programDir() + QStringLiteral("备份.edb");
    db.backupTo(backup);
    addCard(QStringLiteral("备份后的"));

    const QString kept = restoreDatabase(db, backup, folder(), QDateTime(QDate(2026, 12, 9), QTime(13, 30, 5)));

    EXPECT_EQ(kept, QDir(folder()).filePath(QStringLiteral("恢复前-2026-12-09-133005.edb")));
    EXPECT_EQ(cardsNamed(kept, QStringLiteral("备份后的")), 1);
    EXPECT_EQ(db.countRows(QStringLiteral("select * from D_B where BName='备份里的'")), 1);
    EXPECT_EQ(db.countRows(QStringLiteral("select * from D_B where BName='备份后的'")), 0);
    EXPECT_EQ(db.select(QStringLiteral("PRAGMA integrity_check")).text(0, 0), QStringLiteral("ok"));
}

TEST_F(Backups, UserPasswordIsSetChangedAndRemovedInPlaceAndBackupsCarryIt)
{
    addCard(QStringLiteral("有密码"));
    const QString program = QString::fromLatin1(kDatabasePassword);
    const QStringList keys{program, QStringLiteral("我的'密码 1"), QStringLiteral("新")};
    for (const QString& key : {keys[1], keys[2], QString()}) {
        const QString expected = key.isEmpty() ? program : key;
        db.changePassword(key);
        EXPECT_EQ(db.hasUserPassword(), !key.isEmpty());
        const QString manual = copy.programDir() + QStringLiteral("手动.edb");
        db.backupTo(manual);
        const QString daily = writeDailyBackup(db, folder(), QDate(2026, 12, 9));
        for (const QString& file : {copy.path(), manual, daily})
            for (const QString& tried : keys)
                EXPECT_EQ(fileOpensWith(file, tried), tried == expected) << file.toStdString() << " " << tried.toStdString();

        const auto restarted = reopened(copy.connectionString(), key);
        ASSERT_TRUE(restarted) << expected.toStdString();
        EXPECT_EQ(restarted->countRows(QStringLiteral("select * from D_B where BName='有密码'")), 1);
        EXPECT_EQ(reopened(copy.connectionString(), QString()) != nullptr, key.isEmpty());
        // Closing forgets the user's password: the next open tries the program's own.
        restarted->close();
        if (!key.isEmpty()) {
            EXPECT_THROW(restarted->open(), EngineError);
        }
    }
}

TEST_F(Backups, RestoredFileKeepsItsOwnPassword)
{
    addCard(QStringLiteral("备份里的"));
    db.changePassword(QStringLiteral("备份的"));
    const QString backup = copy.programDir() + QStringLiteral("备份.edb");
    db.backupTo(backup);
    db.changePassword({});
    addCard(QStringLiteral("备份后的"));

    EXPECT_THROW(restoreDatabase(db, backup, folder(), QDateTime(QDate(2026, 12, 9), QTime(13, 30))), EngineError);
    EXPECT_EQ(db.countRows(QStringLiteral("select * from D_B where BName='备份后的'")), 1);

    const QString kept = restoreDatabase(db, backup, folder(), QDateTime(QDate(2026, 12, 9), QTime(13, 31)), QStringLiteral("备份的"));
    EXPECT_TRUE(db.hasUserPassword());
    EXPECT_EQ(db.countRows(QStringLiteral("select * from D_B where BName='备份里的'")), 1);
    EXPECT_TRUE(fileOpensWith(kept, QString::fromLatin1(kDatabasePassword)));
    EXPECT_TRUE(reopened(copy.connectionString(), QStringLiteral("备份的")));
}

TEST_F(Backups, ReKeyKilledMidwayLeavesTheFileReadableWithTheOldOrTheNewPassword)
{
    // About 25 MB of cards: much more than the re-keying process's page cache, so re-keyed
    // pages reach the file before the commit, as for a database bigger than the program's.
    const int cards = 20000;
    db.execute(QStringLiteral("insert into D_B(BName, BDes, FDes, theDel) "
                              "with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
                              "select 'c' || i, hex(randomblob(300)), hex(randomblob(300)), '否' from n")
                   .arg(cards));
    db.close();
    const QByteArray original = contents(copy.path());
    const QString journal = copy.path() + QStringLiteral("-journal");
    for (const double killedAt : {0.25, 0.75}) {
        QFile file(copy.path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(original);
        file.close();
        QProcess child;
        child.start(QStringLiteral(OSTREL_REKEY_CHILD), {copy.path(), QString(), QStringLiteral("新密码"), QStringLiteral("500")});
        ASSERT_TRUE(child.waitForStarted());
        const QDeadlineTimer deadline(120000);
        while (QFileInfo(journal).size() < killedAt * original.size() && !child.waitForFinished(1) && !deadline.hasExpired()) {
        }
        child.kill();
        child.waitForFinished();
        // Killed midway: the file partly re-keyed, its journal beside it.
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << killedAt << child.readAllStandardError().toStdString();
        EXPECT_TRUE(QFileInfo::exists(journal)) << killedAt;
        EXPECT_NE(contents(copy.path()), original) << killedAt;

        auto after = reopened(copy.connectionString(), QString());
        if (!after)
            after = reopened(copy.connectionString(), QStringLiteral("新密码"));
        ASSERT_TRUE(after) << "opens with neither password at " << killedAt;
        EXPECT_EQ(after->select(QStringLiteral("PRAGMA integrity_check")).text(0, 0), QStringLiteral("ok"));
        EXPECT_EQ(after->countRows(QStringLiteral("select * from D_B where BName like 'c%'")), cards);
    }
}

TEST_F(Backups, SqlcipherToolReadsAFileWithAUserPasswordOnlyWithIt)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("sqlcipher"));
    if (tool.isEmpty())
        GTEST_SKIP() << "the sqlcipher tool is not installed";
    addCard(QStringLiteral("甲"));
    db.changePassword(QStringLiteral("用户's"));
    // The README's settings, with the user's password as the key.
    const auto count = [&](const QString& quotedKey) {
        QProcess run;
        run.start(tool, {copy.path(), QStringLiteral("PRAGMA key = '%1'; PRAGMA cipher_page_size = 4096; "
                                                     "select count(*) from D_B;").arg(quotedKey)});
        run.waitForFinished();
        return QString::fromUtf8(run.readAllStandardOutput() + run.readAllStandardError()).trimmed();
    };
    EXPECT_TRUE(count(QStringLiteral("kqv749")).contains(QStringLiteral("file is encrypted or is not a database")));
    EXPECT_EQ(count(QStringLiteral("用户''s")), QStringLiteral("1"));
}

#include "db/backup.h"
#include "db/connection_string.h"
#include "db/engine_error.h"
#include "db/sqlcipher_connection.h"
#include "test_database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    SqlCipherConnection db;
    db.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=kqv749").arg(path));
    return db.countRows(QStringLiteral("select * from D_B where BName='%1'").arg(name));
}

class Backups : public ::testing::Test {
protected:
    Backups() { db.setConnectionString(copy.connectionString()); }
    void addCard(const QString& name) { db.execute(QStringLiteral("insert into D_B(BName, theDel) values('%1','否')").arg(name)); }
    QString folder() const { return copy.programDir() + QStringLiteral("Data/Backup"); }

    test::TestDatabase copy;
    SqlCipherConnection db;
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

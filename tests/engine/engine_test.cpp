#include "cards/card_statements.h"
#include "core/quick_find_index.h"
#include "core/search_keys.h"
#include "engine/engine_error.h"
#include "engine/query.h"
#include "core/schema_upgrade.h"
#include "engine/sql_text.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "plain_user.h"
#include "test_database.h"
#include "core/open_database.h"

#include <QFile>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>

using namespace ostrel;
using test::engineMessage;

namespace {

class Engine : public ::testing::Test {
protected:
    Engine() { db.setConnectionString(copy.connectionString()); }

    QStringList column(const QString& sql)
    {
        const ResultSet rows = db.select(sql);
        QStringList values;
        for (int r = 0; r < rows.rowCount(); ++r)
            values << rows.text(r, 0);
        return values;
    }

    test::TestDatabase copy;
    SqlCipherConnection db{cardDatabaseRules()};
};

} // namespace

TEST_F(Engine, DeliveredDatabaseHoldsTheTablesAndSeedRows)
{
    EXPECT_EQ(column(QStringLiteral("select name from sqlite_master where type='table' and name not like 'sqlite%' order by name")),
              (QStringList{"DJNR", "DList", "D_B", "D_Mr", "D_P", "D_Sex", "D_Type", "D_XS"}));
    EXPECT_EQ(column(QStringLiteral("select theName from D_Sex")), (QStringList{"男", "女"}));
    const QStringList provinces = column(QStringLiteral("select theName from D_P"));
    EXPECT_EQ(provinces.size(), 34);
    EXPECT_EQ(provinces.first(), QStringLiteral("北京"));
    EXPECT_GE(column(QStringLiteral("select theName from D_Type")).size(), 3);
    // The one default row names values of the lists.
    EXPECT_EQ(db.countRows(QStringLiteral("select * from D_Mr m where m.theType in (select theName from D_Type) "
                                          "and m.theSex in (select theName from D_Sex) and m.theP in (select theName from D_P)")),
              1);
    EXPECT_EQ(db.countRows(QStringLiteral("select * from D_Mr")), 1);
    EXPECT_EQ(column(QStringLiteral("select ID || ':' || theName || ':' || theV || ':' || theWidth || ':' || theXS "
                                    "from D_XS order by theInt"))
                  .join(u' '),
              QStringLiteral("1:theType:分类:80:1 2:BName:姓名:100:1 3:BSex:性别:40:1 4:BPho:固定电话:100:1 "
                             "5:BMob:移动电话:100:1 6:BMail:电子邮箱:100:1 7:BQQ:QQ号码:100:1 8:BMSN:MSN号码:100:1 "
                             "9:BWW:阿里旺旺:100:1 10:BDes:描述:200:1 11:DArea:省份:80:1 12:DCity:城市:80:1 "
                             "13:DName:单位名称:150:1 14:DPart:所在部门:80:1 15:DJob:担任职务:80:1 16:DAdd:单位地址:100:1 "
                             "17:DPho:单位电话:100:1 18:DFax:单位传真:200:1 19:DPos:邮政编码:60:1 20:DWWW:单位网站:100:1 "
                             "21:FAdd:家庭地址:200:1 22:FPho:家庭电话:100:1 23:FPro:家属姓名:100:1 24:FDes:补充信息:200:1 "
                             "26:theDate:录入日期:80:1"));
    EXPECT_EQ(column(QStringLiteral("select theInt from D_XS order by ID")).join(u','),
              QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25"));
}

TEST_F(Engine, FileCannotBeReadWithoutTheRightPassword)
{
    for (const char* password : {"", "kqv748"}) {
        SqlCipherConnection other{cardDatabaseRules()};
        other.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=\"%2\"")
                                      .arg(copy.path(), QString::fromLatin1(password)));
        EXPECT_TRUE(engineMessage([&] { other.select(QStringLiteral("select * from D_B")); })
                        .endsWith(QStringLiteral("\nfile is encrypted or is not a database")))
            << password;
    }
    QFile raw(copy.path());
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_FALSE(raw.readAll().contains("D_XS"));
}

// Each failure a user meets: how it is brought about on a fresh copy, the statement that
// meets it, what the user is told to do, and the engine's own text after it.
TEST(EngineFailures, SayWhatToDoThenTheEngineText)
{
    using Setup = std::function<void(test::TestDatabase&, SqlCipherConnection&)>;
    SqlCipherConnection locker{cardDatabaseRules()};
    const struct {
        const char* name;
        Setup setup;
        const char* statement;
        const char* advice;
        const char* engine;
    } cases[] = {
        {"wrong password",
         [](test::TestDatabase& copy, SqlCipherConnection& db) {
             db.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=x").arg(copy.path()));
         },
         "select * from D_B", "这个文件不是本程序的数据库，或者密码不对。", "file is encrypted or is not a database"},
        {"missing file", [](test::TestDatabase& copy, SqlCipherConnection&) { QFile::remove(copy.path()); },
         "select 1", "无法打开数据库文件。", "unable to open database file"},
        {"empty file",
         [](test::TestDatabase& copy, SqlCipherConnection&) { QFile(copy.path()).open(QIODevice::WriteOnly | QIODevice::Truncate); },
         "select 1", "数据库文件是空的（0 字节）或已损坏，没有打开它", ""},
        {"damaged file",
         [](test::TestDatabase& copy, SqlCipherConnection&) {
             QFile file(copy.path());
             file.open(QIODevice::ReadWrite);
             file.seek(4096);
             file.write(QByteArray(static_cast<int>(file.size()) - 4096, 'x'));
         },
         "select count(*) from D_XS", "数据库文件已损坏。", ""},
        {"locked by another program",
         [&](test::TestDatabase& copy, SqlCipherConnection&) {
             locker.setConnectionString(copy.connectionString());
             locker.execute(QStringLiteral("BEGIN EXCLUSIVE"));
         },
         "select count(*) from D_B", "数据库正被另一个程序使用", "database is locked"},
        {"disk full",
         [](test::TestDatabase&, SqlCipherConnection& db) {
             const QString pages = db.select(QStringLiteral("PRAGMA page_count")).text(0, 0);
             db.execute(QStringLiteral("PRAGMA max_page_count = ") + pages);
         },
         "insert into D_B(BName, FDes, theDel) values('满', hex(randomblob(100000)), '否')", "磁盘已满，本次修改没有保存。",
         "database or disk is full"},
        {"read-only folder",
         [](test::TestDatabase& copy, SqlCipherConnection&) {
             QFile::setPermissions(copy.programDir() + QStringLiteral("Data"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
         },
         "insert into D_B(BName, theDel) values('只读', '否')", "是只读的，不能保存修改", "attempt to write a readonly database"},
    };
    for (const auto& c : cases) {
        test::TestDatabase copy;
        SqlCipherConnection db{cardDatabaseRules()};
        db.setConnectionString(copy.connectionString());
        c.setup(copy, db);
        const qint64 size = QFileInfo(copy.path()).size();
        {
            const test::PlainUser user;
            const QString message = engineMessage([&] { db.execute(QString::fromUtf8(c.statement)); });
            EXPECT_TRUE(message.contains(QString::fromUtf8(c.advice))) << c.name << ": " << message.toStdString();
            EXPECT_TRUE(message.contains(QString::fromUtf8(c.engine))) << c.name << ": " << message.toStdString();
        }
        // Opening never rewrites a file it could not read.
        EXPECT_EQ(QFileInfo(copy.path()).size(), size) << c.name;
        if (locker.inTransaction())
            locker.rollback();
        QFile::setPermissions(copy.programDir() + QStringLiteral("Data"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

TEST(EngineFailures, ReadOnlyFolderListsCardsAndRefusesSaves)
{
    test::TestDatabase copy;
    const QString data = copy.programDir() + QStringLiteral("Data");
    QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    {
        const test::PlainUser user;
        SqlCipherConnection db{cardDatabaseRules()};
        db.setConnectionString(copy.connectionString());
        EXPECT_EQ(db.countRows(QStringLiteral("select * from D_XS")), 25);
        EXPECT_TRUE(db.isReadOnly());
    }
    QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(Engine, MissingFileIsAnErrorAndNoFileIsCreated)
{
    SqlCipherConnection missing{cardDatabaseRules()};
    const QString path = copy.programDir() + QStringLiteral("Data/none.edb");
    missing.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=\"kqv749\"").arg(path));
    EXPECT_TRUE(engineMessage([&] { missing.select(QStringLiteral("select 1")); }).contains(QStringLiteral("\nunable to open database file")));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(missing.isOpen());
}

TEST_F(Engine, StorageSettingsAreAppliedOnOpen)
{
    EXPECT_EQ(column(QStringLiteral("PRAGMA journal_mode")), QStringList{"delete"});
    EXPECT_EQ(column(QStringLiteral("PRAGMA synchronous")), QStringList{"2"});
    EXPECT_EQ(column(QStringLiteral("PRAGMA cache_size")), QStringList{"-65536"});
    EXPECT_EQ(column(QStringLiteral("PRAGMA cipher_page_size")), QStringList{"4096"});
}

TEST_F(Engine, TheFileAloneHoldsEveryCommittedChange)
{
    db.execute(QStringLiteral("insert into D_B(BName, theDel) values('刚保存', '否')"));
    // Copied by hand while the program is open, as users do.
    const QString copied = copy.programDir() + QStringLiteral("copied.edb");
    ASSERT_TRUE(QFile::copy(copy.path(), copied));
    SqlCipherConnection other{cardDatabaseRules()};
    other.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=kqv749").arg(copied));
    EXPECT_EQ(other.countRows(QStringLiteral("select * from D_B where BName='刚保存'")), 1);
    EXPECT_FALSE(QFile::exists(copy.path() + QStringLiteral("-wal")));
}

TEST_F(Engine, QuoteHoldingValuesAreStoredAndFoundAsTyped)
{
    const QString names[] = {QStringLiteral("O'Brien"), QStringLiteral("a''b"),
                             QStringLiteral("x'); delete from D_B; --"), QStringLiteral("前\0后")};
    for (const QString& name : names) {
        EXPECT_EQ(db.execute(QStringLiteral("insert into D_B(BName, theDel) values('%1','否')").arg(sqlQuote(name))), 1);
        // A NUL is dropped on the way in.
        EXPECT_EQ(column(QStringLiteral("select BName from D_B where BName='%1'").arg(sqlQuote(name))),
                  QStringList{QString(name).remove(QChar(u'\0'))});
        EXPECT_EQ(db.countRows(QStringLiteral("select ID from D_B where BName Like '%%1%'").arg(sqlQuote(name))), 1)
            << name.toStdString();
    }
    EXPECT_EQ(db.countRows(QStringLiteral("select ID from D_B")), 4);
}

TEST_F(Engine, PreparedStatementsBindValuesAsTheQuotedTextStoresThem)
{
    const auto insert = db.prepare(QStringLiteral("insert into D_B(BName, BSex, theDel) values(?, ?, '否')"));
    const auto find = db.prepare(QStringLiteral("select BName, BSex from D_B where BName=? and theDel='否'"));
    const QString names[] = {QStringLiteral("O'Brien"), QStringLiteral("x'); delete from D_B; --"), QStringLiteral("前\0后"),
                             QString(), QStringLiteral("?")};
    for (const QString& name : names) {
        insert->bind(1, name);
        insert->bind(2, QStringLiteral("男"));
        EXPECT_EQ(insert->exec(), 1) << name.toStdString();
        const QString stored = QString(name).remove(QChar(u'\0'));
        // Found by the quoted text and by the bound value alike; a bound value that ran
        // before is bound anew without a reset.
        EXPECT_EQ(db.countRows(QStringLiteral("select ID from D_B where BName='%1'").arg(sqlQuote(name))), 1) << name.toStdString();
        find->bind(1, name);
        ASSERT_TRUE(find->step()) << name.toStdString();
        EXPECT_EQ(find->text(0), stored);
        EXPECT_EQ(find->text(1), QStringLiteral("男"));
        EXPECT_FALSE(find->step());
    }
    EXPECT_EQ(db.countRows(QStringLiteral("select ID from D_B")), 5);
    // The bindings stay for the next run.
    find->reset();
    EXPECT_TRUE(find->step());
    EXPECT_EQ(find->text(0), QStringLiteral("?"));
    find->reset();

    // Failures take the engine's one error path: its text, with the advice for a full disk.
    EXPECT_EQ(engineMessage([&] { db.prepare(QStringLiteral("select nothing from D_B where ID=?")); }),
              QStringLiteral("no such column: nothing"));
    EXPECT_TRUE(engineMessage([&] { insert->bind(3, QStringLiteral("x")); }).contains(QStringLiteral("out of range")));
    EXPECT_EQ(engineMessage([&] { find->text(2); }), QStringLiteral("语句的当前行没有编号为 2 的列"));
    const auto typeWithId = db.prepare(QStringLiteral("insert into D_Type(ID, theName) values(?, ?)"));
    typeWithId->bind(1, QStringLiteral("1"));
    typeWithId->bind(2, QStringLiteral("重复"));
    EXPECT_TRUE(engineMessage([&] { typeWithId->exec(); }).contains(QStringLiteral("UNIQUE constraint failed")));
    db.execute(QStringLiteral("PRAGMA max_page_count = ") + db.select(QStringLiteral("PRAGMA page_count")).text(0, 0));
    const auto big = db.prepare(QStringLiteral("insert into D_B(BName, FDes, theDel) values(?, hex(randomblob(100000)), '否')"));
    big->bind(1, QStringLiteral("满"));
    EXPECT_TRUE(engineMessage([&] { big->exec(); }).startsWith(QStringLiteral("磁盘已满，本次修改没有保存。")));

    // Closing the connection ends its statements; the next statement opens it again.
    db.close();
    EXPECT_EQ(engineMessage([&] { find->step(); }), QStringLiteral("数据库连接已关闭，预备的语句不能再用"));
    EXPECT_EQ(engineMessage([&] { insert->bind(1, QStringLiteral("x")); }), QStringLiteral("数据库连接已关闭，预备的语句不能再用"));
    EXPECT_EQ(db.countRows(QStringLiteral("select ID from D_B")), 5);
}

TEST_F(Engine, CommandsReturnTheRowsTheyChanged)
{
    EXPECT_EQ(db.execute(QStringLiteral("Update D_XS set theXS=False where ID>20")), 5);
    EXPECT_EQ(db.execute(QStringLiteral("Update D_B set BName='x' where ID=12345")), 0);
    EXPECT_EQ(db.execute(QStringLiteral("Delete * from D_Type Where (ID = 1)")), 1);
}

TEST_F(Engine, MidCountsCharactersFromOne)
{
    const struct {
        const char* expression;
        const char* result;
    } cases[] = {
        {"Mid('2026-03-05',6,5)", "03-05"},
        {"Mid('2026-3-5',6,5)", "3-5"},
        {"Mid('张三李四',2,2)", "三李"},
        {"Mid('abc',5,2)", ""},
        {"Mid('abc',2)", "bc"},
        {"Mid('abc',1,0)", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(column(QStringLiteral("select ") + QString::fromUtf8(c.expression)), QStringList{QString::fromUtf8(c.result)})
            << c.expression;
    EXPECT_FALSE(engineMessage([&] { db.select(QStringLiteral("select Mid('abc',0,1)")); }).isEmpty());
}

TEST_F(Engine, TextComparesWithoutRegardToAsciiCase)
{
    db.execute(QStringLiteral("insert into D_B(BName, BSex, theType, theDel) values('Wang','男','客户','否')"));
    EXPECT_EQ(db.countRows(QStringLiteral("select ID from D_B Where theType='客户' and BName='WANG' and BSex='男' and theDel='否'")), 1);
    EXPECT_EQ(db.countRows(QStringLiteral("select ID from D_B Where BName='Wang '")), 0); // blanks are content
}

TEST_F(Engine, OneStatementAtATime)
{
    EXPECT_EQ(engineMessage([&] { db.execute(QStringLiteral("delete from D_B; delete from D_XS")); }),
              QStringLiteral("一次只能执行一条语句"));
    EXPECT_EQ(db.countRows(QStringLiteral("select * from D_XS")), 25);
    EXPECT_EQ(db.execute(QStringLiteral("update D_XS set theWidth=theWidth;  ")), 25);
}

TEST_F(Engine, BadStatementGivesTheEngineText)
{
    EXPECT_EQ(engineMessage([&] { db.select(QStringLiteral("select nothing from D_B")); }), QStringLiteral("no such column: nothing"));
}

TEST_F(Engine, TransactionRollsBackAndCommits)
{
    db.beginTransaction();
    db.execute(QStringLiteral("insert into D_Type(theName) values('甲')"));
    db.rollback();
    EXPECT_EQ(db.countRows(QStringLiteral("select * from D_Type where theName='甲'")), 0);
    db.beginTransaction();
    db.execute(QStringLiteral("insert into D_Type(theName) values('乙')"));
    db.commit();
    EXPECT_FALSE(db.inTransaction());
    SqlCipherConnection other{cardDatabaseRules()};
    other.setConnectionString(copy.connectionString());
    EXPECT_EQ(other.countRows(QStringLiteral("select * from D_Type where theName='乙'")), 1);
}

TEST(Delivery, RemovesALogLeftBesideTheFile)
{
    // A real write-ahead log of another database, left where a fresh file is delivered.
    test::TestDatabase other;
    SqlCipherConnection writer{cardDatabaseRules()};
    writer.setConnectionString(other.connectionString());
    writer.execute(QStringLiteral("PRAGMA journal_mode = WAL"));
    writer.execute(QStringLiteral("PRAGMA wal_autocheckpoint = 0"));
    for (int i = 0; i < 50; ++i)
        writer.execute(QStringLiteral("update D_XS set theWidth = theWidth + 1"));
    test::TestDatabase copy;
    QFile::remove(copy.path());
    ASSERT_TRUE(QFile::copy(other.path() + QStringLiteral("-wal"), copy.path() + QStringLiteral("-wal")));
    QFile schema(QStringLiteral(OSTREL_SCHEMA_SQL));
    ASSERT_TRUE(schema.open(QIODevice::ReadOnly));
    ASSERT_TRUE(deliverDatabase(copy.path(), QStringLiteral("kqv749"), QString::fromUtf8(schema.readAll())));
    SqlCipherConnection delivered{cardDatabaseRules()};
    delivered.setConnectionString(copy.connectionString());
    EXPECT_EQ(delivered.select(QStringLiteral("PRAGMA integrity_check")).text(0, 0), QStringLiteral("ok"));
    EXPECT_EQ(delivered.countRows(QStringLiteral("select * from D_XS where theWidth > 500")), 0);
}

TEST(Delivery, LeavesAnExistingFileAsItIs)
{
    test::TestDatabase copy;
    QFile file(copy.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    EXPECT_FALSE(deliverDatabase(copy.path(), QStringLiteral("kqv749"), QStringLiteral("create table x(y);")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
}

namespace {

// Cards with quick-find keys, written as the program writes them.
class QuickFind : public Engine {
protected:
    QuickFind()
    {
        upgradeSchema(db); // the delivered file gets its key table on first open
        const struct {
            const char* name;
            const char* mobile;
            const char* phone;
            const char* company;
            const char* mail;
        } cards[] = {
            {"张三", "138-0013-8000", "", "深圳市腾讯计算机系统有限公司", "zhangsan@qq.com"},
            {"张三丰", "+86 138 0013 8000", "(010) 6123-4567", "", ""},
            {"李张三", "", "", "100%纯净水厂", "li_zs@example.com"},
            {"曾国藩", "", "", "", ""},
            {"单田芳", "", "", "", ""},
            {"O'Neil", "", "", "", ""},
            {"吕布", "", "", "", ""},
        };
        for (const auto& c : cards) {
            db.runBound(QStringLiteral("insert into D_B(BName, BMob, BPho, DName, BMail, theDel) values(?1, ?2, ?3, ?4, ?5, '否')"),
                        {QString::fromUtf8(c.name), QString::fromUtf8(c.mobile), QString::fromUtf8(c.phone),
                         QString::fromUtf8(c.company), QString::fromUtf8(c.mail)});
            updateSearchKeys(db, {db.lastInsertId()});
        }
    }
    std::vector<int64_t> liveCards()
    {
        std::vector<int64_t> list;
        for (const QString& id : column(QStringLiteral("select ID from D_B where theDel='否' order by ID desc")))
            list.push_back(id.toLongLong());
        return list;
    }
    QStringList names(const std::vector<int64_t>& cards)
    {
        QStringList names;
        for (int64_t id : cards)
            names << column(QStringLiteral("select BName from D_B where ID=%1").arg(id)).first();
        return names;
    }
    // The names quick find leaves of the live cards, newest first as the list shows them.
    QStringList found(const QString& typed) { return names(quickFind(db, typed, liveCards())); }
};

} // namespace

TEST_F(QuickFind, MatchesNamePinyinInitialsPhoneDigitsCompanyAndMail)
{
    const struct {
        const char* typed;
        QStringList names; // exact name first, then initials, then the rest; newest first within
    } cases[] = {
        {"zs", {"张三丰", "张三", "李张三"}},
        {"zhangsan", {"张三", "李张三", "张三丰"}},
        {"zhang san", {"张三", "李张三", "张三丰"}},
        {"ZHANG", {"李张三", "张三丰", "张三"}},
        {"ｚｓｆ", {"张三丰"}},
        {"张", {"李张三", "张三丰", "张三"}},
        {"张三", {"张三", "李张三", "张三丰"}},
        // Heteronym surnames by each reading.
        {"zengguofan", {"曾国藩"}},
        {"cengguofan", {"曾国藩"}},
        {"zgf", {"曾国藩"}},
        {"shantianfang", {"单田芳"}},
        {"dtf", {"单田芳"}},
        {"lvbu", {"吕布"}},
        {"lubu", {"吕布"}},
        // Phone digits: separators and a leading +86 left out, in the typed text too.
        {"13800", {"张三丰", "张三"}},
        {"138-0013", {"张三丰", "张三"}},
        {"+86 1380013", {"张三丰", "张三"}},
        {"61234567", {"张三丰"}},
        {"腾讯", {"张三"}},
        {"@QQ.com", {"张三"}},
        {"example.com", {"李张三"}},
        // Typed quotes and wildcards match themselves.
        {"o'n", {"O'Neil"}},
        {"'", {"O'Neil"}},
        {"%", {"李张三"}},
        {"_", {"李张三"}},
        {"0%纯", {"李张三"}},
        {"%'", {}},
        {"王", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(found(QString::fromUtf8(c.typed)), c.names) << c.typed;
    // Text that folds to nothing narrows nothing.
    EXPECT_EQ(found(QStringLiteral("  ")).size(), 7);
}

TEST_F(QuickFind, KeysFollowEveryWriteOfACard)
{
    const int64_t id = column(QStringLiteral("select ID from D_B where BName='吕布'")).first().toLongLong();
    db.execute(QStringLiteral("update D_B set BName='貂蝉' where ID=%1").arg(id));
    updateSearchKeys(db, {id});
    EXPECT_EQ(found(QStringLiteral("lubu")), QStringList{});
    EXPECT_EQ(found(QStringLiteral("diaochan")), QStringList{"貂蝉"});
    db.execute(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(id));
    updateSearchKeys(db, {id});
    EXPECT_EQ(found(QStringLiteral("diaochan")), QStringList{});
    EXPECT_EQ(column(QStringLiteral("select count(*) from D_BKey where ID=%1").arg(id)), QStringList{"0"});
    // Cards numbered above a given one, as an import adds them.
    const int64_t last = column(QStringLiteral("select max(ID) from D_B")).first().toLongLong();
    db.execute(QStringLiteral("insert into D_B(BName, theDel) values('关羽', '否')"));
    db.execute(QStringLiteral("insert into D_B(BName, theDel) values('刘备', '是')"));
    updateSearchKeysAfter(db, last);
    EXPECT_EQ(found(QStringLiteral("gy")), QStringList{"关羽"});
    EXPECT_EQ(column(QStringLiteral("select count(*) from D_BKey")), QStringList{"7"});
}

TEST_F(QuickFind, TheIndexFindsAndCountsAsTheEngineAsTheTextAndTheCardsChange)
{
    const QString card = QStringLiteral("(select ID from D_B where BName='%1')");
    const struct {
        const char* typed;
        const char* change; // run before the keystroke; %1 is a card by name
        const char* of;     // that card's name
    } steps[] = {
        {"z", nullptr, nullptr},
        {"zh", nullptr, nullptr},
        {"zhang", nullptr, nullptr},
        {"zha", nullptr, nullptr},          // shortened
        {"zs", nullptr, nullptr},           // changed
        {"zsf", nullptr, nullptr},          // extended, down to one card
        {"13800", nullptr, nullptr},
        {"z", nullptr, nullptr},
        // Cards changed between two keystrokes, the second extending the first.
        {"zh", "update D_B set BName='张飞' where ID=%1", "吕布"},
        {"zhang", "insert into D_B(BName, theDel) values('张辽', '否')", nullptr},
        {"zhangf", "update D_B set theDel='是' where ID=%1", "张三丰"},
        {"zhangfe", "insert into DList(DID, LDate) values(%1, '2026-01-02')", "张飞"},
        {"zhangfei", "delete from DList where DID=%1", "张飞"},
        // Digits kept two to a byte: an odd run, a run longer than one packing holds, runs
        // meeting letters, and the typed text across those places.
        {"0755", "update D_B set BPho='0755-8765432', BMail='a12345678901234567890123456789012345b7@x.cn' where ID=%1", "李张三"},
        {"07558765432", nullptr, nullptr},
        {"+86 8765432", nullptr, nullptr},
        {"a123", nullptr, nullptr},
        {"3456789012345678901234567890123", nullptr, nullptr},
        {"345b7@", nullptr, nullptr},
        {"5b", nullptr, nullptr},
        {"z", "insert into DJNR(DID, JDate) values(%1, '2001-02-03')", "张三"},
        // A card numbered below every other one goes first in the index: the others move.
        {"zh", "insert into D_B(ID, BName, theDel) values(-1, '张角', '否')", nullptr},
        {"zhangjiao", nullptr, nullptr},
        // One numbered beyond four bytes from the first.
        {"zh", "insert into D_B(ID, BName, theDel) values(5000000000, '张宝', '否')", nullptr},
        {"zhangbao", nullptr, nullptr},
    };
    QuickFinder finder;
    auto index = std::make_shared<QuickFindIndex>();
    index->load(db);
    finder.setIndex(index);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.typed);
        if (step.change) {
            const QString of = step.of ? card.arg(QString::fromUtf8(step.of)) : QString();
            const QString ids = step.of ? column(QStringLiteral("select ID from D_B where BName='%1'").arg(QString::fromUtf8(step.of))).first() : QString();
            db.execute(step.of ? QString::fromUtf8(step.change).arg(of) : QString::fromUtf8(step.change));
            const int64_t changed = ids.isEmpty() ? db.lastInsertId() : ids.toLongLong();
            updateSearchKeys(db, {changed});
        }
        const QString typed = QString::fromUtf8(step.typed);
        const std::vector<int64_t> list = liveCards();
        const std::vector<int64_t> byIndex = finder.find(db, typed, list);
        EXPECT_EQ(names(byIndex), found(typed));
        // The counters, of the cards found and of the whole list, as the engine counts them.
        int64_t visits = -1, anniversaries = -1;
        auto expectCounts = [&](bool counted, const std::vector<int64_t>& cards) {
            EXPECT_TRUE(counted);
            EXPECT_EQ((std::vector<qint64>{visits, anniversaries}), db.sumsInIdRuns(visitAndAnniversaryCountSql(), cards));
        };
        expectCounts(finder.countsOfFound(visits, anniversaries), byIndex);
        expectCounts(finder.countAll(db, list, visits, anniversaries), list);
    }
    EXPECT_EQ(found(QStringLiteral("zhangfei")), QStringList{"张飞"});
}

TEST(QuickFindIndexValues, ReadBackAsPut)
{
    // Card IDs four bytes above the first while they fit, eight once one does not: at the
    // edge, beyond it above and below, and at the ends of the range.
    const std::vector<int64_t> idSequences[] = {
        {5, 3, 9, 4},
        {0, 4294967295, 7},
        {0, 4294967296, 7},
        {4294967295, 0, -1, 3},
        {-1, 1, INT64_MIN, INT64_MAX, 0},
    };
    for (const auto& cards : idSequences) {
        auto sorted = cards;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(QuickFindIndex::idsForTest(cards), sorted) << cards.front();
    }
    // Counts in two bytes, a larger one kept aside: at the edge, beyond it, and back below.
    const struct {
        std::vector<std::pair<uint32_t, uint32_t>> set; // position, count, in turn
        std::vector<uint32_t> read;
    } countCases[] = {
        {{{0, 65534}, {1, 65535}, {2, 4000000000u}}, {65534, 65535, 4000000000u}},
        {{{0, 70000}, {1, 70001}, {0, 3}}, {3, 70001}},
        {{{0, 70000}, {0, 65535}, {1, 2}}, {65535, 2}},
    };
    for (const auto& c : countCases)
        EXPECT_EQ(QuickFindIndex::countsForTest(c.set), c.read) << c.read.front();
    for (const char* text : {"", "7", "12", "123", "1380013800", "13800138000", "a1b22c333d\x02" "4444",
                             "12345678901234567890123456789012345678901234567890123456789",
                             "\x03" "123\x1e\x1f" "9", "x@\x7f\x80" "99", "user915901@example.com",
                             "a@example.com\x02" "13800138000\x02" "b@example.com", "@", "a@\x02" "b@c", "x@163.com",
                             "z@ex\x1e" "am\x1f" "ple.com\x02" "1@ex\x1e" "am\x1f" "ple.com", "a@@b.com@"})
        EXPECT_EQ(QuickFindIndex::packedForTest(text), text);
}

TEST_F(Engine, OlderFileGetsItsKeysAndTheWiderIndexOnceOnOpen)
{
    // As an older version left it: no key table, the live-card index without the name.
    db.execute(QStringLiteral("DROP INDEX D_B_Live"));
    db.execute(QStringLiteral("CREATE INDEX D_B_Live ON D_B (theDel, ID)"));
    for (const char* name : {"张三", "李四", "王五"})
        db.execute(QStringLiteral("insert into D_B(BName, theDel) values('%1', '否')").arg(QString::fromUtf8(name)));
    db.execute(QStringLiteral("update D_B set theDel='是' where BName='李四'"));
    // Visits of each card and of numbers without one, at both ends: the visit summaries are
    // made a range of card numbers at a time, and must add up as if made at once.
    db.execute(QStringLiteral("insert into DList(DID, LDate) select ID, '2024-01-05' from D_B"));
    db.execute(QStringLiteral("insert into DList(DID, LDate) select ID, '2024-03-01' from D_B where BName<>'王五'"));
    db.execute(QStringLiteral("insert into DList(DID, LDate) values(0, '2024-01-09'), (90, '2024-03-02'), (90, '2023-12-31')"));
    db.close();

    int64_t done = -1, total = -1, filled = -1, toFill = -1;
    EXPECT_EQ(upgradeSchema(db, UpgradeProgress{[&](int64_t d, int64_t t) { done = d; total = t; },
                                                [&](int64_t d, int64_t t) { filled = d; toFill = t; }}),
              UpgradeResult::Upgraded);
    EXPECT_EQ(done, total);
    EXPECT_EQ(filled, toFill);
    EXPECT_EQ(column(QStringLiteral("select YearMonth || Kind || Area || ':' || Visits from D_VisitMonths order by 1")),
              column(QStringLiteral("select substr(LDate,1,7) || theType || DArea || ':' || count(*) from DList join D_B "
                                    "on D_B.ID = DID group by substr(LDate,1,7), theType, DArea order by 1")));
    EXPECT_EQ(column(QStringLiteral("select Card || ':' || LastDate from D_VisitLast order by Card")),
              column(QStringLiteral("select DID || ':' || max(LDate) from DList group by DID order by DID")));
    EXPECT_EQ(column(QStringLiteral("select YearMonth || ':' || Cards from D_VisitLastMonths order by 1")),
              (QStringList{"2024-01:2", "2024-03:3"}));
    EXPECT_EQ(column(QStringLiteral("select ID from D_BKey order by ID")),
              column(QStringLiteral("select ID from D_B where theDel='否' order by ID")));
    EXPECT_EQ(column(QStringLiteral("PRAGMA index_info(D_B_Live)")).size(), 3);
    EXPECT_EQ(upgradeSchema(db), UpgradeResult::Current);
    // A card a tool added without a key gets one at the next open.
    db.execute(QStringLiteral("insert into D_B(BName, theDel) values('赵六', '否')"));
    EXPECT_EQ(upgradeSchema(db), UpgradeResult::Upgraded);
    EXPECT_EQ(column(QStringLiteral("select count(*) from D_BKey")), QStringList{"3"});
}

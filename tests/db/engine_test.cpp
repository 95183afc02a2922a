#include "engine_error.h"
#include "query.h"
#include "sql_text.h"
#include "sqlcipher_connection.h"
#include "test_database.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace ostrel;

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
    SqlCipherConnection db;
};

QString engineMessage(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EngineError& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

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
        SqlCipherConnection other;
        other.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=\"%2\"")
                                      .arg(copy.path(), QString::fromLatin1(password)));
        EXPECT_EQ(engineMessage([&] { other.select(QStringLiteral("select * from D_B")); }),
                  QStringLiteral("file is encrypted or is not a database"))
            << password;
    }
    QFile raw(copy.path());
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_FALSE(raw.readAll().contains("D_XS"));
}

TEST_F(Engine, MissingFileIsAnErrorAndNoFileIsCreated)
{
    SqlCipherConnection missing;
    const QString path = copy.programDir() + QStringLiteral("Data/none.edb");
    missing.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=\"kqv749\"").arg(path));
    EXPECT_TRUE(engineMessage([&] { missing.select(QStringLiteral("select 1")); }).startsWith(QStringLiteral("unable to open database file")));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(missing.isOpen());
}

TEST_F(Engine, StorageSettingsAreAppliedOnOpen)
{
    EXPECT_EQ(column(QStringLiteral("PRAGMA journal_mode")), QStringList{"wal"});
    EXPECT_EQ(column(QStringLiteral("PRAGMA synchronous")), QStringList{"2"});
    EXPECT_EQ(column(QStringLiteral("PRAGMA cache_size")), QStringList{"-65536"});
    EXPECT_EQ(column(QStringLiteral("PRAGMA cipher_page_size")), QStringList{"4096"});
}

TEST_F(Engine, QuoteHoldingValuesAreStoredAndFoundAsTyped)
{
    const QString names[] = {QStringLiteral("O'Brien"), QStringLiteral("a''b"),
                             QStringLiteral("x'); delete from D_B; --")};
    for (const QString& name : names) {
        EXPECT_EQ(db.execute(QStringLiteral("insert into D_B(BName, theDel) values('%1','否')").arg(sqlQuote(name))), 1);
        EXPECT_EQ(column(QStringLiteral("select BName from D_B where BName='%1'").arg(sqlQuote(name))), QStringList{name});
        EXPECT_EQ(db.countRows(QStringLiteral("select ID from D_B where BName Like '%%1%'").arg(sqlQuote(name))), 1)
            << name.toStdString();
    }
    EXPECT_EQ(db.countRows(QStringLiteral("select ID from D_B")), 3);
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
    SqlCipherConnection other;
    other.setConnectionString(copy.connectionString());
    EXPECT_EQ(other.countRows(QStringLiteral("select * from D_Type where theName='乙'")), 1);
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

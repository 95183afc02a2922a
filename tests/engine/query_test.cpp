#include "engine/engine_error.h"
#include "engine/query.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "test_database.h"
#include "core/open_database.h"

#include <gtest/gtest.h>
#include <unicode/ucol.h>

#include <numeric>

using namespace ostrel;

namespace {

// Every case runs on a list read at once and on a paged one.
class QueryRows : public ::testing::TestWithParam<bool> {
protected:
    QueryRows()
    {
        db.setConnectionString(copy.connectionString());
        const char* names[] = {"张三", "李四", "王五", "阿明", "zhang", "Bob"};
        int id = 0;
        for (const char* name : names)
            db.execute(QStringLiteral("insert into D_B(BName, BQQ, theDel) values('%1','%2','否')")
                           .arg(QString::fromUtf8(name))
                           .arg(++id % 3));
        query.setObjectName(QStringLiteral("ADOQuery1"));
        query.setPaged(GetParam());
        query.run(QStringLiteral("select ID, BName as 姓名, BQQ from D_B order by ID"));
    }

    QStringList names()
    {
        QStringList out;
        for (query.first(); !query.eof(); query.next())
            out << query.text(QStringLiteral("姓名"));
        return out;
    }

    test::TestDatabase copy;
    SqlCipherConnection db{cardDatabaseRules()};
    Query query{&db};
};

} // namespace

TEST_P(QueryRows, WalksRowsAndStaysOnTheLastAtTheEnd)
{
    EXPECT_EQ(query.recordCount(), 6);
    EXPECT_EQ(query.recNo(), 1);
    EXPECT_TRUE(query.bof());
    query.prior();
    EXPECT_EQ(query.recNo(), 1);
    query.last();
    EXPECT_EQ(query.text(QStringLiteral("姓名")), QStringLiteral("Bob"));
    query.next();
    EXPECT_TRUE(query.eof());
    EXPECT_EQ(query.recNo(), 6);
    EXPECT_EQ(query.text(QStringLiteral("姓名")), QStringLiteral("Bob"));
    EXPECT_EQ(query.integer(QStringLiteral("ID")), 6);
    EXPECT_TRUE(query.yesNo(QStringLiteral("BQQ")) == false); // the sixth row holds "0"
}

TEST_P(QueryRows, SortsInPinyinOrderBothWaysAndBack)
{
    // Chinese names in pinyin order (a, li, wang, zhang), then Latin ones.
    query.setSort(QStringLiteral("姓名 ASC"));
    EXPECT_EQ(names(), (QStringList{"阿明", "李四", "王五", "张三", "Bob", "zhang"}));
    query.setSort(QStringLiteral("姓名 DESC"));
    EXPECT_EQ(names(), (QStringList{"zhang", "Bob", "张三", "王五", "李四", "阿明"}));
    EXPECT_EQ(query.sort(), QStringLiteral("姓名 DESC"));
    query.setSort(QString());
    EXPECT_EQ(names(), (QStringList{"张三", "李四", "王五", "阿明", "zhang", "Bob"}));
    // A paged sort reads with a small cache: the refreshes' cache is back after it, unless a
    // longer piece of work (an import) still holds the cache small.
    const auto cacheSize = [&] { return db.select(QStringLiteral("PRAGMA cache_size")).text(0, 0); };
    EXPECT_EQ(cacheSize(), QStringLiteral("-65536"));
    db.keepCacheSmall(true);
    query.setSort(QStringLiteral("姓名 ASC"));
    EXPECT_NE(cacheSize(), QStringLiteral("-65536"));
    db.keepCacheSmall(false);
    EXPECT_EQ(cacheSize(), QStringLiteral("-65536"));
}

TEST_P(QueryRows, SortIsStableAndNumbersSortByValue)
{
    db.execute(QStringLiteral("insert into D_B(BName, BQQ, theDel) values('x','10','否')"));
    query.run(QStringLiteral("select ID, BName as 姓名, BQQ, ID*1 as n from D_B order by ID"));
    query.setSort(QStringLiteral("BQQ ASC"));
    QStringList qq;
    for (query.first(); !query.eof(); query.next())
        qq << query.text(QStringLiteral("BQQ")) + query.text(QStringLiteral("姓名"));
    // Text: "10" sorts between "1" and "2"; equal values keep the statement's order.
    EXPECT_EQ(qq, (QStringList{"0王五", "0Bob", "1张三", "1阿明", "10x", "2李四", "2zhang"}));
    query.setSort(QStringLiteral("n DESC"));
    query.first();
    EXPECT_EQ(query.text(QStringLiteral("n")), QStringLiteral("7"));
    query.last();
    EXPECT_EQ(query.text(QStringLiteral("n")), QStringLiteral("1"));
}

TEST_P(QueryRows, SortKeepsTheCurrentRowAndRefreshDropsTheSort)
{
    query.setRecNo(1); // 张三
    query.setSort(QStringLiteral("姓名 ASC"));
    EXPECT_EQ(query.text(QStringLiteral("姓名")), QStringLiteral("张三"));
    EXPECT_EQ(query.recNo(), 4);
    query.run(query.sql());
    EXPECT_EQ(query.sort(), QString());
    EXPECT_EQ(names().first(), QStringLiteral("张三"));
}

TEST_P(QueryRows, ErrorsNameTheQueryAndTheField)
{
    auto message = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const EngineError& e) {
            return e.message();
        }
        return QString();
    };
    EXPECT_EQ(message([&] { query.text(QStringLiteral("性别")); }), QStringLiteral("ADOQuery1: 找不到字段 '性别'"));
    EXPECT_EQ(message([&] { query.setSort(QStringLiteral("性别 ASC")); }), QStringLiteral("ADOQuery1: 找不到字段 '性别'"));
    query.close();
    EXPECT_EQ(message([&] { query.first(); }), QStringLiteral("ADOQuery1: 数据集没有打开，无法执行此操作"));
    query.run(QStringLiteral("select ID, BName from D_B where ID < 0"));
    EXPECT_EQ(query.text(QStringLiteral("ID")), QString()); // no rows reads as the empty text
    EXPECT_EQ(query.recNo(), 0);
    EXPECT_TRUE(query.eof() && query.bof());
}

INSTANTIATE_TEST_SUITE_P(ReadAtOnceOrWindowed, QueryRows, ::testing::Bool());

// A paged list of many pages reads cell for cell as the same list read at once: in the
// statement's order, sorted by text or by number either way, and by the second of two
// columns of one title; a card gone since the keys were read reads as empty cells.
TEST(WindowedList, ReadsAsTheListReadAtOnce)
{
    test::TestDatabase copy;
    SqlCipherConnection db{cardDatabaseRules()};
    db.setConnectionString(copy.connectionString());
    const QStringList names = QString::fromUtf8("张三 李四 王五 阿明 曾 zhang Bob '引号' 100%").split(u' ');
    db.execute(QStringLiteral("begin"));
    for (int i = 0; i < 300; ++i)
        db.execute(QStringLiteral("insert into D_B(BName, BQQ, theDel) values('%1','%2','%3')")
                       .arg(QString(names[i % names.size()]).replace(u'\'', QStringLiteral("''")))
                       .arg(i % 11)
                       .arg(i % 13 == 0 ? QStringLiteral("是") : QStringLiteral("否")));
    db.execute(QStringLiteral("commit"));
    const QString sql = QStringLiteral("select ID, BName as 姓名, BQQ as QQ, ID % 7 as QQ from D_B where theDel='否' order by ID desc");
    auto cells = [](const ResultSet& rows) {
        QStringList out;
        for (int i = 0; i < rows.rowCount(); ++i) {
            const int r = static_cast<int>((i * 37L) % rows.rowCount()); // jumps between pages
            for (int c = 0; c < rows.columnCount(); ++c)
                out << QString::number(r) + u':' + rows.text(r, c);
        }
        return out;
    };
    const ResultSet whole = db.select(sql);
    ASSERT_EQ(whole.rowCount(), 276);
    for (const auto& [column, descending] : std::vector<std::pair<int, bool>>{{-1, false}, {1, false}, {1, true}, {2, true}, {3, false}}) {
        ResultSet once = whole;
        ResultSet paged = db.selectPaged(sql);
        ASSERT_TRUE(paged.isPaged());
        if (column >= 0) {
            once.sortBy(column, descending);
            paged.sortBy(column, descending);
        }
        EXPECT_EQ(cells(paged), cells(once)) << column << descending;
    }
    ResultSet paged = db.selectPaged(sql);
    const int64_t gone = paged.ids()[100];
    db.execute(QStringLiteral("delete from D_B where ID=%1").arg(gone));
    EXPECT_EQ(paged.text(100, 1), QString());
    EXPECT_EQ(paged.text(101, 0), QString::number(paged.ids()[101]));
    // Sorted after a card went: its row comes first, an empty value, the others as read now.
    paged.sortBy(1, false);
    ResultSet now = db.select(sql);
    now.sortBy(1, false);
    std::vector<int64_t> expected{gone};
    for (int r = 0; r < now.rowCount(); ++r)
        expected.push_back(now.text(r, 0).toLongLong());
    EXPECT_EQ(paged.shownIds(), expected);
}

// Sort keys alike in their first bytes (long shared beginnings, a difference of case alone,
// equal texts) order as the collator compares the texts, equal ones in the statement's
// order, read at once or paged and either way.
TEST(WindowedList, SortsAsTheCollatorComparesTexts)
{
    test::TestDatabase copy;
    SqlCipherConnection db{cardDatabaseRules()};
    db.setConnectionString(copy.connectionString());
    const QStringList names = QString::fromUtf8("欧阳春花秋月 欧阳春花秋 bobbbbbbbbbb Bobbbbbbbbbb 欧阳春花秋月 bobbbbbbbbb "
                                                "欧阳春花秋月夜 张 bobbbbbbbbbb 欧阳春花秋月")
                                  .split(u' ');
    for (const QString& name : names)
        db.execute(QStringLiteral("insert into D_B(BName, theDel) values('%1','否')").arg(name));
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open("zh_CN", &status);
    ASSERT_TRUE(U_SUCCESS(status));
    auto compare = [&](const QString& a, const QString& b) {
        return ucol_strcoll(collator, reinterpret_cast<const UChar*>(a.utf16()), static_cast<int32_t>(a.size()),
                            reinterpret_cast<const UChar*>(b.utf16()), static_cast<int32_t>(b.size()));
    };
    const QString sql = QStringLiteral("select ID, BName from D_B order by ID");
    for (const bool descending : {false, true}) {
        std::vector<int> expected(static_cast<size_t>(names.size()));
        std::iota(expected.begin(), expected.end(), 1);
        std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
            const UCollationResult order = compare(names[a - 1], names[b - 1]);
            return descending ? order == UCOL_GREATER : order == UCOL_LESS;
        });
        for (ResultSet rows : {db.select(sql), db.selectPaged(sql)}) {
            rows.sortBy(1, descending);
            std::vector<int> shown;
            for (int r = 0; r < rows.rowCount(); ++r)
                shown.push_back(static_cast<int>(rows.text(r, 0).toInt()));
            EXPECT_EQ(shown, expected) << descending << rows.isPaged();
        }
    }
    ucol_close(collator);
}

// The workbook connection: its text, its one statement, the format told by content, the
// committed .xls fixtures, and errors that name the file.
#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/query.h"
#include "core/workbook_connection.h"
#include "test_database.h"
#include "workbook_files.h"
#include "formats/workbook/workbook_reader.h"
#include "formats/workbook/workbook_xls.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <tuple>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QString kSelect = QStringLiteral("Select * from [Sheet1$]");

QString fixture(const char* name)
{
    return sourceTree(__FILE__) + QStringLiteral("tests/fixtures/") + QString::fromLatin1(name);
}


} // namespace

TEST(WorkbookConnection, TextOfTheImport)
{
    EXPECT_EQ(workbookConnectionString(QStringLiteral("/home/用户/名片 2024.xls")),
              QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/home/用户/名片 2024.xls;"
                             "Extended Properties=Excel 8.0;Persist Security Info=False"));
    // Paths that would end or open a value read back whole.
    for (const QString& path : {QStringLiteral("/tmp/a;b.xlsx"), QStringLiteral("\"q\".csv"), QStringLiteral(" lead.xls")}) {
        WorkbookConnection connection;
        connection.setConnectionString(workbookConnectionString(path));
        EXPECT_EQ(connection.path(), path);
    }
}

TEST(WorkbookConnection, OnlyTheSheetStatementRuns)
{
    const struct { const char* sql; const char* sheet; } accepted[] = {
        {"Select * from [Sheet1$]", "Sheet1"},
        {"  select  *  FROM  [Sheet1$] ; ", "Sheet1"},
        {"SELECT * FROM [名片 数据$]", "名片 数据"},
    };
    for (const auto& c : accepted)
        EXPECT_EQ(workbookSheetOf(QString::fromUtf8(c.sql)), QString::fromUtf8(c.sheet)) << c.sql;
    for (const char* sql : {"Select * from Sheet1", "Select * from [Sheet1]", "Select 姓名 from [Sheet1$]",
                            "Select * from [Sheet1$] where 1=1", "Delete * from [Sheet1$]", "Select * from [Sheet1$]; drop table x", ""}) {
        const QString error = engineMessage([&] { workbookSheetOf(QString::fromUtf8(sql)); });
        EXPECT_TRUE(error.startsWith(QStringLiteral("EXCEL文件只能用“Select * from [Sheet1$]”这样的语句读取"))) << sql;
    }
    WorkbookConnection connection;
    EXPECT_EQ(engineMessage([&] { connection.execute(QStringLiteral("Delete * from [Sheet1$]")); }),
              QStringLiteral("EXCEL文件只能读取，不能执行：Delete * from [Sheet1$]"));
}

TEST(WorkbookConnection, FormatToldByContentNotName)
{
    QTemporaryDir dir;
    const QString xlsx = dir.filePath(QStringLiteral("真的是xlsx.csv"));
    writeXlsx(xlsx, XlsxRows{{"姓名"}, {"张三"}});
    const QString xls = dir.filePath(QStringLiteral("其实是xls.xlsx"));
    QFile::copy(fixture("few_columns.xls"), xls);
    const QString csv = dir.filePath(QStringLiteral("其实是csv.xls"));
    writeFile(csv, gbkBytes(QStringLiteral("姓名\r\n张三\r\n")));
    for (const QString& path : {xlsx, csv}) {
        WorkbookConnection connection;
        connection.setConnectionString(workbookConnectionString(path));
        EXPECT_EQ(table(connection.select(kSelect)), (QList<QStringList>{{"姓名"}, {"张三"}})) << path.toStdString();
    }
    WorkbookConnection connection;
    connection.setConnectionString(workbookConnectionString(xls));
    EXPECT_EQ(table(connection.select(kSelect)), (QList<QStringList>{{"分类", "姓名", "性别"}, {"", "王五", ""}}));
    EXPECT_EQ(workbookFormat("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"), WorkbookFormat::Xls);
    EXPECT_EQ(workbookFormat("PK\x03\x04"), WorkbookFormat::Xlsx);
    EXPECT_EQ(workbookFormat("PKU,name\n"), WorkbookFormat::Csv);
}

TEST(WorkbookConnection, ThroughAQueryLikeAnyDatabase)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("book.xlsx"));
    writeXlsx(path, XlsxRows{{"姓名", "电话"}, {"张三", 13800138000.0}, {"李四"}});
    WorkbookConnection connection;
    connection.setConnectionString(workbookConnectionString(path));
    EXPECT_FALSE(connection.isOpen());
    Query query(&connection);
    query.run(kSelect);
    EXPECT_TRUE(connection.isOpen());
    EXPECT_EQ(query.recordCount(), 2);
    EXPECT_EQ(query.text(QStringLiteral("电话")), QStringLiteral("13800138000"));
    query.next();
    EXPECT_EQ(query.text(QStringLiteral("电话")), QString());
    // A new text closes the connection; each statement reads the file as it is now.
    writeXlsx(path, XlsxRows{{"姓名"}, {"王五"}});
    connection.setConnectionString(workbookConnectionString(path));
    EXPECT_FALSE(connection.isOpen());
    query.run(kSelect);
    EXPECT_EQ(query.text(QStringLiteral("姓名")), QStringLiteral("王五"));
}

TEST(WorkbookConnection, FailuresNameTheFile)
{
    QTemporaryDir dir;
    const QString damaged = dir.filePath(QStringLiteral("坏 文件.xls"));
    writeFile(damaged, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") + QByteArray(600, '\x07'));
    const QString noSheet = fixture("no_sheet1.xls");
    const QString missing = dir.filePath(QStringLiteral("没有.xlsx"));
    const struct { QString path; QString error; } cases[] = {
        {missing, QStringLiteral("EXCEL文件“%1”：文件不存在").arg(missing)},
        {dir.path(), QStringLiteral("EXCEL文件“%1”：这是一个文件夹，不是文件").arg(dir.path())},
        {noSheet, QStringLiteral("EXCEL文件“%1”：找不到工作表“Sheet1”（文件中的工作表：数据、Sheet2）").arg(noSheet)},
        {damaged, QStringLiteral("EXCEL文件“%1”：无法读取 .xls 工作簿：").arg(damaged)},
    };
    for (const auto& c : cases) {
        WorkbookConnection connection;
        connection.setConnectionString(workbookConnectionString(c.path));
        const QString error = engineMessage([&] { connection.select(kSelect); });
        EXPECT_TRUE(error.startsWith(c.error)) << error.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    WorkbookConnection connection;
    EXPECT_EQ(engineMessage([&] { connection.select(kSelect); }), QStringLiteral("没有指定要打开的EXCEL文件"));
}

TEST(XlsReader, CommittedWorkbookReadsAsText)
{
    const ResultSet rows = readXls(fixture("cards.xls"), QStringLiteral("Sheet1"));
    const QList<QStringList> read = table(rows);
    ASSERT_EQ(read.size(), 4);
    EXPECT_EQ(read[0].size(), 25);
    EXPECT_EQ(read[0].mid(0, 3), (QStringList{"分类", "姓名", "性别"}));
    EXPECT_EQ(read[0].last(), QStringLiteral("备注"));
    EXPECT_EQ(read[1], (QStringList{"客户", "张三", "男", "010-62345678", "13800138000", "zhang@example.com", "123456789",
                                    "", "", "老客户", "北京", "海淀", "北京恒信科技有限公司", "销售部", "经理",
                                    "中关村大街1号", "010-62345600", "", "100080", "www.example.com", "", "", "", "", "3.25"}));
    // A date, a Chinese date, a date with a time (its day), a time of day, empty cells.
    EXPECT_EQ(read[2][9], QStringLiteral("2024-03-05"));
    EXPECT_EQ(read[2][1], QString());
    EXPECT_EQ(read[2][23], QStringLiteral("-0.5"));
    EXPECT_EQ(read[3].mid(9, 3), (QStringList{"1999-12-31", "2020-02-29", "08:30:15"}));
    EXPECT_EQ(read[3][13], QString());
    EXPECT_EQ(read[3][23], QStringLiteral("最后一列"));
    EXPECT_EQ(table(readXls(fixture("cards.xls"), QStringLiteral("说明"))), (QList<QStringList>{{"这一页不导入"}}));
}

TEST(XlsReader, FormulaCellsReadTheirLastResult)
{
    // Saved by LibreOffice; the small one lies in the compound file's mini stream.
    const QList<QStringList> read = table(readXls(fixture("formulas.xls"), QStringLiteral("Sheet1")));
    ASSERT_EQ(read.size(), 6);
    // Text, numbers, yes/no, an error, a date, the empty text, a text past one record.
    EXPECT_EQ(read[1].mid(0, 11), (QStringList{"客户", "张三", "男", "010-62345678", "13800138000", "zhang@example.com",
                                               "123456789", "TRUE", "#DIV/0!", "2024-03-05", ""}));
    EXPECT_EQ(read[1][11], QStringLiteral("长").repeated(5000));
    EXPECT_EQ(read[1][12], QStringLiteral("0.75"));
    EXPECT_EQ(read[2].mid(0, 2), (QStringList{"同事", "张三丰"}));
    // A filled column of shared formulas.
    for (int r = 3; r < 6; ++r)
        EXPECT_EQ(read[r][1] + read[r][13], QStringLiteral("王%1部%1").arg(r + 1));
    EXPECT_EQ(table(readXls(fixture("formulas_small.xls"), QStringLiteral("Sheet1")))[1].mid(0, 2),
              (QStringList{"同事", "李四"}));

    // A text result that is not there is refused by name, never read as an empty cell.
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("公式.xls"));
    QByteArray bytes = readFile(fixture("formulas_small.xls"));
    const QByteArray textRecord("\x07\x02\x07\x00\x02\x00\x01\x4E\x67\xDB\x56", 11); // STRING "李四"
    ASSERT_EQ(bytes.count(textRecord), 1);
    bytes.replace(textRecord, QByteArray("\xCC\x0C", 2) + textRecord.mid(2));
    writeFile(broken, bytes);
    EXPECT_EQ(engineMessage([&] { readXls(broken, QStringLiteral("Sheet1")); }),
              QStringLiteral("无法读取 .xls 工作簿：工作表“Sheet1”的单元格 B2 是公式，无法读取它的计算结果。"
                             "请用 Excel 或 WPS 打开文件，另存为 .xlsx 格式后再导入"));
}

TEST(XlsReader, FreeXLFaultsStayOutOfTheProgram)
{
    // FreeXL crashes on the first file (found by fuzzing); the helper's test switches stand
    // for files on which it would hang, spin or take memory without end. Each is an error
    // here, and this process reads the next workbook as before.
    const QString crashes = sourceTree(__FILE__) + QStringLiteral("fuzz/regressions/xls/freexl_segv.xls");
    const QString ended = QStringLiteral("无法读取 .xls 工作簿：文件已损坏，读取它的过程异常终止");
    const struct { QString path; QStringList switches; int waitSeconds; QString error; } cases[] = {
        {crashes, {}, workbook::kXlsWaitSeconds, ended},
        {fixture("few_columns.xls"), {"--test-crash"}, workbook::kXlsWaitSeconds, ended},
        // Asleep: the program stops waiting. Spinning: the processor limit ends it.
        {fixture("few_columns.xls"), {"--test-hang"}, 1, QStringLiteral("无法读取 .xls 工作簿：读取超时，文件可能已损坏")},
        {fixture("few_columns.xls"), {"--test-spin", "--cpu-seconds", "1"}, workbook::kXlsWaitSeconds, ended},
        // The helper's own address-space limit, the program's, refuses it.
        {fixture("few_columns.xls"), {"--test-allocate"}, workbook::kXlsWaitSeconds, ended},
    };
    const workbook::XlsHelper helper = workbook::xlsHelper();
    for (const auto& c : cases) {
        workbook::setXlsHelper({helper.program, c.switches, c.waitSeconds});
        EXPECT_EQ(engineMessage([&] { readXls(c.path, QStringLiteral("Sheet1")); }), c.error) << c.switches.join(u' ').toStdString();
        workbook::setXlsHelper(helper);
        EXPECT_EQ(readXls(fixture("few_columns.xls"), QStringLiteral("Sheet1")).rowCount(), 1);
    }

    // Unless told otherwise the program looks beside itself; there is none beside the tests.
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/ostrel_xlsread");
    ASSERT_FALSE(QFile::exists(beside));
    workbook::setXlsHelper({});
    EXPECT_EQ(engineMessage([&] { readXls(fixture("few_columns.xls"), QStringLiteral("Sheet1")); }),
              QStringLiteral("无法读取 .xls 工作簿：无法启动读取（找不到读取 .xls 文件的程序“%1”，请重新安装本软件）").arg(beside));
    workbook::setXlsHelper(helper);
}

TEST(XlsReader, HelperOutputIsCheckedBeforeUse)
{
    std::string good;
    workbook::appendXlsCell(good, 0, 0, "姓名", false);
    workbook::appendXlsCell(good, 1, 0, "张三", false);
    workbook::appendXlsCell(good, 1, 2, "13800138000", true);
    // The same cells with a title "F3" over the number, in any order: the helper's row by
    // row goes straight into the result, any other is read again.
    using StreamCell = std::tuple<uint32_t, uint32_t, const char*>;
    auto cells = [](std::initializer_list<StreamCell> list) {
        std::string out;
        for (const auto& [row, column, text] : list)
            workbook::appendXlsCell(out, row, column, text, row == 1 && column == 2);
        return out + "E";
    };
    std::string failed = good;
    workbook::appendXlsError(failed, QStringLiteral("找不到工作表“Sheet1”"));
    auto cell = [](uint32_t row, uint32_t column, char numeric, uint32_t length, std::string_view text) {
        std::string out = "C";
        for (uint32_t v : {row, column})
            out.append(reinterpret_cast<const char*>(&v), 4); // little-endian, as the helper writes
        out += numeric;
        out.append(reinterpret_cast<const char*>(&length), 4);
        return out.append(text);
    };
    const QString ended = QStringLiteral("无法读取 .xls 工作簿：文件已损坏，读取它的过程异常终止");
    const struct { const char* what; std::string stream; QString error; } cases[] = {
        {"whole", good + "E", {}},
        {"in order", cells({{0, 0, "姓名"}, {0, 2, "F3"}, {1, 0, "张三"}, {1, 2, "13800138000"}}), {}},
        {"out of order", cells({{1, 2, "13800138000"}, {0, 2, "F3"}, {1, 0, "张三"}, {0, 0, "姓名"}}), {}},
        {"an error after cells", failed, QStringLiteral("找不到工作表“Sheet1”")},
        {"nothing", "", ended},
        {"no end", good, ended},
        {"cut inside a cell", good.substr(0, good.size() - 3), ended},
        {"cut inside a length", good.substr(0, good.size() - 14), ended},
        {"unknown record", good + "Z" + "E", ended},
        {"row past the sheet", cell(workbook::kMaxRows, 0, 0, 1, "x") + "E", ended},
        {"column past the sheet", cell(0, workbook::kMaxColumns, 0, 1, "x") + "E", ended},
        {"neither text nor number", cell(0, 0, 7, 1, "x") + "E", ended},
        {"an empty cell", cell(0, 0, 0, 0, "") + "E", ended},
        {"a length beyond any cell", cell(0, 0, 0, 0xFFFFFFF0u, "x") + "E", ended},
        {"an empty error", std::string("X\0\0\0\0", 5), ended},
        {"an error longer than any", std::string("X\xFF\xFF\xFF\x7F", 5) + "text", ended},
    };
    const workbook::XlsHelper helper = workbook::xlsHelper();
    for (const auto& c : cases) {
        const QByteArray hex = QByteArray(c.stream.data(), static_cast<qsizetype>(c.stream.size())).toHex();
        workbook::setXlsHelper({helper.program, {"--test-stream", QString::fromLatin1(hex)}, workbook::kXlsWaitSeconds});
        if (c.error.isEmpty())
            EXPECT_EQ(table(readXls(fixture("few_columns.xls"), QStringLiteral("Sheet1"))),
                      (QList<QStringList>{{"姓名", "F2", "F3"}, {"张三", "", "13800138000"}}))
                << c.what;
        else
            EXPECT_EQ(engineMessage([&] { readXls(fixture("few_columns.xls"), QStringLiteral("Sheet1")); }), c.error) << c.what;
    }
    workbook::setXlsHelper(helper);
}

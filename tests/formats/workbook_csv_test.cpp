// CSV files as a one-sheet workbook: encodings, quoting and line ends.
#include "engine/engine_error.h"
#include "workbook_files.h"
#include "formats/workbook/workbook_reader.h"

#include <gtest/gtest.h>

using namespace ostrel;
using ostrel::test::table;

namespace {

const QString kSheet1 = QStringLiteral("Sheet1");

QList<QStringList> csv(const QByteArray& bytes)
{
    return table(readCsv(bytes, kSheet1));
}

} // namespace

TEST(CsvReader, EncodingsReadAsTheSameText)
{
    const QString text = QStringLiteral("姓名,电话,备注\r\n张三,13800138000,“引号”与、\r\n");
    const QList<QStringList> expected = {{"姓名", "电话", "备注"}, {"张三", "13800138000", "“引号”与、"}};
    const struct { const char* name; QByteArray bytes; } cases[] = {
        {"UTF-8", text.toUtf8()},
        {"UTF-8 with BOM", QByteArray("\xEF\xBB\xBF") + text.toUtf8()},
        {"GBK", test::gbkBytes(text)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(csv(c.bytes), expected) << c.name;
}

TEST(CsvReader, QuotingAndLineEnds)
{
    const struct { const char* name; QByteArray bytes; QList<QStringList> expected; } cases[] = {
        {"LF, no final line end", "a,b\n1,2", {{"a", "b"}, {"1", "2"}}},
        {"CR only", "a,b\r1,2\r", {{"a", "b"}, {"1", "2"}}},
        {"quoted comma and doubled quote", "a,b\r\n\"x,y\",\"say \"\"hi\"\"\"\r\n", {{"a", "b"}, {"x,y", "say \"hi\""}}},
        {"line break inside quotes", "a,b\r\n\"one\r\ntwo\",z\r\n", {{"a", "b"}, {"one\r\ntwo", "z"}}},
        {"empty and missing fields padded", "a,b,c\n,2\n\n1,,\n", {{"a", "b", "c"}, {"", "2", ""}, {"", "", ""}, {"1", "", ""}}},
        {"blanks kept", "a\n  x  \n", {{"a"}, {"  x  "}}},
        {"single quote as typed", "a\nO'Brien\n", {{"a"}, {"O'Brien"}}},
        {"text after a closing quote kept", "a\n\"x\"y\n", {{"a"}, {"xy"}}},
        {"unclosed quote runs to the end", "a\n\"x,\ny", {{"a"}, {"x,\ny"}}},
        {"quote inside an unquoted field", "a\nx\"y\n", {{"a"}, {"x\"y"}}},
        {"empty title", "a,,c\n1,2,3\n", {{"a", "F2", "c"}, {"1", "2", "3"}}},
        {"leading empty lines skipped", "\n\r\n,\na\n1\n", {{"a"}, {"1"}}},
        {"title only", "a,b\r\n", {{"a", "b"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(csv(c.bytes), c.expected) << c.name;
    EXPECT_EQ(csv(""), QList<QStringList>{QStringList{}});
}

TEST(CsvReader, OnlySheet1AndTextAreRead)
{
    const struct { const char* name; QByteArray bytes; QString sheet; const char* error; } cases[] = {
        {"another sheet", "a\n1\n", QStringLiteral("Sheet2"), "找不到工作表“Sheet2”（文件中的工作表：Sheet1）"},
        {"NUL byte (a binary file)", QByteArray("a\n\0\x01", 4), kSheet1, "文件不是Excel工作簿，也不是CSV文本"},
        {"neither UTF-8 nor GB18030", "a\n\x81\x20\n", kSheet1, "文件不是Excel工作簿，也不是UTF-8或GBK编码的CSV文本"},
        {"BOM but not UTF-8", "\xEF\xBB\xBF" "a\n\xB0\xA1\n", kSheet1, "CSV文件标明为UTF-8编码，但其中有不是UTF-8的字节"},
    };
    for (const auto& c : cases) {
        try {
            readCsv(c.bytes, c.sheet);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const EngineError& e) {
            EXPECT_EQ(e.message(), QString::fromUtf8(c.error)) << c.name;
        }
    }
    EXPECT_EQ(csv("a\n1\n"), table(readCsv("a\n1\n", QStringLiteral("sheet1")))) << "sheet names ignore case";
}

TEST(CsvReader, FieldsBeyondTheLastColumnFail)
{
    QByteArray line(16384, ',');
    EXPECT_NO_THROW(readCsv("a\n" + line + "\n", kSheet1)) << "empty fields cost nothing";
    EXPECT_THROW(readCsv("a\n" + line + "x\n", kSheet1), EngineError);
}

// .xlsx workbooks: written by libxlsxwriter as Excel writes them, and packages made by hand
// for what libxlsxwriter never writes (rich text, phonetic guides, 1904 dates, damage).
#include "engine/engine_error.h"
#include "test_database.h"
#include "workbook_files.h"
#include "formats/workbook/workbook_reader.h"
#include "formats/workbook/workbook_xml.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QString kSheet1 = QStringLiteral("Sheet1");

class XlsxReader : public ::testing::Test {
protected:
    QList<QStringList> written(const XlsxSheets& sheets, bool constantMemory = false, const QString& sheet = kSheet1)
    {
        const QString path = dir.filePath(QStringLiteral("book.xlsx"));
        writeXlsx(path, sheets, constantMemory);
        return table(readXlsx(readFile(path), sheet));
    }
    static QList<QStringList> sheetData(const QByteArray& rows, const QByteArray& sst = {}, const QByteArray& styles = {},
                                        const QByteArray& workbookPr = {})
    {
        return table(readXlsx(xlsxPackage(rows, sst, styles, workbookPr), kSheet1));
    }
    static QString errorOf(const QByteArray& bytes, const QString& sheet = kSheet1)
    {
        return engineMessage([&] { readXlsx(bytes, sheet); });
    }

    QTemporaryDir dir;
};

// A package whose sheet part is `sheet` as it stands.
QByteArray sheetPackage(const QByteArray& sheet)
{
    return zipBytes({
        {"xl/workbook.xml", "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
                            "<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels", "<Relationships><Relationship Id=\"rId1\" Type=\"worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                                       "</Relationships>"},
        {"xl/worksheets/sheet1.xml", sheet},
    });
}

} // namespace

TEST_F(XlsxReader, CellsReadAsText)
{
    const XlsxRows rows = {
        {"姓名", "移动电话", "数", "日期", "是否", "空", "末列"},
        {"张三", 13800138000.0, 3.25, XlsxCell::builtin(45356, 14), XlsxCell::boolean(true), {}, "x"},
        {"", 100080, -0.5, XlsxCell::formatted(45356.5, "yyyy\"年\"m\"月\"d\"日\""), XlsxCell::boolean(false)},
        {{}, 0.1 + 0.2, XlsxCell::formatted(3.14159, "0.00"), XlsxCell::formatted(43890, "yyyy/m/d h:mm"),
         XlsxCell::formatted(0.5, "hh:mm:ss")},
        {"李 四 ", 1e20, XlsxCell::formatted(1, "\"d\"0"), XlsxCell::builtin(60, 14), XlsxCell::builtin(0.75, 20)},
    };
    const QList<QStringList> expected = {
        {"姓名", "移动电话", "数", "日期", "是否", "空", "末列"},
        {"张三", "13800138000", "3.25", "2024-03-05", "TRUE", "", "x"},
        {"", "100080", "-0.5", "2024-03-05", "FALSE", "", ""},
        {"", "0.3", "3.14159", "2020-02-29", "12:00:00", "", ""}, // libxlsxwriter writes 16 digits
        {"李 四 ", "1e+20", "1", "1900-02-29", "18:00:00", "", ""},
    };
    EXPECT_EQ(written({{kSheet1, rows}}), expected) << "shared strings";
    EXPECT_EQ(written({{kSheet1, rows}}, true), expected) << "inline strings";
}

TEST_F(XlsxReader, TheNamedSheetWhereverItStands)
{
    const XlsxSheets sheets = {
        {QStringLiteral("说明"), {{"不读"}}},
        {QStringLiteral("Sheet1"), {{"a"}, {"1"}}},
        {QStringLiteral("Sheet2"), {{"b"}}},
    };
    EXPECT_EQ(written(sheets), (QList<QStringList>{{"a"}, {"1"}}));
    EXPECT_EQ(written(sheets, false, QStringLiteral("SHEET1")), (QList<QStringList>{{"a"}, {"1"}})) << "names ignore case";
    EXPECT_EQ(written(sheets, false, QStringLiteral("说明")), (QList<QStringList>{{"不读"}}));
}

TEST_F(XlsxReader, AWorkbookWithoutTheSheetNamesItsSheets)
{
    const QString path = dir.filePath(QStringLiteral("book.xlsx"));
    writeXlsx(path, XlsxSheets{{QStringLiteral("数据"), {{"a"}}}, {QStringLiteral("Sheet2"), {{"b"}}}});
    EXPECT_EQ(errorOf(readFile(path)), QStringLiteral("找不到工作表“Sheet1”（文件中的工作表：数据、Sheet2）"));
}

TEST_F(XlsxReader, StringsAsOtherProgramsWriteThem)
{
    // Rich-text runs joined, phonetic guides left out, escaped characters decoded.
    const QByteArray sst = "<si><t>plain</t></si>"
                           "<si><r><rPr><b/></rPr><t>张</t></r><r><t xml:space=\"preserve\"> 三</t></r>"
                           "<rPh sb=\"0\" eb=\"1\"><t>ZHANG</t></rPh><phoneticPr fontId=\"1\"/></si>"
                           "<si><t>a_x000D_b_x005F_x000D_c</t></si>"
                           "<si><t>O'Brien &amp; &lt;Co&gt;</t></si>";
    const QByteArray rows =
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c><c r=\"C1\" t=\"s\"><v>2</v></c>"
        "<c r=\"D1\" t=\"s\"><v>3</v></c></row>"
        "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><r><t>内</t></r><r><t>联</t></r></is></c>"
        "<c r=\"B2\" t=\"str\"><f>A1&amp;\"x\"</f><v>plainx</v></c><c r=\"C2\" t=\"e\"><v>#N/A</v></c>"
        "<c r=\"D2\" t=\"d\"><v>2024-03-05T00:00:00</v></c></row>"
        "<row r=\"3\"><c r=\"A3\"><f>1+1</f></c><c r=\"B3\"><v>abc</v></c><c r=\"D3\" t=\"n\"><v>0.30000000000000004</v></c></row>";
    EXPECT_EQ(sheetData(rows, sst),
              (QList<QStringList>{{"plain", "张 三", "a\rb_x000D_c", "O'Brien & <Co>"},
                                  {"内联", "plainx", "#N/A", "2024-03-05"},
                                  {"", "abc", "", "0.30000000000000004"}}));
}

TEST_F(XlsxReader, CellPositionsAsWrittenOrImplied)
{
    // Cells and rows without references follow the one before; rows out of order and
    // gaps; a cell written twice keeps the last value; empty rows at the end are dropped.
    const QByteArray rows = "<row><c t=\"inlineStr\"><is><t>a</t></is></c><c t=\"inlineStr\"><is><t>b</t></is></c></row>"
                            "<row r=\"4\"><c r=\"B4\"><v>4</v></c></row>"
                            "<row r=\"2\"><c r=\"A2\"><v>1</v></c><c><v>2</v></c><c r=\"A2\"><v>3</v></c></row>"
                            "<row r=\"9\"><c r=\"A9\" s=\"0\"/></row>";
    EXPECT_EQ(sheetData(rows), (QList<QStringList>{{"a", "b"}, {"3", "2"}, {"", ""}, {"", "4"}}));
    // The same in order; and a cell right of the title row, which widens the sheet.
    const QByteArray ordered = "<row><c t=\"inlineStr\"><is><t>a</t></is></c><c t=\"inlineStr\"><is><t>b</t></is></c></row>"
                               "<row r=\"4\"><c r=\"B4\"><v>4</v></c></row><row r=\"9\"><c r=\"A9\" s=\"0\"/></row>";
    EXPECT_EQ(sheetData(ordered), (QList<QStringList>{{"a", "b"}, {"", ""}, {"", ""}, {"", "4"}}));
    EXPECT_EQ(sheetData(ordered + "<row r=\"10\"><c r=\"D10\"><v>5</v></c></row>"),
              (QList<QStringList>{{"a", "b", "F3", "F4"}, {"", "", "", ""}, {"", "", "", ""}, {"", "4", "", ""},
                                  {"", "", "", ""}, {"", "", "", ""}, {"", "", "", ""}, {"", "", "", ""}, {"", "", "", ""},
                                  {"", "", "", "5"}}));
}

TEST_F(XlsxReader, SheetXmlAsProgramsMayWriteIt)
{
    const QByteArray ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
    const auto cell = [](const QByteArray& text) { return "<row><c t=\"inlineStr\"><is><t>" + text + "</t></is></c></row>"; };
    const auto part = [&](const QByteArray& rows) { return "<?xml version=\"1.0\"?><worksheet " + ns + "><sheetData>" + rows + "</sheetData></worksheet>"; };
    const QString utf16 = QString::fromUtf8(part(cell("双字节 &amp; 😀")).replace("?>", " encoding=\"UTF-16\"?>"));
    QByteArray littleEndian("\xFF\xFE", 2);
    QByteArray bigEndian;
    for (const QChar c : utf16) {
        littleEndian += static_cast<char>(c.unicode() & 0xFF);
        littleEndian += static_cast<char>(c.unicode() >> 8);
        bigEndian += static_cast<char>(c.unicode() >> 8);
        bigEndian += static_cast<char>(c.unicode() & 0xFF);
    }
    const struct {
        const char* name;
        QByteArray sheet;
        const char* value;
    } cases[] = {
        {"entities and character references", part(cell("&lt;a&gt; &amp; &quot;&apos; &#20013;&#x6587; &#x1F600;")), "<a> & \"' 中文 😀"},
        {"CDATA, comments and instructions", part(cell("<![CDATA[<b>&amp;</b>]]><!-- 注 --><?pi x?>尾")), "<b>&amp;</b>尾"},
        {"line ends", part(cell("a\r\nb\rc<![CDATA[\r\nd]]>")), "a\nb\nc\nd"},
        {"prefixed elements", "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><x:sheetData>"
                              "<x:row><x:c t=\"inlineStr\"><x:is><x:t>前缀</x:t></x:is></x:c></x:row></x:sheetData></x:worksheet>", "前缀"},
        {"single quotes and blanks", part("<row ><c r = 'A1'\n t='inlineStr' ><is ><t >引号</t ></is></c></row>"), "引号"},
        {"a false dimension", "<worksheet " + ns + "><dimension ref=\"A1:XFD1048576\"/><sheetData>" + cell("小") + "</sheetData></worksheet>", "小"},
        {"UTF-8 with a byte order mark", "\xEF\xBB\xBF" + part(cell("标记")), "标记"},
        {"UTF-16 little endian", littleEndian, "双字节 & 😀"},
        {"UTF-16 big endian without a mark", bigEndian, "双字节 & 😀"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(table(readXlsx(sheetPackage(c.sheet), kSheet1)), QList<QStringList>{{QString::fromUtf8(c.value)}}) << c.name;
}

namespace {

// Hands out at most `piece` bytes a read, as a zip entry may.
class Trickle : public QIODevice {
public:
    Trickle(const QByteArray& bytes, qint64 piece) : m_bytes(bytes), m_piece(piece) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 n = std::min({maxSize, m_piece, m_bytes.size() - m_at});
        std::memcpy(data, m_bytes.constData() + m_at, static_cast<size_t>(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_piece;
    qint64 m_at = 0;
};

// Every token as text, neighbouring characters joined.
QStringList tokens(const QByteArray& xml, qint64 piece)
{
    Trickle device(xml, piece);
    workbook::XmlPull pull(device, QStringLiteral("part"), 1 << 20);
    QStringList out;
    for (workbook::XmlPull::Token t; (t = pull.next()) != workbook::XmlPull::EndDocument;) {
        const QString name = QString::fromUtf8(pull.name());
        if (t == workbook::XmlPull::StartElement)
            out << u'<' + name + u' ' + QString::fromUtf8(pull.attribute("r")) + u'>';
        else if (t == workbook::XmlPull::EndElement)
            out << QStringLiteral("</") + name + u'>';
        else if (!out.isEmpty() && out.last().startsWith(u'"'))
            out.last().insert(out.last().size() - 1, QString::fromUtf8(pull.text()));
        else
            out << u'"' + QString::fromUtf8(pull.text()) + u'"';
    }
    return out;
}

} // namespace

TEST(XmlPull, GivesTheSameTokensHoweverThePartComesInPieces)
{
    const QByteArray xml = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><!-- 注释 --><a:sst xmlns:a=\"u\">\r\n"
                           "<si r=\"x&amp;&#x4E2D;\"><t>前&lt;&#20013;&gt;后 &quot;😀&apos;\r\n尾</t><e/><t><![CDATA[<&>\r\n]]></t>"
                           "<?pi 处理?><t xml:space='preserve'>  两空格 </t></si><si/></a:sst>\n";
    const QStringList whole = tokens(xml, 1 << 20);
    EXPECT_EQ(whole, (QStringList{"<sst >", "\"\n\"", "<si x&中>", "<t >", "\"前<中>后 \"😀'\n尾\"", "</t>", "<e >", "</e>", "<t >",
                                  "\"<&>\n\"", "</t>", "<t >", "\"  两空格 \"", "</t>", "</si>", "<si >", "</si>", "</sst>"}));
    for (const qint64 piece : {1, 2, 3, 5, 7, 64})
        EXPECT_EQ(tokens(xml, piece), whole) << piece << " bytes a piece";
    // UTF-16 too, told by its first bytes however few come at once.
    const QString text = QString::fromUtf8(QByteArray(xml).remove(0, 3).replace("utf-8", "utf-16"));
    const QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    for (const qint64 piece : {1, 3, 64})
        EXPECT_EQ(tokens(utf16, piece), whole) << piece << " bytes a piece of UTF-16";
}

TEST_F(XlsxReader, LargePartsReadInPiecesAsTheyAreExpanded)
{
    // Texts cut anywhere by the pieces: entities, characters of several bytes, line ends.
    QByteArray sst;
    QByteArray rows = "<row r=\"1\"><c t=\"inlineStr\"><is><t>A</t></is></c><c t=\"inlineStr\"><is><t>B</t></is></c>"
                      "<c t=\"inlineStr\"><is><t>C</t></is></c></row>";
    QList<QStringList> expected{{"A", "B", "C"}};
    for (int i = 0; i < 4000; ++i) {
        const QString text = QStringLiteral("行%1 ").arg(i) + QString(i % 7, u'中') + QStringLiteral("&<>\"'\r\n😀")
            + QString(i % 13, u'x');
        QByteArray escaped = text.toUtf8();
        escaped.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;");
        sst += "<si><t>" + escaped + "</t></si>";
        rows += "<row r=\"" + QByteArray::number(i + 2) + "\"><c t=\"inlineStr\"><is><t>" + escaped
            + "</t></is></c><c t=\"s\"><v>" + QByteArray::number(i) + "</v></c><c><v>" + QByteArray::number(i) + "</v></c></row>";
        const QString read = QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        expected.append({read, read, QString::number(i)});
    }
    // One text longer than a piece.
    const QString longText = QString(300000, u'长');
    rows += "<row><c t=\"inlineStr\"><is><t>" + longText.toUtf8() + "</t></is></c></row>";
    expected.append({longText, "", ""});
    ASSERT_GT(rows.size(), 1 << 20);
    EXPECT_EQ(sheetData(rows, sst), expected);
}

TEST_F(XlsxReader, DateStylesAndThe1904System)
{
    const QByteArray styles = "<numFmts count=\"2\"><numFmt numFmtId=\"164\" formatCode=\"yyyy/mm/dd\"/>"
                              "<numFmt numFmtId=\"14\" formatCode=\"0.00\"/></numFmts>"
                              "<cellStyleXfs count=\"1\"><xf numFmtId=\"14\"/></cellStyleXfs>"
                              "<cellXfs count=\"4\"><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"14\"/>"
                              "<xf numFmtId=\"31\"/></cellXfs>";
    const QByteArray rows = "<row r=\"1\"><c r=\"A1\" s=\"0\"><v>1</v></c><c r=\"B1\" s=\"1\"><v>2</v></c>"
                            "<c r=\"C1\" s=\"2\"><v>3</v></c><c r=\"D1\" s=\"3\"><v>4</v></c><c r=\"E1\" s=\"99\"><v>5</v></c></row>"
                            "<row r=\"2\"><c r=\"A2\" s=\"0\"><v>43894</v></c><c r=\"B2\" s=\"1\"><v>43894</v></c>"
                            "<c r=\"C2\" s=\"2\"><v>43894</v></c><c r=\"D2\" s=\"3\"><v>43894</v></c><c r=\"E2\" s=\"99\"><v>43894</v></c></row>";
    // Built-in 14 redefined as a number format reads as a number; 31 is Chinese Excel's
    // built-in yyyy"年"m"月"d"日"; a style past the list is a plain number.
    EXPECT_EQ(sheetData(rows, {}, styles),
              (QList<QStringList>{{"1", "1900-01-02", "3", "1900-01-04", "5"}, {"43894", "2020-03-04", "43894", "2020-03-04", "43894"}}));
    EXPECT_EQ(sheetData(rows, {}, styles, "date1904=\"1\"")[1],
              (QStringList{"43894", "2024-03-05", "43894", "2024-03-05", "43894"}));
}

TEST_F(XlsxReader, DamagedAndHostilePackagesFailClearly)
{
    const QByteArray good = xlsxPackage("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>");
    QByteArray truncated = good.left(good.size() / 2);
    QByteArray bomb(51 << 20, ' ');
    const struct { const char* name; QByteArray bytes; const char* error; } cases[] = {
        {"not a zip", "PK\x03\x04 but nothing more", "工作簿已损坏：不是有效的 .xlsx 文件（zip 目录无法读取）"},
        {"cut short", truncated, "工作簿已损坏：不是有效的 .xlsx 文件（zip 目录无法读取）"},
        {"a zip of something else", zipBytes({{"readme.txt", "hello"}}), "工作簿已损坏：xl/workbook.xml 缺失：这不是Excel工作簿"},
        {"shared string out of range", xlsxPackage("<row><c t=\"s\"><v>5</v></c></row>", "<si><t>a</t></si>"),
         "工作簿已损坏：xl/worksheets/sheet1.xml 共享字符串编号 5 无效"},
        {"row number out of range", xlsxPackage("<row r=\"1048577\"><c><v>1</v></c></row>"),
         "工作簿已损坏：xl/worksheets/sheet1.xml 行号 1048577 无效"},
        {"column past XFD", xlsxPackage("<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>"),
         "工作簿已损坏：xl/worksheets/sheet1.xml 单元格 XFE1 超出工作表的列范围"},
        {"padding into billions of cells", xlsxPackage("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
                                                       "<row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c></row>"),
         "工作表过大：1048576 行 × 16384 列，超过 26000000 个单元格"},
        {"broken XML", xlsxPackage("<row><c><v>1</v></row>"), nullptr},
        {"document type declaration", zipBytes({{"xl/workbook.xml", "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x \"y\">]><workbook/>"}}),
         "工作簿已损坏：xl/workbook.xml 含有文档类型声明"},
        {"shared strings expanding past 50 MB", xlsxPackage("", "<si><t>" + bomb + "</t></si>"),
         "工作簿过大：xl/sharedStrings.xml 解压后超过 50 MB"},
        {"document type declaration in the sheet", sheetPackage("<!DOCTYPE a [<!ENTITY x \"y\">]><worksheet/>"),
         "工作簿已损坏：xl/worksheets/sheet1.xml 含有文档类型声明"},
        {"sheet cut short", sheetPackage("<worksheet><sheetData><row><c><v>1</v></c>"), "工作簿已损坏：xl/worksheets/sheet1.xml XML 不完整"},
        {"unknown entity", xlsxPackage("<row><c t=\"inlineStr\"><is><t>&nbsp;</t></is></c></row>"),
         "工作簿已损坏：xl/worksheets/sheet1.xml 未定义的实体 &nbsp;"},
        {"character reference to NUL", xlsxPackage("<row><c t=\"inlineStr\"><is><t>&#0;</t></is></c></row>"),
         "工作簿已损坏：xl/worksheets/sheet1.xml 字符引用 &#0; 无效"},
        {"bytes that are no UTF-8", xlsxPackage("<row><c t=\"inlineStr\"><is><t>\xE4\xB8</t></is></c></row>"),
         "工作簿已损坏：xl/worksheets/sheet1.xml 含有无效的 UTF-8 编码"},
        {"an encoding other than Unicode", sheetPackage("<?xml version=\"1.0\" encoding=\"GBK\"?><worksheet/>"),
         "工作簿已损坏：xl/worksheets/sheet1.xml 不支持的编码 gbk"},
        {"a second root element", sheetPackage("<worksheet/><worksheet/>"), "工作簿已损坏：xl/worksheets/sheet1.xml 根元素之后还有元素"},
        {"shared strings cut short", xlsxPackage("", "<si><t>a</t>"), "工作簿已损坏：xl/sharedStrings.xml 结束标签 </sst> 与开始标签不符"},
    };
    for (const auto& c : cases) {
        const QString error = errorOf(c.bytes);
        if (c.error)
            EXPECT_EQ(error, QString::fromUtf8(c.error)) << c.name;
        else
            EXPECT_TRUE(error.startsWith(QStringLiteral("工作簿已损坏："))) << c.name << ": " << error.toStdString();
    }
}

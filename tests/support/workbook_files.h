#pragma once
// Workbooks for the reader and import tests: .xlsx written with libxlsxwriter as Excel
// writes them, hand-made packages for what libxlsxwriter never writes, CSV bytes, and
// the committed .xls fixtures.
#include "engine/result_set.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <xlsxwriter.h>

#include <dlfcn.h>
#include <iconv.h>

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <ostream>
#include <stdexcept>
#include <vector>

namespace ostrel::test {

// One cell of a written sheet.
struct XlsxCell {
    enum Kind { Empty, Text, Number, Boolean, Formatted, FormatIndex };
    Kind kind = Empty;
    QString text;
    double number = 0;
    QByteArray format; // a number format code (Formatted)
    int formatIndex = 0; // a built-in number format id (FormatIndex)

    XlsxCell() = default;
    XlsxCell(const char* value) : kind(Text), text(QString::fromUtf8(value)) {}
    XlsxCell(const QString& value) : kind(Text), text(value) {}
    XlsxCell(double value) : kind(Number), number(value) {}
    XlsxCell(int value) : kind(Number), number(value) {}
    static XlsxCell boolean(bool value)
    {
        XlsxCell c;
        c.kind = Boolean;
        c.number = value;
        return c;
    }
    static XlsxCell formatted(double value, const char* code)
    {
        XlsxCell c;
        c.kind = Formatted;
        c.number = value;
        c.format = code;
        return c;
    }
    static XlsxCell builtin(double value, int id)
    {
        XlsxCell c;
        c.kind = FormatIndex;
        c.number = value;
        c.formatIndex = id;
        return c;
    }
};
using XlsxRows = std::vector<std::vector<XlsxCell>>;
using XlsxSheets = std::vector<std::pair<QString, XlsxRows>>;

// libxlsxwriter zips through the system's minizip, whose function names QuaZip (linked
// into the program) exports with other arguments. Loaded with its own dependencies searched
// first, as the program loads it, each keeps its own functions.
struct XlsxWriterApi {
#define OSTREL_FIXTURE_XLSX(X)                                                                                         \
    X(workbook_new_opt) X(workbook_add_worksheet) X(workbook_add_format) X(workbook_close) X(worksheet_write_string)    \
    X(worksheet_write_number) X(worksheet_write_boolean) X(format_set_num_format) X(format_set_num_format_index)
#define OSTREL_FIXTURE_POINTER(name) decltype(&::name) name = nullptr;
    OSTREL_FIXTURE_XLSX(OSTREL_FIXTURE_POINTER)
#undef OSTREL_FIXTURE_POINTER
};

inline const XlsxWriterApi& xlsxWriter()
{
    static const XlsxWriterApi api = [] {
        void* handle = nullptr;
        for (const char* name : {"libxlsxwriter.so.4", "libxlsxwriter.so"})
            if ((handle = dlopen(name, RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND)))
                break;
        if (!handle)
            throw std::runtime_error("cannot load libxlsxwriter");
        XlsxWriterApi loaded;
#define OSTREL_FIXTURE_RESOLVE(name)                                                                                   \
    loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                                           \
    if (!loaded.name)                                                                                                  \
        throw std::runtime_error("libxlsxwriter lacks " #name);
        OSTREL_FIXTURE_XLSX(OSTREL_FIXTURE_RESOLVE)
#undef OSTREL_FIXTURE_RESOLVE
        return loaded;
    }();
    return api;
}

// Writes the sheets in order. constantMemory writes strings inline, as libxlsxwriter's
// streaming mode (and some other programs) do; otherwise they are shared, as Excel does.
inline void writeXlsx(const QString& path, const XlsxSheets& sheets, bool constantMemory = false)
{
    const XlsxWriterApi& x = xlsxWriter();
    lxw_workbook_options options{};
    options.constant_memory = constantMemory ? LXW_TRUE : LXW_FALSE;
    const QByteArray file = QFile::encodeName(path);
    lxw_workbook* book = x.workbook_new_opt(file.constData(), &options);
    if (!book)
        throw std::runtime_error("cannot create the workbook");
    for (const auto& [name, rows] : sheets) {
        lxw_worksheet* sheet = x.workbook_add_worksheet(book, name.toUtf8().constData());
        for (size_t r = 0; r < rows.size(); ++r) {
            for (size_t c = 0; c < rows[r].size(); ++c) {
                const XlsxCell& cell = rows[r][c];
                const auto row = static_cast<lxw_row_t>(r);
                const auto col = static_cast<lxw_col_t>(c);
                switch (cell.kind) {
                case XlsxCell::Empty:
                    break;
                case XlsxCell::Text:
                    x.worksheet_write_string(sheet, row, col, cell.text.toUtf8().constData(), nullptr);
                    break;
                case XlsxCell::Number:
                    x.worksheet_write_number(sheet, row, col, cell.number, nullptr);
                    break;
                case XlsxCell::Boolean:
                    x.worksheet_write_boolean(sheet, row, col, cell.number != 0, nullptr);
                    break;
                case XlsxCell::Formatted: {
                    lxw_format* format = x.workbook_add_format(book);
                    x.format_set_num_format(format, cell.format.constData());
                    x.worksheet_write_number(sheet, row, col, cell.number, format);
                    break;
                }
                case XlsxCell::FormatIndex: {
                    lxw_format* format = x.workbook_add_format(book);
                    x.format_set_num_format_index(format, static_cast<uint8_t>(cell.formatIndex));
                    x.worksheet_write_number(sheet, row, col, cell.number, format);
                    break;
                }
                }
            }
        }
    }
    if (x.workbook_close(book) != LXW_NO_ERROR)
        throw std::runtime_error("cannot write the workbook");
}

inline void writeXlsx(const QString& path, const XlsxRows& sheet1)
{
    writeXlsx(path, XlsxSheets{{QStringLiteral("Sheet1"), sheet1}});
}

// A zip of the given parts, for packages that libxlsxwriter does not write.
inline QByteArray zipBytes(const QList<QPair<QString, QByteArray>>& parts)
{
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        QuaZip zip(&buffer);
        if (!zip.open(QuaZip::mdCreate))
            throw std::runtime_error("cannot create the zip");
        for (const auto& [name, content] : parts) {
            QuaZipFile file(&zip);
            if (!file.open(QIODevice::WriteOnly, QuaZipNewInfo(name)))
                throw std::runtime_error("cannot add to the zip");
            file.write(content);
            file.close();
        }
        zip.close();
    }
    return bytes;
}

// A minimal .xlsx package around a worksheet's XML (the part between <sheetData> tags),
// with optional shared strings (the <si> elements), styles (the whole part) and workbook
// properties (the attributes of <workbookPr>).
inline QByteArray xlsxPackage(const QByteArray& sheetData, const QByteArray& sharedStrings = {},
                              const QByteArray& styles = {}, const QByteArray& workbookPr = {},
                              const QByteArray& sheetName = "Sheet1")
{
    const QByteArray ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
    const QByteArray rns = "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    const QByteArray relType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    QByteArray rels = "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                      "<Relationship Id=\"rId1\" Type=\"" + relType + "worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                      "<Relationship Id=\"rId2\" Type=\"" + relType + "sharedStrings\" Target=\"/xl/sharedStrings.xml\"/>"
                      "<Relationship Id=\"rId3\" Type=\"" + relType + "styles\" Target=\"styles.xml\"/></Relationships>";
    QList<QPair<QString, QByteArray>> parts = {
        {"_rels/.rels", "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                        "<Relationship Id=\"rId1\" Type=\"" + relType + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", "<?xml version=\"1.0\"?><workbook " + ns + " " + rns + "><workbookPr " + workbookPr
                                + "/><sheets><sheet name=\"" + sheetName + "\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels", rels},
        {"xl/worksheets/sheet1.xml", "<?xml version=\"1.0\"?><worksheet " + ns + "><sheetData>" + sheetData + "</sheetData></worksheet>"},
    };
    if (!sharedStrings.isEmpty())
        parts.append({"xl/sharedStrings.xml", "<?xml version=\"1.0\"?><sst " + ns + ">" + sharedStrings + "</sst>"});
    if (!styles.isEmpty())
        parts.append({"xl/styles.xml", "<?xml version=\"1.0\"?><styleSheet " + ns + ">" + styles + "</styleSheet>"});
    return zipBytes(parts);
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write a test file");
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read a test file");
    return file.readAll();
}

// The source tree's folder of a test file: __FILE__ of a test names its source.
inline QString sourceTree(const char* testFile)
{
    QDir dir = QFileInfo(QString::fromUtf8(testFile)).absoluteDir();
    while (!dir.exists(QStringLiteral("tests/fixtures")) && dir.cdUp()) {
    }
    return dir.absolutePath() + u'/';
}

// Text in GBK (code page 936), as a Chinese Excel saves CSV.
inline QByteArray gbkBytes(const QString& text)
{
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("no GBK converter");
    QByteArray in = text.toUtf8();
    QByteArray out(in.size() * 2 + 8, '\0');
    char* source = in.data();
    size_t sourceLeft = static_cast<size_t>(in.size());
    char* target = out.data();
    size_t targetLeft = static_cast<size_t>(out.size());
    const size_t rc = iconv(cd, &source, &sourceLeft, &target, &targetLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        throw std::runtime_error("text not in GBK");
    out.resize(out.size() - static_cast<qsizetype>(targetLeft));
    return out;
}

// A result set as rows of texts, the column names first.
inline QList<QStringList> table(const ResultSet& rows)
{
    QList<QStringList> out{rows.columns()};
    for (int r = 0; r < rows.rowCount(); ++r) {
        QStringList line;
        for (int c = 0; c < rows.columnCount(); ++c)
            line << rows.text(r, c);
        out << line;
    }
    return out;
}

} // namespace ostrel::test

inline void PrintTo(const QList<QStringList>& rows, std::ostream* os)
{
    *os << '\n';
    for (const QStringList& row : rows)
        *os << "  [" << row.join(QStringLiteral(" | ")).toStdString() << "]\n";
}

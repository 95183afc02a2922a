// .xls (Excel 97-2003, BIFF in a compound file) through FreeXL, in the helper program
// ostrel_xlsread (workbook_xls.h says why). FreeXL reads from a path and keeps every cell of
// the workbook in memory; it tells dates by their formats itself.
#include "engine/engine_error.h"
#include "formats/workbook/workbook_sheet.h"
#include "formats/workbook/workbook_xls.h"
#include "formats/workbook/xls_compound_file.h"

#include <freexl.h>

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ostrel::workbook {

void damagedStructure()
{
    xlsError(QStringLiteral("文件结构异常，已拒绝读取"));
}

namespace {

QString freexlError(int code)
{
    switch (code) {
    case FREEXL_FILE_NOT_FOUND:
        return QStringLiteral("文件不存在或无法打开");
    case FREEXL_INSUFFICIENT_MEMORY:
        return QStringLiteral("内存不足，文件可能过大或已损坏");
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_CFBF_INVALID_SECTOR_SIZE:
        return QStringLiteral("不是有效的 Excel 97-2003 (.xls) 文件");
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return QStringLiteral("文件中没有 Excel 工作簿（可能是加密的工作簿或其他 Office 文档）");
    case FREEXL_UNSUPPORTED_CHARSET:
    case FREEXL_INVALID_CHARACTER:
        return QStringLiteral("文件中的文字编码无法识别");
    case FREEXL_CRAFTED_FILE:
        return QStringLiteral("文件结构异常，已拒绝读取");
    default:
        return QStringLiteral("文件已损坏（错误代码 %1）").arg(code);
    }
}

// Closes the handle however the reading ends; FreeXL wants a close even after a failed open.
class XlsHandle {
public:
    XlsHandle() = default;
    XlsHandle(const XlsHandle&) = delete;
    XlsHandle& operator=(const XlsHandle&) = delete;
    ~XlsHandle()
    {
        if (m_handle)
            freexl_close(m_handle);
    }
    const void** out() { return &m_handle; }
    const void* get() const { return m_handle; }

private:
    const void* m_handle = nullptr;
};

void check(int code)
{
    if (code != FREEXL_OK)
        xlsError(freexlError(code));
}

// ---- Formula results ----
//
// FreeXL reads a formula cell as empty. The workbook keeps each formula's last result in
// its FORMULA record (a text result in the STRING record after it), so those are read here
// from the workbook stream itself: compound file, then the sheet's BIFF records.

// One formula cell's last result as the sheet shows it; `readable` is false when the
// workbook does not hold it in a form read here.
struct FormulaResult {
    std::string text;
    bool numeric = false;
    bool readable = true;
};

// A cell's name as Excel shows it: column letters and row number ("B2").
QString cellName(uint32_t row, uint32_t column)
{
    QString letters;
    for (uint32_t c = column + 1; c > 0; c = (c - 1) / 26)
        letters.prepend(QChar(u'A' + static_cast<char16_t>((c - 1) % 26)));
    return letters + QString::number(row + 1);
}

std::string errorText(uint8_t code)
{
    switch (code) {
    case 0x00: return "#NULL!";
    case 0x07: return "#DIV/0!";
    case 0x0F: return "#VALUE!";
    case 0x17: return "#REF!";
    case 0x1D: return "#NAME?";
    case 0x24: return "#NUM!";
    case 0x2A: return "#N/A";
    default: return "#ERROR!";
    }
}

// The BIFF records of a workbook stream, one after another.
class Records {
public:
    explicit Records(std::string_view stream) : m_stream(stream) {}
    // Moves to the record at `at`; false at the end of the stream.
    bool seek(size_t at)
    {
        if (at + 4 > m_stream.size())
            return false;
        m_at = at;
        m_type = m_stream.u16(at);
        m_body = m_stream.sub(at + 4, std::min<size_t>(m_stream.u16(at + 2), m_stream.size() - at - 4));
        return true;
    }
    bool next() { return seek(m_at + 4 + m_body.size()); }
    uint16_t type() const { return m_type; }
    Bytes body() const { return Bytes(m_body); }

private:
    Bytes m_stream;
    size_t m_at = 0;
    uint16_t m_type = 0;
    std::string_view m_body;
};

constexpr uint16_t kBof = 0x0809, kEof = 0x000A, kFormula = 0x0006, kString = 0x0207, kContinue = 0x003C,
                   kSharedFormula = 0x04BC, kArray = 0x0221, kTable = 0x0236, kSheet = 0x0085, kFormat = 0x041E,
                   kXf = 0x00E0, kDateMode = 0x0022;

// The characters of a BIFF8 string from `at` in `body`, `count` of them, continued in the
// CONTINUE records that follow when `records` is given (each starts with its own flags
// byte). Appends UTF-16.
void readBiff8Chars(Records* records, Bytes body, size_t at, uint32_t count, bool wide, std::u16string& out)
{
    while (count > 0) {
        const size_t width = wide ? 2 : 1;
        const size_t here = std::min<size_t>(count, (body.size() - std::min(at, body.size())) / width);
        for (size_t i = 0; i < here; ++i)
            out.push_back(wide ? body.u16(at + 2 * i) : body.u8(at + i));
        count -= static_cast<uint32_t>(here);
        if (count == 0)
            break;
        if (!records || !records->next() || records->type() != kContinue)
            damagedStructure();
        body = records->body();
        wide = (body.u8(0) & 1) != 0;
        at = 1;
    }
}

// The workbook part of the stream: where each sheet starts, and how numbers are formatted.
struct WorkbookPart {
    std::vector<uint32_t> sheets;
    std::vector<uint16_t> xfFormats;
    std::unordered_map<uint16_t, NumberKind> customFormats;
    bool date1904 = false;

    NumberKind kindOf(uint16_t xf) const
    {
        if (xf >= xfFormats.size())
            return NumberKind::Number;
        const uint16_t format = xfFormats[xf];
        const auto custom = customFormats.find(format);
        return custom != customFormats.end() ? custom->second : builtinFormatKind(format);
    }
};

// Reads the records after the workbook's BOF up to its EOF.
WorkbookPart readWorkbookPart(Records& records, bool biff8)
{
    WorkbookPart part;
    while (records.next() && records.type() != kEof) {
        const Bytes body = records.body();
        switch (records.type()) {
        case kSheet:
            part.sheets.push_back(body.u32(0));
            break;
        case kXf:
            part.xfFormats.push_back(body.u16(2));
            break;
        case kDateMode:
            part.date1904 = body.u16(0) == 1;
            break;
        case kFormat:
            if (biff8 && body.size() >= 5) {
                std::u16string code;
                readBiff8Chars(nullptr, body, 5, body.u16(2), (body.u8(4) & 1) != 0, code);
                part.customFormats[body.u16(0)] = formatCodeKind(QStringView(code.data(), static_cast<qsizetype>(code.size())));
            }
            break;
        default:
            break;
        }
    }
    return part;
}

// The result a FORMULA record holds; text results say so in textFollows (the STRING record
// after it has them).
FormulaResult resultOfFormula(const Bytes& body, const WorkbookPart& workbook, bool& textFollows)
{
    FormulaResult result;
    textFollows = false;
    if (body.u16(12) != 0xFFFF) {
        const double value = body.f64(6);
        const NumberKind kind = workbook.kindOf(body.u16(4));
        result.text = formattedNumber(value, kind, workbook.date1904);
        result.numeric = kind == NumberKind::Number && std::isfinite(value);
        return result;
    }
    switch (body.u8(6)) {
    case 0: // text, in the STRING record that follows
        result.readable = false;
        textFollows = true;
        break;
    case 1:
        result.text = body.u8(8) ? "TRUE" : "FALSE";
        break;
    case 2:
        result.text = errorText(body.u8(8));
        break;
    case 3: // the empty text
        break;
    default:
        result.readable = false;
        break;
    }
    return result;
}

// The last results of the formula cells of the sheet at `index` (in the order of the
// workbook's sheets), keyed by row << 16 | column.
std::unordered_map<uint64_t, FormulaResult> formulaResults(std::string_view stream, int index)
{
    std::unordered_map<uint64_t, FormulaResult> results;
    Records records(stream);
    if (!records.seek(0) || records.type() != kBof)
        damagedStructure();
    const bool biff8 = records.body().u16(0) == 0x0600;
    const WorkbookPart workbook = readWorkbookPart(records, biff8);
    if (index < 0 || static_cast<size_t>(index) >= workbook.sheets.size()
        || !records.seek(workbook.sheets[static_cast<size_t>(index)]) || records.type() != kBof)
        damagedStructure();

    // The sheet's records, up to its own end (a chart inside it has a BOF and EOF of its own).
    int depth = 1;
    uint64_t pendingString = 0;
    bool pending = false;
    while (depth > 0 && records.next()) {
        const uint16_t type = records.type();
        if (type == kBof || type == kEof) {
            depth += type == kBof ? 1 : -1;
            continue;
        }
        if (depth != 1)
            continue;
        const Bytes body = records.body();
        if (type == kString && pending) {
            FormulaResult& result = results[pendingString];
            pending = false;
            if (!biff8)
                continue; // text in the workbook's code page: left unreadable
            std::u16string text;
            readBiff8Chars(&records, body, 3, body.u16(0), (body.u8(2) & 1) != 0, text);
            result.text = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toStdString();
            result.readable = true;
            continue;
        }
        // The text of a formula follows its FORMULA record, past a shared or array formula.
        if (pending && type != kSharedFormula && type != kArray && type != kTable)
            pending = false;
        if (type != kFormula)
            continue;
        const uint64_t key = (uint64_t(body.u16(0)) << 16) | body.u16(2);
        results[key] = resultOfFormula(body, workbook, pending);
        if (pending)
            pendingString = key;
    }
    return results;
}

std::unordered_map<uint64_t, FormulaResult> formulaResults(const QString& path, int index)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        xlsError(freexlError(FREEXL_FILE_NOT_FOUND));
    const qint64 size = file.size();
    const uchar* mapped = size > 0 ? file.map(0, size) : nullptr;
    if (!mapped)
        damagedStructure();
    const CompoundFile compound(std::string_view(reinterpret_cast<const char*>(mapped), static_cast<size_t>(size)));
    const std::string stream = compound.stream({u"Workbook", u"Book"});
    if (stream.empty())
        xlsError(freexlError(FREEXL_BIFF_WORKBOOK_NOT_FOUND));
    return formulaResults(stream, index);
}

} // namespace

namespace {

// Makes the sheet named `sheet` the active one; returns its index and its name as the workbook
// writes it.
std::pair<int, QString> selectSheet(const void* handle, const QString& sheet)
{
    unsigned int sheetCount = 0;
    check(freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &sheetCount));
    QStringList names;
    for (unsigned int i = 0; i < sheetCount && i <= 0xFFFF; ++i) {
        const char* name = nullptr;
        if (freexl_get_worksheet_name(handle, static_cast<unsigned short>(i), &name) != FREEXL_OK || !name)
            continue;
        names << QString::fromUtf8(name);
        if (sameSheetName(names.back(), sheet)) {
            check(freexl_select_active_worksheet(handle, static_cast<unsigned short>(i)));
            return {static_cast<int>(i), names.back()};
        }
    }
    throwMissingSheet(sheet, names);
}

// Hands a cell FreeXL read to `cell`; empty cells are left out.
void sendCell(unsigned int row, unsigned short column, const FreeXL_CellValue& value, const XlsCell& cell)
{
    switch (value.type) {
    case FREEXL_CELL_INT:
        cell(row, column, numberText(value.value.int_value), true);
        break;
    case FREEXL_CELL_DOUBLE:
        cell(row, column, numberText(value.value.double_value), true);
        break;
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_TIME:
        if (value.value.text_value)
            cell(row, column, std::string_view(value.value.text_value), false);
        break;
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
        // A date reads as its day, whatever time it carries, as in .xlsx files.
        if (value.value.text_value)
            cell(row, column, std::string_view(value.value.text_value).substr(0, 10), false);
        break;
    default:
        break;
    }
}

} // namespace

void readXlsCells(const QString& path, const QString& sheet, const XlsCell& cell)
{
    const QByteArray nativePath = QFile::encodeName(path);
    XlsHandle handle;
    check(freexl_open(nativePath.constData(), handle.out()));
    // FreeXL answers success without a handle when the workbook is beyond it (about a
    // million distinct strings).
    if (!handle.get())
        xlsError(QStringLiteral("工作簿过大"));

    unsigned int password = 0;
    if (freexl_get_info(handle.get(), FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK && password == FREEXL_BIFF_OBFUSCATED)
        xlsError(QStringLiteral("工作簿有密码保护"));

    const auto [index, sheetName] = selectSheet(handle.get(), sheet);
    unsigned int rows = 0;
    unsigned short columns = 0;
    check(freexl_worksheet_dimensions(handle.get(), &rows, &columns));
    if (rows > kMaxRows || columns > kMaxColumns || static_cast<uint64_t>(rows) * columns > kMaxCells)
        throw EngineError(QStringLiteral("工作表过大：%1 行 × %2 列").arg(rows).arg(columns));

    const auto formulas = formulaResults(path, index);
    for (unsigned int row = 0; row < rows; ++row) {
        for (unsigned short column = 0; column < columns; ++column) {
            FreeXL_CellValue value;
            std::memset(&value, 0, sizeof value);
            if (freexl_get_cell_value(handle.get(), row, column, &value) != FREEXL_OK)
                continue;
            if (value.type == FREEXL_CELL_NULL && !formulas.empty()) {
                const auto formula = formulas.find((uint64_t(row) << 16) | column);
                if (formula != formulas.end()) {
                    // Never an empty cell in place of a result that cannot be read.
                    if (!formula->second.readable)
                        xlsError(QStringLiteral("工作表“%1”的单元格 %2 是公式，无法读取它的计算结果。"
                                                "请用 Excel 或 WPS 打开文件，另存为 .xlsx 格式后再导入")
                                     .arg(sheetName, cellName(row, column)));
                    cell(row, column, std::string_view(formula->second.text), formula->second.numeric);
                    continue;
                }
            }
            sendCell(row, column, value, cell);
        }
    }
}

ResultSet readXlsInProcess(const QString& path, const QString& sheet)
{
    SheetBuilder cells;
    readXlsCells(path, sheet, [&](uint32_t row, uint32_t column, std::string_view text, bool numeric) {
        cells.add(row, column, text, numeric);
    });
    return cells.build();
}

} // namespace ostrel::workbook

// .xls (Excel 97-2003, BIFF in a compound file) through FreeXL, in the helper program
// ostrel_xlsread (workbook_xls.h says why). FreeXL reads from a path and keeps every cell of
// the workbook in memory; it tells dates by their formats itself.
#include "engine/engine_error.h"
#include "formats/workbook/workbook_sheet.h"
#include "formats/workbook/workbook_xls.h"

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

[[noreturn]] void damagedStructure()
{
    xlsError(QStringLiteral("文件结构异常，已拒绝读取"));
}

// Little-endian reads that never leave the bytes.
class Bytes {
public:
    explicit Bytes(std::string_view data) : m_data(data) {}
    size_t size() const { return m_data.size(); }
    uint8_t u8(size_t at) const
    {
        need(at, 1);
        return static_cast<uint8_t>(m_data[at]);
    }
    uint16_t u16(size_t at) const
    {
        need(at, 2);
        return static_cast<uint16_t>(u8(at) | (u8(at + 1) << 8));
    }
    uint32_t u32(size_t at) const { return u16(at) | (static_cast<uint32_t>(u16(at + 2)) << 16); }
    double f64(size_t at) const
    {
        need(at, 8);
        uint64_t bits = 0;
        for (int i = 7; i >= 0; --i)
            bits = (bits << 8) | u8(at + static_cast<size_t>(i));
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    std::string_view sub(size_t at, size_t length) const
    {
        need(at, length);
        return m_data.substr(at, length);
    }

private:
    void need(size_t at, size_t length) const
    {
        if (at > m_data.size() || length > m_data.size() - at)
            damagedStructure();
    }
    std::string_view m_data;
};

// The streams of a compound file (the container of every .xls).
class CompoundFile {
public:
    explicit CompoundFile(std::string_view file) : m_file(file)
    {
        const uint16_t shift = m_file.u16(0x1E);
        if (shift != 9 && shift != 12)
            damagedStructure();
        m_sectorSize = size_t(1) << shift;
        if (m_file.u16(0x20) != 6)
            damagedStructure();
        m_miniCutoff = m_file.u32(0x38);
        const size_t sectors = m_file.size() / m_sectorSize + 1;

        // The sectors of the allocation table: 109 in the header, the rest in a chain.
        const uint32_t fatSectors = m_file.u32(0x2C);
        if (fatSectors > sectors)
            damagedStructure();
        std::vector<uint32_t> fatAt;
        for (uint32_t i = 0; i < std::min<uint32_t>(fatSectors, 109); ++i)
            fatAt.push_back(m_file.u32(0x4C + 4 * i));
        const size_t perSector = m_sectorSize / 4;
        uint32_t difat = m_file.u32(0x44);
        for (size_t hops = 0; fatAt.size() < fatSectors && difat < kMaxSector; ++hops) {
            if (hops > sectors)
                damagedStructure();
            const Bytes block(sector(difat));
            for (size_t i = 0; i + 1 < perSector && fatAt.size() < fatSectors; ++i)
                fatAt.push_back(block.u32(4 * i));
            difat = block.u32(4 * (perSector - 1));
        }
        if (fatAt.size() < fatSectors)
            damagedStructure();
        m_fat.reserve(fatAt.size() * perSector);
        for (uint32_t at : fatAt) {
            const Bytes block(sector(at));
            for (size_t i = 0; i < perSector; ++i)
                m_fat.push_back(block.u32(4 * i));
        }

        m_sectors = sectors;
        m_directory = chain(m_file.u32(0x30), m_fat, [this](uint32_t n) { return sector(n); }, m_sectorSize, m_sectors);
        m_miniFatStart = m_file.u32(0x3C);
    }

    // The stream of the first of the names found (without regard to case) among the
    // top-level entries; the empty text when there is none.
    std::string stream(std::initializer_list<std::u16string_view> names) const
    {
        const Bytes dir(m_directory);
        const size_t entries = dir.size() / 128;
        if (entries == 0 || dir.u8(0x42) != 5)
            damagedStructure();
        // The top-level entries are a tree below the root entry, by left and right sibling.
        std::vector<uint32_t> found(names.size(), kNone);
        std::vector<bool> seen(entries, false);
        std::vector<uint32_t> pending{dir.u32(0x4C)};
        while (!pending.empty()) {
            const uint32_t e = pending.back();
            pending.pop_back();
            if (e >= entries || seen[e])
                continue;
            seen[e] = true;
            const size_t at = size_t(e) * 128;
            pending.push_back(dir.u32(at + 0x44));
            pending.push_back(dir.u32(at + 0x48));
            const uint16_t nameBytes = dir.u16(at + 0x40);
            if (dir.u8(at + 0x42) != 2 || nameBytes < 2 || nameBytes > 64)
                continue;
            QString name;
            for (size_t c = 0; c + 2 < nameBytes; c += 2)
                name += QChar(dir.u16(at + c));
            size_t i = 0;
            for (std::u16string_view wanted : names) {
                if (found[i] == kNone
                    && name.compare(QStringView(wanted.data(), static_cast<qsizetype>(wanted.size())), Qt::CaseInsensitive) == 0)
                    found[i] = e;
                ++i;
            }
        }
        for (uint32_t e : found)
            if (e != kNone)
                return entryStream(dir, e);
        return {};
    }

private:
    static constexpr uint32_t kMaxSector = 0xFFFFFFFA; // above: free, end of chain and marks
    static constexpr uint32_t kNone = 0xFFFFFFFF;

    std::string_view sector(uint32_t n) const
    {
        const size_t at = (size_t(n) + 1) * m_sectorSize;
        if (n >= kMaxSector || at >= m_file.size())
            damagedStructure();
        // The last sector of a file may be cut short.
        return m_file.sub(at, std::min(m_sectorSize, m_file.size() - at));
    }

    // The bytes of a chain of blocks from `start`, following `table`. A chain longer than
    // the blocks there are runs in a circle.
    template <typename Block>
    static std::string chain(uint32_t start, const std::vector<uint32_t>& table, Block block, size_t blockSize,
                             size_t blocks, size_t wanted = SIZE_MAX)
    {
        std::string out;
        for (uint32_t n = start; n != 0xFFFFFFFE && out.size() < wanted;) {
            if (n >= table.size() || out.size() / blockSize >= blocks)
                damagedStructure();
            out.append(block(n));
            n = table[n];
        }
        return out;
    }

    std::string entryStream(const Bytes& dir, uint32_t e) const
    {
        const size_t at = size_t(e) * 128;
        const uint32_t start = dir.u32(at + 0x74);
        const uint64_t size = dir.u32(at + 0x78); // files of 4096-byte sectors keep more bits; a workbook never needs them
        if (size > m_file.size())
            damagedStructure();
        std::string data;
        if (size < m_miniCutoff) {
            // Small streams live in 64-byte blocks of the root entry's stream.
            const auto regular = [this](uint32_t n) { return sector(n); };
            const std::string mini = chain(dir.u32(0x74), m_fat, regular, m_sectorSize, m_sectors);
            const std::string miniFatBytes = chain(m_miniFatStart, m_fat, regular, m_sectorSize, m_sectors);
            const Bytes miniFat(miniFatBytes);
            std::vector<uint32_t> table(miniFat.size() / 4);
            for (size_t i = 0; i < table.size(); ++i)
                table[i] = miniFat.u32(4 * i);
            const Bytes blocks(mini);
            data = chain(start, table, [&](uint32_t n) { return blocks.sub(size_t(n) * 64, 64); }, 64, mini.size() / 64, size);
        } else {
            data = chain(start, m_fat, [this](uint32_t n) { return sector(n); }, m_sectorSize, m_sectors, size);
        }
        if (data.size() < size)
            damagedStructure();
        data.resize(size);
        return data;
    }

    Bytes m_file;
    size_t m_sectorSize = 512;
    size_t m_sectors = 0;
    uint32_t m_miniCutoff = 4096;
    uint32_t m_miniFatStart = 0;
    std::vector<uint32_t> m_fat;
    std::string m_directory;
};

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

// The last results of the formula cells of the sheet at `index` (in the order of the
// workbook's sheets), keyed by row << 16 | column.
std::unordered_map<uint64_t, FormulaResult> formulaResults(std::string_view stream, int index)
{
    std::unordered_map<uint64_t, FormulaResult> results;
    Records records(stream);
    if (!records.seek(0) || records.type() != kBof)
        damagedStructure();
    const bool biff8 = records.body().u16(0) == 0x0600;

    // The workbook part: where each sheet starts, and how numbers are formatted.
    std::vector<uint32_t> sheets;
    std::vector<uint16_t> xfFormats;
    std::unordered_map<uint16_t, NumberKind> customFormats;
    bool date1904 = false;
    while (records.next() && records.type() != kEof) {
        const Bytes body = records.body();
        switch (records.type()) {
        case kSheet:
            sheets.push_back(body.u32(0));
            break;
        case kXf:
            xfFormats.push_back(body.u16(2));
            break;
        case kDateMode:
            date1904 = body.u16(0) == 1;
            break;
        case kFormat:
            if (biff8 && body.size() >= 5) {
                std::u16string code;
                readBiff8Chars(nullptr, body, 5, body.u16(2), (body.u8(4) & 1) != 0, code);
                customFormats[body.u16(0)] = formatCodeKind(QStringView(code.data(), static_cast<qsizetype>(code.size())));
            }
            break;
        default:
            break;
        }
    }
    if (index < 0 || static_cast<size_t>(index) >= sheets.size() || !records.seek(sheets[static_cast<size_t>(index)])
        || records.type() != kBof)
        damagedStructure();

    auto kindOf = [&](uint16_t xf) {
        if (xf >= xfFormats.size())
            return NumberKind::Number;
        const uint16_t format = xfFormats[xf];
        const auto custom = customFormats.find(format);
        return custom != customFormats.end() ? custom->second : builtinFormatKind(format);
    };

    // The sheet's records, up to its own end (a chart inside it has a BOF and EOF of its own).
    int depth = 1;
    uint64_t pendingString = 0;
    bool pending = false;
    while (depth > 0 && records.next()) {
        const uint16_t type = records.type();
        if (type == kBof) {
            ++depth;
            continue;
        }
        if (type == kEof) {
            --depth;
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
        const uint32_t row = body.u16(0);
        const uint32_t column = body.u16(2);
        const uint64_t key = (uint64_t(row) << 16) | column;
        FormulaResult result;
        if (body.u16(12) != 0xFFFF) {
            const double value = body.f64(6);
            const NumberKind kind = kindOf(body.u16(4));
            result.text = formattedNumber(value, kind, date1904);
            result.numeric = kind == NumberKind::Number && std::isfinite(value);
        } else {
            switch (body.u8(6)) {
            case 0: // text, in the STRING record that follows
                result.readable = false;
                pending = true;
                pendingString = key;
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
        }
        results[key] = std::move(result);
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

    unsigned int sheetCount = 0;
    check(freexl_get_info(handle.get(), FREEXL_BIFF_SHEET_COUNT, &sheetCount));
    QStringList names;
    QString sheetName;
    int index = -1;
    for (unsigned int i = 0; i < sheetCount && i <= 0xFFFF; ++i) {
        const char* name = nullptr;
        if (freexl_get_worksheet_name(handle.get(), static_cast<unsigned short>(i), &name) != FREEXL_OK || !name)
            continue;
        names << QString::fromUtf8(name);
        if (index < 0 && sameSheetName(names.back(), sheet)) {
            index = static_cast<int>(i);
            sheetName = names.back();
        }
    }
    if (index < 0)
        throwMissingSheet(sheet, names);

    check(freexl_select_active_worksheet(handle.get(), static_cast<unsigned short>(index)));
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

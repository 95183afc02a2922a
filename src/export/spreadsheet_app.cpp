#include "spreadsheet_app.h"

#include "app/dialogs.h"
#include "db/engine_error.h"
#include "xlsxwriter_library.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ostrel {

namespace {

enum Property : int { HAlign, VAlign, FontName, FontSize, Bold, Border };

// A setting on a rectangle, in the order it was made.
struct FormatOp {
    int top, left, bottom, right;
    Property property;
    int value;
    bool wholeColumns() const { return top == 1 && bottom == xl::MaxRows; }
    bool covers(int row, int column) const
    {
        return row >= top && row <= bottom && column >= left && column <= right;
    }
};

// Consecutive values set on one row: their cells lie in one block from begin to end.
struct Chunk {
    int row;
    uint32_t block;
    size_t begin;
    size_t end;
};

// Cells are recorded in blocks of this size, which fill up without ever being moved:
// one growing buffer would need twice its size for a moment each time it grows.
constexpr size_t kBlockBytes = size_t(4) << 20;

struct Merge {
    int row, left, right;
};

[[noreturn]] void refuse(const QString& what)
{
    throw EngineError(what);
}

[[noreturn]] void cannotCreate()
{
    throw EngineError(QString::fromUtf8(kCannotCreateWorkbook));
}

void putNumber(std::string& out, size_t n)
{
    while (n >= 0x80) {
        out.push_back(static_cast<char>((n & 0x7f) | 0x80));
        n >>= 7;
    }
    out.push_back(static_cast<char>(n));
}

size_t getNumber(const char*& p)
{
    size_t n = 0;
    int shift = 0;
    for (;;) {
        const auto byte = static_cast<unsigned char>(*p++);
        n |= static_cast<size_t>(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return n;
        shift += 7;
    }
}

// The formatting of one cell after every setting that covers it; 0 means "as the
// workbook's default".
struct Style {
    int8_t horizontal = 0; // lxw_format_alignments
    int8_t vertical = 0;
    int8_t border = 0; // lxw_format_borders
    bool bold = false;
    int16_t font = -1; // index into the recorded font names
    int16_t size = 0;

    void apply(const FormatOp& op)
    {
        switch (op.property) {
        case HAlign:
            horizontal = static_cast<int8_t>(op.value);
            break;
        case VAlign:
            vertical = static_cast<int8_t>(op.value);
            break;
        case FontName:
            font = static_cast<int16_t>(op.value);
            break;
        case FontSize:
            size = static_cast<int16_t>(op.value);
            break;
        case Bold:
            bold = op.value != 0;
            break;
        case Border:
            border = static_cast<int8_t>(op.value);
            break;
        }
    }
    uint64_t key() const
    {
        return static_cast<uint64_t>(static_cast<uint8_t>(horizontal)) | static_cast<uint64_t>(static_cast<uint8_t>(vertical)) << 8
            | static_cast<uint64_t>(static_cast<uint8_t>(border)) << 16 | static_cast<uint64_t>(bold) << 24
            | static_cast<uint64_t>(static_cast<uint16_t>(font)) << 32 | static_cast<uint64_t>(static_cast<uint16_t>(size)) << 48;
    }
    bool plain() const { return key() == Style().key(); }
};

int columnNumber(QStringView letters)
{
    int n = 0;
    for (QChar ch : letters) {
        const char16_t c = ch.toUpper().unicode();
        if (c < u'A' || c > u'Z')
            return 0;
        n = n * 26 + (c - u'A' + 1);
        if (n > xl::MaxColumns)
            return 0;
    }
    return n;
}

// "D7" into row 7, column 4; false when it is no cell address.
bool parseCell(QStringView text, int& row, int& column)
{
    qsizetype split = 0;
    while (split < text.size() && text[split].isLetter())
        ++split;
    if (split == 0 || split > 3 || split == text.size())
        return false;
    column = columnNumber(text.left(split));
    bool ok = false;
    const QStringView digits = text.mid(split);
    for (QChar ch : digits)
        if (ch < u'0' || ch > u'9')
            return false;
    row = digits.toInt(&ok);
    return ok && column >= 1 && row >= 1 && row <= xl::MaxRows;
}

QString sheetFileName(const QString& caption)
{
    QString name;
    for (QChar ch : caption)
        name += (ch.unicode() < 0x20 || QStringLiteral("\\/:*?\"<>|").contains(ch)) ? QChar(u'_') : ch;
    name = name.trimmed().left(80);
    while (name.endsWith(u'.'))
        name.chop(1);
    return name.isEmpty() ? QStringLiteral("报表") : name;
}

// A free name in the folder, taken at once by an empty file so that nothing, not even a
// second export in the same second, can overwrite what is there.
QString reserveFile(const QString& folder, const QString& caption)
{
    const QString stem = QDir(folder).filePath(sheetFileName(caption) + u'_'
                                               + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    for (int n = 1; n < 10000; ++n) {
        const QString path = stem + (n == 1 ? QString() : QStringLiteral("_%1").arg(n)) + QStringLiteral(".xlsx");
        if (QFileInfo::exists(path))
            continue;
        QFile file(path);
        // A report holds every exported card: readable by the user alone.
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)
            && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return path;
        if (!QFileInfo::exists(path))
            break;
    }
    cannotCreate();
}

bool folderTakesFiles(const QString& folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

QString& reportFolderOverride()
{
    static QString folder;
    return folder;
}

} // namespace

struct SpreadsheetApp::Book {
    std::vector<std::string> blocks; // per cell: column, byte length, UTF-8 text, NUL
    std::vector<Chunk> chunks;
    std::vector<FormatOp> formats;
    std::vector<Merge> merges;
    std::map<int, int> widths;
    std::vector<QByteArray> fontNames;
    std::optional<int> orientation;
    QString footer;

    void setValue(int row, int column, const QByteArray& utf8)
    {
        const size_t need = 2 * sizeof(size_t) + 2 + static_cast<size_t>(utf8.size()) + 1;
        if (blocks.empty() || blocks.back().capacity() - blocks.back().size() < need) {
            blocks.emplace_back();
            blocks.back().reserve(std::max(kBlockBytes, need));
        }
        std::string& cells = blocks.back();
        const auto block = static_cast<uint32_t>(blocks.size() - 1);
        if (chunks.empty() || chunks.back().row != row || chunks.back().block != block)
            chunks.push_back({row, block, cells.size(), cells.size()});
        putNumber(cells, static_cast<size_t>(column));
        putNumber(cells, static_cast<size_t>(utf8.size()));
        cells.append(utf8.constData(), static_cast<size_t>(utf8.size()));
        cells.push_back('\0');
        chunks.back().end = cells.size();
    }

    void merge(int row, int left, int right)
    {
        // Merging over an area that is merged already takes it in, as the spreadsheet does;
        // overlapping merged areas would make the file unreadable.
        for (auto it = merges.begin(); it != merges.end();) {
            if (it->row == row && it->left <= right && left <= it->right) {
                left = std::min(left, it->left);
                right = std::max(right, it->right);
                it = merges.erase(it);
            } else {
                ++it;
            }
        }
        merges.push_back({row, left, right});
    }

    int fontIndex(const QString& name)
    {
        const QByteArray utf8 = name.toUtf8();
        const auto found = std::find(fontNames.begin(), fontNames.end(), utf8);
        if (found != fontNames.end())
            return static_cast<int>(found - fontNames.begin());
        fontNames.push_back(utf8);
        return static_cast<int>(fontNames.size()) - 1;
    }
};

namespace {

// One release of a book into a file. Everything of libxlsxwriter stays in here; the file
// is removed again unless the workbook was written whole.
class Writer {
public:
    Writer(const XlsxWriterLibrary& library, const SpreadsheetApp::Book& book, const QString& caption, const QString& path,
           const QString& tmpFolder)
        : m_lib(library), m_book(book), m_path(path), m_tmp(QFile::encodeName(tmpFolder)), m_title(caption.toUtf8())
    {
    }
    ~Writer()
    {
        if (m_workbook)
            m_lib.lxw_workbook_free(m_workbook);
        if (!m_done)
            QFile::remove(m_path);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // False when the progress callback stopped it.
    bool write(const SpreadsheetApp::Progress& progress)
    {
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = m_tmp.data();
        options.use_zip64 = LXW_FALSE;
        m_workbook = m_lib.workbook_new_opt(QFile::encodeName(m_path).constData(), &options);
        if (!m_workbook)
            cannotCreate();
        lxw_doc_properties properties{};
        properties.title = m_title.data();
        check(m_lib.workbook_set_properties(m_workbook, &properties));
        m_sheet = m_lib.workbook_add_worksheet(m_workbook, nullptr);
        if (!m_sheet)
            cannotCreate();
        writeColumns();
        if (!writeRows(progress))
            return false;
        if (m_book.orientation)
            (*m_book.orientation == xl::Landscape ? m_lib.worksheet_set_landscape : m_lib.worksheet_set_portrait)(m_sheet);
        if (!m_book.footer.isNull())
            check(m_lib.worksheet_set_footer(m_sheet, (QStringLiteral("&C") + m_book.footer).toUtf8().constData()));
        lxw_workbook* workbook = m_workbook;
        m_workbook = nullptr; // closing frees it, whatever the outcome
        check(m_lib.workbook_close(workbook));
        m_done = true;
        return true;
    }

private:
    static void check(lxw_error error)
    {
        if (error != LXW_NO_ERROR)
            cannotCreate();
    }

    lxw_format* format(const Style& style)
    {
        if (style.plain())
            return nullptr;
        const uint64_t key = style.key();
        if (key == m_lastKey)
            return m_lastFormat;
        lxw_format*& f = m_formats[key];
        if (!f) {
            f = m_lib.workbook_add_format(m_workbook);
            if (!f)
                cannotCreate();
            if (style.horizontal)
                m_lib.format_set_align(f, static_cast<uint8_t>(style.horizontal));
            if (style.vertical)
                m_lib.format_set_align(f, static_cast<uint8_t>(style.vertical));
            if (style.border)
                m_lib.format_set_border(f, static_cast<uint8_t>(style.border));
            if (style.bold)
                m_lib.format_set_bold(f);
            if (style.font >= 0)
                m_lib.format_set_font_name(f, m_book.fontNames[static_cast<size_t>(style.font)].constData());
            if (style.size > 0)
                m_lib.format_set_font_size(f, style.size);
        }
        m_lastKey = key;
        m_lastFormat = f;
        return f;
    }

    // Widths, and what whole-column settings give the cells nobody wrote.
    void writeColumns()
    {
        std::map<int, Style> styles;
        for (const FormatOp& op : m_book.formats)
            if (op.wholeColumns())
                for (int c = op.left; c <= op.right; ++c)
                    styles[c].apply(op);
        std::map<int, int> columns = m_book.widths;
        for (const auto& [column, style] : styles)
            columns.try_emplace(column, -1);
        for (const auto& [column, width] : columns) {
            const auto style = styles.find(column);
            check(m_lib.worksheet_set_column(m_sheet, static_cast<lxw_col_t>(column - 1), static_cast<lxw_col_t>(column - 1),
                                             width < 0 ? LXW_DEF_COL_WIDTH : width,
                                             style == styles.end() ? nullptr : format(style->second)));
        }
    }

    bool writeRows(const SpreadsheetApp::Progress& progress)
    {
        // Rows must reach the file in order; values set out of order are put in place here.
        std::vector<Chunk> chunks = m_book.chunks;
        if (!std::is_sorted(chunks.begin(), chunks.end(), [](const Chunk& a, const Chunk& b) { return a.row < b.row; }))
            std::stable_sort(chunks.begin(), chunks.end(), [](const Chunk& a, const Chunk& b) { return a.row < b.row; });
        std::vector<Merge> merges = m_book.merges;
        std::stable_sort(merges.begin(), merges.end(), [](const Merge& a, const Merge& b) { return a.row < b.row; });

        int lastRow = chunks.empty() ? 0 : chunks.back().row;
        for (const FormatOp& op : m_book.formats)
            if (!op.wholeColumns())
                lastRow = std::max(lastRow, op.bottom);
        if (!merges.empty())
            lastRow = std::max(lastRow, merges.back().row);

        std::vector<const char*> values; // by column, for the row at hand
        std::vector<const FormatOp*> covering;
        size_t chunk = 0;
        size_t merge = 0;
        for (int row = 1; row <= lastRow; ++row) {
            int right = 0;
            std::fill(values.begin(), values.end(), nullptr);
            for (; chunk < chunks.size() && chunks[chunk].row == row; ++chunk) {
                const char* cells = m_book.blocks[chunks[chunk].block].data();
                const char* p = cells + chunks[chunk].begin;
                const char* end = cells + chunks[chunk].end;
                while (p < end) {
                    const auto column = static_cast<int>(getNumber(p));
                    const size_t length = getNumber(p);
                    if (values.size() <= static_cast<size_t>(column))
                        values.resize(static_cast<size_t>(column) + 1, nullptr);
                    values[static_cast<size_t>(column)] = p;
                    right = std::max(right, column);
                    p += length + 1;
                }
            }
            covering.clear();
            for (const FormatOp& op : m_book.formats) {
                if (row < op.top || row > op.bottom)
                    continue;
                covering.push_back(&op);
                if (!op.wholeColumns())
                    right = std::max(right, op.right);
            }
            const size_t firstMerge = merge;
            for (; merge < merges.size() && merges[merge].row == row; ++merge)
                right = std::max(right, merges[merge].right);

            for (int column = 1; column <= right; ++column) {
                Style style;
                for (const FormatOp* op : covering)
                    if (column >= op->left && column <= op->right)
                        style.apply(*op);
                lxw_format* f = format(style);
                const char* value = static_cast<size_t>(column) < values.size() ? values[static_cast<size_t>(column)] : nullptr;
                const auto r = static_cast<lxw_row_t>(row - 1);
                const auto c = static_cast<lxw_col_t>(column - 1);
                const Merge* in = nullptr;
                for (size_t m = firstMerge; m < merge; ++m)
                    if (column >= merges[m].left && column <= merges[m].right)
                        in = &merges[m];
                if (in && column == in->left) {
                    check(m_lib.worksheet_merge_range(m_sheet, r, c, r, static_cast<lxw_col_t>(in->right - 1),
                                                      value ? value : "", f));
                } else if (in) {
                    // A merged cell shows its first cell's value only.
                    if (f)
                        check(m_lib.worksheet_write_blank(m_sheet, r, c, f));
                } else if (value && *value) {
                    check(m_lib.worksheet_write_string(m_sheet, r, c, value, f));
                } else if (f) {
                    check(m_lib.worksheet_write_blank(m_sheet, r, c, f));
                }
            }
            if (progress && !progress(row, lastRow))
                return false;
        }
        return true;
    }

    const XlsxWriterLibrary& m_lib;
    const SpreadsheetApp::Book& m_book;
    QString m_path;
    QByteArray m_tmp;
    QByteArray m_title;
    lxw_workbook* m_workbook = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    std::unordered_map<uint64_t, lxw_format*> m_formats;
    uint64_t m_lastKey = ~uint64_t(0);
    lxw_format* m_lastFormat = nullptr;
    bool m_done = false;
};

} // namespace

// ---- the application ----

QString reportFolder()
{
    if (!reportFolderOverride().isEmpty())
        return reportFolderOverride();
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QDir::homePath();
    const QString folder = QDir(documents).filePath(QString::fromUtf8(kReportFolderName));
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return folder;
}

void setReportFolder(const QString& folder)
{
    reportFolderOverride() = folder;
}

SpreadsheetApp::SpreadsheetApp()
{
    if (!xlsxWriterLibrary() || !folderTakesFiles(reportFolder()))
        cannotCreate();
}

SpreadsheetApp::~SpreadsheetApp() = default;

void SpreadsheetApp::setVisible(bool visible)
{
    m_visible = visible;
}

void SpreadsheetApp::addWorkbook()
{
    // One workbook per application is all a report needs; a second Add starts afresh.
    m_book = std::make_unique<Book>();
    m_released = false;
}

void SpreadsheetApp::setCaption(const QString& caption)
{
    m_caption = caption;
}

SpreadsheetApp::Book& SpreadsheetApp::book()
{
    if (!m_book)
        refuse(QStringLiteral("没有打开的工作簿"));
    return *m_book;
}

Worksheet SpreadsheetApp::worksheets(int index)
{
    book();
    if (index != 1)
        refuse(QStringLiteral("工作簿中没有第 %1 个工作表").arg(index));
    return Worksheet(this);
}

PageSetup SpreadsheetApp::activeSheetPageSetup()
{
    book();
    return PageSetup(this);
}

SpreadsheetApp::Released SpreadsheetApp::release(const Progress& progress)
{
    Released released;
    if (!m_book || m_released)
        return released;
    m_released = true;
    const QString folder = reportFolder();
    if (!folderTakesFiles(folder))
        cannotCreate();
    const QString path = reserveFile(folder, m_caption);
    {
        Writer writer(*xlsxWriterLibrary(), *m_book, m_caption, path, folder);
        if (!writer.write(progress)) {
            released.stopped = true;
            return released;
        }
    }
    m_book.reset(); // the recorded cells are not needed any more
    released.path = path;
    if (m_visible)
        released.opened = openFile(path);
    return released;
}

// ---- sheet members ----

SheetRange Worksheet::cells(int row, int column) const
{
    if (row < 1 || row > xl::MaxRows || column < 1 || column > xl::MaxColumns)
        refuse(QStringLiteral("单元格 (%1, %2) 超出工作表范围").arg(row).arg(column));
    return SheetRange(m_app, row, column, row, column);
}

SheetRange Worksheet::range(const QString& address) const
{
    const QStringView text(address);
    const qsizetype colon = text.indexOf(u':');
    int top = 0, left = 0, bottom = 0, right = 0;
    const bool ok = colon < 0 ? parseCell(text.trimmed(), top, left)
                              : parseCell(text.left(colon).trimmed(), top, left)
            && parseCell(text.mid(colon + 1).trimmed(), bottom, right);
    if (!ok)
        refuse(QStringLiteral("无效的单元格区域：%1").arg(address));
    if (colon < 0) {
        bottom = top;
        right = left;
    }
    return SheetRange(m_app, std::min(top, bottom), std::min(left, right), std::max(top, bottom), std::max(left, right));
}

SheetRange Worksheet::columns(int index) const
{
    if (index < 1 || index > xl::MaxColumns)
        refuse(QStringLiteral("第 %1 列超出工作表范围").arg(index));
    return SheetRange(m_app, 1, index, xl::MaxRows, index);
}

void SheetRange::setValue(const QString& text) const
{
    // The spreadsheet's limit for the text of one cell.
    if (text.size() > 32767)
        refuse(QStringLiteral("单元格文字超过 32767 个字符"));
    // Values are recorded cell by cell: a whole column (or more) is refused, not a
    // million cells written.
    if (static_cast<qint64>(m_bottom - m_top + 1) * (m_right - m_left + 1) >= xl::MaxRows)
        refuse(QStringLiteral("区域太大，无法逐格写入"));
    SpreadsheetApp::Book& book = m_app->book();
    const QByteArray utf8 = text.toUtf8();
    for (int row = m_top; row <= m_bottom; ++row)
        for (int column = m_left; column <= m_right; ++column)
            book.setValue(row, column, utf8);
}

void SheetRange::merge() const
{
    SpreadsheetApp::Book& book = m_app->book();
    if (m_bottom - m_top >= xl::MaxRows / 2)
        refuse(QStringLiteral("区域太大，无法合并"));
    if (m_left == m_right)
        return;
    for (int row = m_top; row <= m_bottom; ++row)
        book.merge(row, m_left, m_right);
}

void SheetRange::format(int property, int value) const
{
    m_app->book().formats.push_back({m_top, m_left, m_bottom, m_right, static_cast<Property>(property), value});
}

void SheetRange::setHorizontalAlignment(int code) const
{
    switch (code) {
    case xl::Center:
        return format(HAlign, LXW_ALIGN_CENTER);
    case xl::Left:
        return format(HAlign, LXW_ALIGN_LEFT);
    case xl::Right:
        return format(HAlign, LXW_ALIGN_RIGHT);
    default:
        refuse(QStringLiteral("无效的水平对齐方式：%1").arg(code));
    }
}

void SheetRange::setVerticalAlignment(int code) const
{
    switch (code) {
    case xl::Center:
        return format(VAlign, LXW_ALIGN_VERTICAL_CENTER);
    case xl::Top:
        return format(VAlign, LXW_ALIGN_VERTICAL_TOP);
    case xl::Bottom:
        return format(VAlign, LXW_ALIGN_VERTICAL_BOTTOM);
    default:
        refuse(QStringLiteral("无效的垂直对齐方式：%1").arg(code));
    }
}

void SheetRange::setFontName(const QString& name) const
{
    if (name.trimmed().isEmpty() || name.size() > 31)
        refuse(QStringLiteral("无效的字体名称：%1").arg(name));
    format(FontName, m_app->book().fontIndex(name));
}

void SheetRange::setFontSize(int points) const
{
    if (points < 1 || points > 409)
        refuse(QStringLiteral("无效的字号：%1").arg(points));
    format(FontSize, points);
}

void SheetRange::setFontBold(bool bold) const
{
    format(Bold, bold ? 1 : 0);
}

void SheetRange::setColumnWidth(int width) const
{
    if (width < 0 || width > 255)
        refuse(QStringLiteral("无效的列宽：%1（应在 0 到 255 之间）").arg(width));
    SpreadsheetApp::Book& book = m_app->book();
    for (int column = m_left; column <= m_right; ++column)
        book.widths[column] = width;
}

void SheetRange::setBordersLineStyle(int style) const
{
    if (style == xl::Continuous)
        return format(Border, LXW_BORDER_THIN);
    if (style == xl::LineStyleNone)
        return format(Border, LXW_BORDER_NONE);
    refuse(QStringLiteral("无效的边框线型：%1").arg(style));
}

void PageSetup::setOrientation(int code)
{
    if (code != xl::Portrait && code != xl::Landscape)
        refuse(QStringLiteral("无效的页面方向：%1").arg(code));
    m_app->book().orientation = code;
}

void PageSetup::setCenterFooter(const QString& text)
{
    // The spreadsheet keeps at most 255 characters of a header or footer, codes included.
    if (text.size() + 2 > 255)
        refuse(QStringLiteral("页脚文字太长"));
    m_app->book().footer = text;
}

} // namespace ostrel

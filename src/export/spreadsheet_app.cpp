#include "spreadsheet_app.h"

#include "app/dialogs.h"
#include "engine/engine_error.h"
#include "xlsxwriter_library.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
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

// Rows not yet written are kept at most this many; then all but the last go to the file.
// Settings made before the rows are written apply to them; the report routine makes its
// settings first, so it keeps only the row at hand.
constexpr size_t kPendingRows = 256;

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

namespace {

// Writes rows into one new workbook as they come. Everything of libxlsxwriter stays in
// here. The workbook is made under a hidden name in the report folder and given its own
// name only once it is whole; otherwise nothing is left behind.
class Writer {
public:
    Writer(const XlsxWriterLibrary& library, const QString& folder)
        : m_lib(library), m_folder(folder), m_tmp(QFile::encodeName(folder))
    {
        // Made here readable by the user alone; the library writes into it when closing.
        m_partial.setFileTemplate(QDir(folder).filePath(QStringLiteral(".ostrel-report-XXXXXX.xlsx")));
        if (!m_partial.open())
            cannotCreate();
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = m_tmp.data();
        options.use_zip64 = LXW_FALSE;
        m_workbook = m_lib.workbook_new_opt(QFile::encodeName(m_partial.fileName()).constData(), &options);
        if (!m_workbook)
            cannotCreate();
        m_sheet = m_lib.workbook_add_worksheet(m_workbook, nullptr);
        if (!m_sheet)
            cannotCreate();
    }
    ~Writer()
    {
        if (m_workbook)
            m_lib.lxw_workbook_free(m_workbook);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // One row: its values by column (null where none was set), the settings that cover it
    // (indexes into `formats`, in the order they were made) and its merged areas.
    void writeRow(int row, const std::vector<const char*>& values, const std::vector<FormatOp>& formats,
                  const std::vector<size_t>& covering, const std::vector<Merge>& merges,
                  const std::vector<QByteArray>& fontNames)
    {
        int right = static_cast<int>(values.size()) - 1;
        for (const size_t op : covering)
            if (!formats[op].wholeColumns())
                right = std::max(right, formats[op].right);
        for (const Merge& m : merges)
            right = std::max(right, m.right);
        // The rows of a table share their settings: their formats are worked out once.
        if (covering != m_covering || right > static_cast<int>(m_rowFormats.size())) {
            m_covering = covering;
            m_rowFormats.assign(static_cast<size_t>(std::max(right, 0)), nullptr);
            for (int column = 1; column <= right; ++column) {
                Style style;
                for (const size_t op : covering)
                    if (formats[op].covers(row, column))
                        style.apply(formats[op]);
                m_rowFormats[static_cast<size_t>(column - 1)] = format(style, fontNames);
            }
        }
        const auto r = static_cast<lxw_row_t>(row - 1);
        for (int column = 1; column <= right; ++column) {
            lxw_format* f = m_rowFormats[static_cast<size_t>(column - 1)];
            const char* value = column < static_cast<int>(values.size()) ? values[static_cast<size_t>(column)] : nullptr;
            const auto c = static_cast<lxw_col_t>(column - 1);
            const Merge* in = nullptr;
            for (const Merge& m : merges)
                if (column >= m.left && column <= m.right)
                    in = &m;
            if (in && column == in->left) {
                check(m_lib.worksheet_merge_range(m_sheet, r, c, r, static_cast<lxw_col_t>(in->right - 1), value ? value : "", f));
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
    }

    const QString& folder() const { return m_folder; }
    // Widths and page settings, then the file: the partial workbook takes the reserved name.
    void finish(const SpreadsheetApp::Book& book, const QString& caption, const QString& path);

private:
    static void check(lxw_error error)
    {
        if (error != LXW_NO_ERROR)
            cannotCreate();
    }

    lxw_format* format(const Style& style, const std::vector<QByteArray>& fontNames)
    {
        if (style.plain())
            return nullptr;
        lxw_format*& f = m_formats[style.key()];
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
                m_lib.format_set_font_name(f, fontNames[static_cast<size_t>(style.font)].constData());
            if (style.size > 0)
                m_lib.format_set_font_size(f, style.size);
        }
        return f;
    }

    const XlsxWriterLibrary& m_lib;
    QString m_folder;
    QByteArray m_tmp;
    QTemporaryFile m_partial;
    lxw_workbook* m_workbook = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    std::unordered_map<uint64_t, lxw_format*> m_formats;
    std::vector<size_t> m_covering;
    std::vector<lxw_format*> m_rowFormats; // by column from 1, for rows with m_covering
};

} // namespace

struct SpreadsheetApp::Book {
    // Settings, kept whole: they are few.
    std::vector<FormatOp> formats;
    std::vector<Merge> merges; // of rows not written yet
    std::map<int, int> widths;
    std::vector<QByteArray> fontNames;
    std::optional<int> orientation;
    QString footer;
    // Values of the rows not written yet, by row: per cell its column, byte length, UTF-8
    // text and a NUL.
    std::map<int, std::string> pending;
    int written = 0; // rows 1 to this are in the file
    std::unique_ptr<Writer> writer;

    // The rows that are written cannot change any more: the file holds them.
    void requireUnwritten(int top) const
    {
        if (top <= written)
            refuse(QStringLiteral("第 %1 行已写入报表文件，不能再更改").arg(top));
    }

    void setValue(int row, int column, std::string_view utf8)
    {
        requireUnwritten(row);
        std::string& cells = pending[row];
        putNumber(cells, static_cast<size_t>(column));
        putNumber(cells, utf8.size());
        cells.append(utf8);
        cells.push_back('\0');
        if (pending.size() > kPendingRows)
            write(std::prev(pending.end())->first - 1, {});
    }

    void merge(int row, int left, int right)
    {
        requireUnwritten(row);
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

    // The last row anything was set on.
    int lastRow() const
    {
        int last = std::max(written, pending.empty() ? 0 : pending.rbegin()->first);
        for (const FormatOp& op : formats)
            if (!op.wholeColumns())
                last = std::max(last, op.bottom);
        for (const Merge& m : merges)
            last = std::max(last, m.row);
        return last;
    }

    // Writes the rows up to `last` in order; false when the progress stopped it.
    bool write(int last, const SpreadsheetApp::Progress& progress)
    {
        if (!writer)
            writer = std::make_unique<Writer>(*xlsxWriterLibrary(), reportFolder());
        std::vector<const char*> values; // by column, for the row at hand
        std::vector<size_t> covering;
        std::vector<Merge> rowMerges;
        while (written < last) {
            const int row = written + 1;
            values.clear();
            const auto cells = pending.find(row);
            if (cells != pending.end()) {
                const char* p = cells->second.data();
                const char* end = p + cells->second.size();
                while (p < end) {
                    const auto column = static_cast<size_t>(getNumber(p));
                    const size_t length = getNumber(p);
                    if (values.size() <= column)
                        values.resize(column + 1, nullptr);
                    values[column] = p; // a value set again replaces the earlier one
                    p += length + 1;
                }
            }
            covering.clear();
            for (size_t op = 0; op < formats.size(); ++op)
                if (row >= formats[op].top && row <= formats[op].bottom)
                    covering.push_back(op);
            rowMerges.clear();
            std::copy_if(merges.begin(), merges.end(), std::back_inserter(rowMerges), [&](const Merge& m) { return m.row == row; });
            writer->writeRow(row, values, formats, covering, rowMerges, fontNames);
            if (cells != pending.end())
                pending.erase(cells);
            std::erase_if(merges, [&](const Merge& m) { return m.row == row; });
            written = row;
            if (progress && !progress(row, last))
                return false;
        }
        return true;
    }
};

void Writer::finish(const SpreadsheetApp::Book& book, const QString& caption, const QString& path)
{
    // Widths, and what whole-column settings give the cells nobody wrote.
    std::map<int, Style> styles;
    for (const FormatOp& op : book.formats)
        if (op.wholeColumns())
            for (int c = op.left; c <= op.right; ++c)
                styles[c].apply(op);
    std::map<int, int> columns = book.widths;
    for (const auto& [column, style] : styles)
        columns.try_emplace(column, -1);
    for (const auto& [column, width] : columns) {
        const auto style = styles.find(column);
        check(m_lib.worksheet_set_column(m_sheet, static_cast<lxw_col_t>(column - 1), static_cast<lxw_col_t>(column - 1),
                                         width < 0 ? LXW_DEF_COL_WIDTH : width,
                                         style == styles.end() ? nullptr : format(style->second, book.fontNames)));
    }
    if (book.orientation)
        (*book.orientation == xl::Landscape ? m_lib.worksheet_set_landscape : m_lib.worksheet_set_portrait)(m_sheet);
    if (!book.footer.isNull())
        check(m_lib.worksheet_set_footer(m_sheet, (QStringLiteral("&C") + book.footer).toUtf8().constData()));
    QByteArray title = caption.toUtf8();
    lxw_doc_properties properties{};
    properties.title = title.data();
    check(m_lib.workbook_set_properties(m_workbook, &properties));
    lxw_workbook* workbook = std::exchange(m_workbook, nullptr); // closing frees it, whatever the outcome
    check(m_lib.workbook_close(workbook));
    // Renaming replaces the empty file that reserved the name.
    if (std::rename(QFile::encodeName(m_partial.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        cannotCreate();
    m_partial.setAutoRemove(false);
}

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
    if (!folderTakesFiles(reportFolder()))
        cannotCreate();
    if (!m_book->write(m_book->lastRow(), progress)) {
        released.stopped = true;
        m_book.reset(); // nothing is kept
        return released;
    }
    const QString path = reserveFile(m_book->writer->folder(), m_caption);
    try {
        m_book->writer->finish(*m_book, m_caption, path);
    } catch (...) {
        QFile::remove(path);
        throw;
    }
    m_book.reset();
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
    const QByteArray utf8 = text.toUtf8();
    setValue(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

void SheetRange::setValue(std::string_view utf8) const
{
    // The spreadsheet's limit for the text of one cell, in UTF-16 units (never more than
    // the UTF-8 bytes).
    if (utf8.size() > 32767 && QString::fromUtf8(utf8).size() > 32767)
        refuse(QStringLiteral("单元格文字超过 32767 个字符"));
    // Values are recorded cell by cell: a whole column (or more) is refused, not a
    // million cells written.
    if (static_cast<qint64>(m_bottom - m_top + 1) * (m_right - m_left + 1) >= xl::MaxRows)
        refuse(QStringLiteral("区域太大，无法逐格写入"));
    SpreadsheetApp::Book& book = m_app->book();
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
    m_app->book().requireUnwritten(m_top);
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

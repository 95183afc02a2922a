#include "spreadsheet_app.h"

#include "app/dialogs.h"
#include "engine/engine_error.h"
#include "engine/file_system.h"
#include "report_folder.h"
#include "workbook_closing.h"
#include "workbook_writer.h"
#include "xlsxwriter_library.h"

#include <QFile>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace ostrel {

namespace {

// Rows not yet written are kept at most this many; then all but the last go to the file.
// Settings made before the rows are written apply to them; the report routine makes its
// settings first, so it keeps only the row at hand.
constexpr size_t kPendingRows = 256;

[[noreturn]] void refuse(const QString& what)
{
    throw EngineError(what);
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

} // namespace

// ---- the application ----

struct SpreadsheetApp::Book : SheetSettings {
    // Values of the rows not written yet, by row: per cell its column, byte length, UTF-8
    // text and a NUL.
    std::map<int, std::string> pending;
    int written = 0; // rows 1 to this are in the file
    std::unique_ptr<WorkbookWriter> writer;

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
            writer = std::make_unique<WorkbookWriter>(*xlsxWriterLibrary(), reportFolder());
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

SpreadsheetApp::SpreadsheetApp()
{
    if (!xlsxWriterLibrary() || !folderTakesFiles(reportFolder()))
        cannotCreateWorkbook();
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

SpreadsheetApp::Released SpreadsheetApp::release(const Progress& progress, const Closing& closing)
{
    Released released;
    if (!m_book || m_released)
        return released;
    m_released = true;
    if (!folderTakesFiles(reportFolder()))
        cannotCreateWorkbook();
    if (!m_book->write(m_book->lastRow(), progress)) {
        released.stopped = true;
        m_book.reset(); // nothing is kept
        return released;
    }
    const QString path = reserveReportFile(m_book->writer->folder(), m_caption);
    if (path.isEmpty())
        cannotCreateWorkbook();
    try {
        m_book->writer->prepare(*m_book, m_caption);
        if (closing) {
            WorkbookClosing closer(std::move(m_book->writer));
            if (!closing([&] { return closer.done(); })) {
                m_book.reset();
                QFile::remove(path); // the closing given up removes its own file
                released.stopped = true;
                return released;
            }
            m_book->writer = closer.take();
        } else {
            m_book->writer->close();
        }
        m_book->writer->keep(path);
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
    m_app->book().formats.push_back({m_top, m_left, m_bottom, m_right, static_cast<FormatProperty>(property), value});
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

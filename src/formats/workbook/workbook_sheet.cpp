#include "formats/workbook/workbook_sheet.h"

#include "engine/engine_error.h"

#include <QDate>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace ostrel::workbook {

NumberKind builtinFormatKind(int id)
{
    switch (id) {
    case 14: case 15: case 16: case 17: case 22:
    // Chinese Excel's built-in date formats (yyyy"年"m"月"d"日" and the like).
    case 27: case 28: case 29: case 30: case 31: case 36:
    case 50: case 51: case 52: case 53: case 54: case 57: case 58:
        return NumberKind::Date;
    case 18: case 19: case 20: case 21: case 45: case 46: case 47:
    case 32: case 33: case 34: case 35: case 55: case 56:
        return NumberKind::Time;
    default:
        return NumberKind::Number;
    }
}

NumberKind formatCodeKind(QStringView code)
{
    bool date = false;
    bool month = false;
    bool time = false;
    const qsizetype n = code.size();
    for (qsizetype i = 0; i < n; ++i) {
        switch (code[i].unicode()) {
        case u'"': // literal text
            ++i;
            while (i < n && code[i] != u'"')
                ++i;
            break;
        case u'\\': // the next character is literal; _ and * take one as padding
        case u'_':
        case u'*':
            ++i;
            break;
        case u'[': { // colour, condition, locale; [h], [mm], [ss] are elapsed time
            const qsizetype close = code.indexOf(u']', i);
            const QStringView inside = code.mid(i + 1, (close < 0 ? n : close) - i - 1);
            if (!inside.isEmpty()
                && std::all_of(inside.begin(), inside.end(), [&](QChar c) { return c.toLower() == inside[0].toLower(); })
                && QStringView(u"hms").contains(inside[0].toLower()))
                time = true;
            i = close < 0 ? n : close;
            break;
        }
        case u'y': case u'Y': case u'd': case u'D':
            date = true;
            break;
        case u'm': case u'M':
            month = true;
            break;
        case u'h': case u'H': case u's': case u'S':
            time = true;
            break;
        default:
            break;
        }
    }
    if (date || (month && !time))
        return NumberKind::Date;
    return time ? NumberKind::Time : NumberKind::Number;
}

std::string numberText(double value)
{
    if (!std::isfinite(value))
        return std::isnan(value) ? "NaN" : value > 0 ? "INF" : "-INF";
    if (value == 0)
        return "0"; // -0 as well
    char buffer[64];
    if (std::floor(value) == value && std::fabs(value) < 9.0e18) {
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value)).ptr;
        return std::string(buffer, end);
    }
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

std::string serialDateText(double serial, bool date1904)
{
    // 9999-12-31 is the last day either system shows.
    const double lastDay = date1904 ? 2957003 : 2958465;
    if (!std::isfinite(serial) || serial < 0 || serial >= lastDay + 1)
        return numberText(serial);
    const int day = static_cast<int>(std::floor(serial));
    QDate date;
    if (date1904) {
        date = QDate(1904, 1, 1).addDays(day);
    } else {
        // The 1900 system counts a 29 February 1900 that never was, and a day 0.
        if (day == 0)
            return "1900-01-00";
        if (day == 60)
            return "1900-02-29";
        date = day < 60 ? QDate(1899, 12, 31).addDays(day) : QDate(1899, 12, 30).addDays(day);
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", date.year(), date.month(), date.day());
    return buffer;
}

std::string serialTimeText(double serial)
{
    if (!std::isfinite(serial) || serial < 0 || serial > 1e9)
        return numberText(serial);
    long long seconds = std::llround((serial - std::floor(serial)) * 86400.0) % 86400;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return buffer;
}

std::string formattedNumber(double value, NumberKind kind, bool date1904)
{
    switch (kind) {
    case NumberKind::Date:
        return serialDateText(value, date1904);
    case NumberKind::Time:
        return serialTimeText(value);
    case NumberKind::Number:
        break;
    }
    return numberText(value);
}

void SheetBuilder::checkPosition(uint32_t row, uint32_t column)
{
    if (row >= kMaxRows || column >= kMaxColumns)
        throw EngineError(QStringLiteral("单元格位置超出工作表范围（第 %1 行，第 %2 列）").arg(row + 1ull).arg(column + 1ull));
}

void SheetBuilder::countText(uint64_t& total, size_t bytes)
{
    total += bytes;
    if (total > kMaxTextBytes)
        throw EngineError(QStringLiteral("工作表过大：文字超过 %1 MB").arg(kMaxTextBytes >> 20));
}

void SheetBuilder::push(uint32_t row, uint32_t column, uint32_t start, uint32_t lengthAndFlags, size_t bytes)
{
    checkPosition(row, column);
    if (m_cells.size() >= kMaxCells)
        throw EngineError(QStringLiteral("工作表过大：超过 %1 个单元格").arg(kMaxCells));
    countText(m_textBytes, bytes);
    if (!m_cells.empty()) {
        const Cell& last = m_cells.back();
        if (row < last.row || (row == last.row && column <= last.column))
            m_ordered = false;
    }
    m_cells.push_back({row, column, start, lengthAndFlags});
}

void SheetBuilder::add(uint32_t row, uint32_t column, std::string_view utf8, bool numeric)
{
    if (utf8.empty())
        return;
    // The text limit is far below the length field, so the length always fits.
    const auto length = static_cast<uint32_t>(std::min<size_t>(utf8.size(), kLengthMask));
    push(row, column, static_cast<uint32_t>(m_arena.size()), length | (numeric ? kNumeric : 0), utf8.size());
    m_arena.append(utf8);
}

void SheetBuilder::addShared(uint32_t row, uint32_t column, uint32_t index)
{
    if (index >= m_shared->size())
        throw EngineError(QStringLiteral("共享字符串超出范围"));
    const std::string_view text = m_shared->at(index);
    if (text.empty())
        return;
    push(row, column, index, static_cast<uint32_t>(std::min<size_t>(text.size(), kLengthMask)) | kShared, text.size());
}

std::string_view SheetBuilder::text(const Cell& cell) const
{
    if (cell.length & kShared)
        return m_shared->at(cell.start);
    return std::string_view(m_arena).substr(cell.start, cell.length & kLengthMask);
}

ResultSet SheetBuilder::build()
{
    if (!m_ordered) {
        std::stable_sort(m_cells.begin(), m_cells.end(), [](const Cell& a, const Cell& b) {
            return a.row != b.row ? a.row < b.row : a.column < b.column;
        });
        // A cell written twice keeps its last value.
        size_t kept = 0;
        for (size_t i = 0; i < m_cells.size(); ++i) {
            if (i + 1 < m_cells.size() && m_cells[i + 1].row == m_cells[i].row && m_cells[i + 1].column == m_cells[i].column)
                continue;
            m_cells[kept++] = m_cells[i];
        }
        m_cells.resize(kept);
    }
    if (m_cells.empty())
        return ResultSet(QStringList{});

    const uint32_t firstRow = m_cells.front().row;
    const uint32_t lastRow = m_cells.back().row;
    uint32_t width = 0;
    for (const Cell& cell : m_cells)
        width = std::max(width, cell.column + 1);
    const uint64_t rows = lastRow - firstRow; // below the title row
    if ((rows + 1) * width > kMaxCells)
        throw EngineError(QStringLiteral("工作表过大：%1 行 × %2 列，超过 %3 个单元格").arg(rows + 1).arg(width).arg(kMaxCells));

    QStringList columns;
    columns.reserve(width);
    for (uint32_t c = 0; c < width; ++c)
        columns << QStringLiteral("F%1").arg(c + 1);
    size_t i = 0;
    for (; i < m_cells.size() && m_cells[i].row == firstRow; ++i)
        columns[static_cast<qsizetype>(m_cells[i].column)] = QString::fromUtf8(text(m_cells[i]));

    auto result = std::make_shared<SheetRows>(static_cast<int>(width), m_shared);
    result->reserveRows(rows);
    for (uint32_t row = firstRow + 1; row <= lastRow; ++row) {
        uint32_t column = 0;
        for (; i < m_cells.size() && m_cells[i].row == row; ++i) {
            const Cell& cell = m_cells[i];
            for (; column < cell.column; ++column)
                result->add({}, true);
            if (cell.length & kShared)
                result->addShared(cell.start);
            else
                result->add(text(cell), (cell.length & kNumeric) != 0);
            ++column;
        }
        result->endRow();
    }
    return rowsOf(std::move(columns), std::move(result));
}

bool OrderedSheet::place(uint32_t row, uint32_t column, std::string_view utf8)
{
    SheetBuilder::checkPosition(row, column);
    SheetBuilder::countText(m_textBytes, utf8.size());
    if (!m_result) {
        if (m_titles.empty() || row == m_titleRow) {
            if (!m_titles.empty() && column <= m_titles.back().first)
                throw NotInOrder{};
            m_titleRow = row;
            m_titles.emplace_back(column, std::string(utf8));
            return false;
        }
        startRows();
    }
    if (row < m_row || (row == m_row && column < m_nextColumn) || column >= m_width)
        throw NotInOrder{};
    if (row != m_row) {
        if (m_rowOpen)
            endRow();
        // Rows between hold nothing; padded like any other, as SheetBuilder pads them.
        const uint64_t rows = m_rows + (row - m_row);
        if ((rows + 1) * m_width > kMaxCells)
            throw NotInOrder{}; // SheetBuilder says how large the sheet would be
        for (uint32_t empty = m_row + 1; empty < row; ++empty) {
            ++m_rows;
            endRow();
        }
        ++m_rows;
        m_row = row;
        m_rowOpen = true;
    }
    for (; m_nextColumn < column; ++m_nextColumn)
        m_result->add({}, true);
    m_nextColumn = column + 1;
    return true;
}

void OrderedSheet::add(uint32_t row, uint32_t column, std::string_view utf8, bool numeric)
{
    if (!utf8.empty() && place(row, column, utf8))
        m_result->add(utf8, numeric);
}

void OrderedSheet::addShared(uint32_t row, uint32_t column, uint32_t index)
{
    if (index >= m_shared->size())
        throw EngineError(QStringLiteral("共享字符串超出范围"));
    const std::string_view text = m_shared->at(index);
    if (!text.empty() && place(row, column, text))
        m_result->addShared(index);
}

void OrderedSheet::startRows()
{
    m_width = m_titles.back().first + 1;
    m_columns.reserve(m_width);
    for (uint32_t c = 0; c < m_width; ++c)
        m_columns << QStringLiteral("F%1").arg(c + 1);
    for (const auto& [column, text] : m_titles)
        m_columns[static_cast<qsizetype>(column)] = QString::fromUtf8(text);
    m_titles = {};
    m_result = std::make_shared<SheetRows>(static_cast<int>(m_width), m_shared);
    m_result->reserveRows(std::min<size_t>(m_reserveRows, m_reserveCells / m_width));
    m_row = m_titleRow;
}

void OrderedSheet::endRow()
{
    m_result->endRow();
    m_nextColumn = 0;
    m_rowOpen = false;
}

ResultSet OrderedSheet::build()
{
    if (!m_result) {
        if (m_titles.empty())
            return ResultSet(QStringList{});
        startRows();
    }
    if (m_rowOpen)
        endRow();
    return rowsOf(std::move(m_columns), std::move(m_result));
}

bool sameSheetName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

void throwMissingSheet(const QString& sheet, const QStringList& present)
{
    QString text = QStringLiteral("找不到工作表“%1”").arg(sheet);
    if (!present.isEmpty())
        text += QStringLiteral("（文件中的工作表：%1）").arg(present.join(QStringLiteral("、")));
    throw EngineError(text);
}

} // namespace ostrel::workbook

// The stream from the .xls helper to the program (workbook_xls.h describes it).
#include "formats/workbook/workbook_xls.h"

#include "engine/engine_error.h"

namespace ostrel::workbook {

namespace {

void put32(std::string& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace

[[noreturn]] void xlsError(const QString& detail)
{
    throw EngineError(QStringLiteral("无法读取 .xls 工作簿：%1").arg(detail));
}

void appendXlsCell(std::string& out, uint32_t row, uint32_t column, std::string_view utf8, bool numeric)
{
    out += 'C';
    put32(out, row);
    put32(out, column);
    out += numeric ? '\1' : '\0';
    put32(out, static_cast<uint32_t>(utf8.size()));
    out.append(utf8);
}

void appendXlsEnd(std::string& out)
{
    out += 'E';
}

void appendXlsError(std::string& out, const QString& message)
{
    QByteArray utf8 = message.toUtf8();
    if (utf8.size() > qsizetype(kXlsMaxErrorBytes)) {
        // Cut between characters, never inside one.
        qsizetype at = kXlsMaxErrorBytes;
        while (at > 0 && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80)
            --at;
        utf8.truncate(at);
    }
    out += 'X';
    put32(out, static_cast<uint32_t>(utf8.size()));
    out.append(utf8.constData(), static_cast<size_t>(utf8.size()));
}

void XlsStreamReader::feed(std::string_view bytes)
{
    if (m_ended)
        return;
    m_pending.append(bytes);
    size_t at = 0;
    while (!m_ended && at < m_pending.size()) {
        const size_t start = at;
        if (!record(at)) {
            at = start; // incomplete: wait for more
            break;
        }
    }
    // What is left is the start of one record, whose length was checked as soon as it came.
    m_pending.erase(0, at);
}

bool XlsStreamReader::take32(size_t& at, uint32_t& value) const
{
    if (m_pending.size() - at < 4)
        return false;
    value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(m_pending[at + i])) << (8 * i);
    at += 4;
    return true;
}

bool XlsStreamReader::record(size_t& at)
{
    const char kind = m_pending[at++];
    uint32_t row = 0, column = 0, length = 0;
    switch (kind) {
    case 'C': {
        if (!take32(at, row) || !take32(at, column) || at >= m_pending.size())
            return false;
        const char numeric = m_pending[at++];
        if (!take32(at, length))
            return false;
        // The helper only sends cells inside the sheet's limits, and no empty ones.
        if (row >= kMaxRows || column >= kMaxColumns || (numeric != 0 && numeric != 1) || length == 0
            || length > kXlsMaxCellBytes) {
            m_broken = true;
            m_ended = true;
            return true;
        }
        if (m_pending.size() - at < length)
            return false;
        m_cell(row, column, std::string_view(m_pending).substr(at, length), numeric == 1);
        at += length;
        return true;
    }
    case 'X':
        if (!take32(at, length))
            return false;
        if (length == 0 || length > kXlsMaxErrorBytes) {
            m_broken = true;
            m_ended = true;
            return true;
        }
        if (m_pending.size() - at < length)
            return false;
        m_error = QString::fromUtf8(m_pending.data() + at, static_cast<qsizetype>(length));
        m_hasError = true;
        m_ended = true;
        at += length;
        return true;
    case 'E':
        m_ended = true;
        return true;
    default:
        m_broken = true;
        m_ended = true;
        return true;
    }
}

} // namespace ostrel::workbook

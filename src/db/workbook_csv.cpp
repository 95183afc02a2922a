// CSV text as a one-sheet workbook: comma-separated fields, quoted fields with doubled
// quotes and line breaks inside, CR, LF or CRLF line ends.
#include "engine_error.h"
#include "workbook_reader.h"
#include "workbook_sheet.h"

#include <iconv.h>

#include <cerrno>
#include <string>
#include <string_view>

namespace ostrel {

using namespace workbook;

namespace {

bool isValidUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint32_t code;
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (n - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode are not UTF-8.
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

// GB18030 holds GBK, so this reads what a Chinese Excel saves as CSV.
std::string gb18030ToUtf8(std::string_view in)
{
    Iconv cd("UTF-8", "GB18030");
    if (!cd.ok())
        throw EngineError(QStringLiteral("系统不支持 GB18030 编码，无法读取这个CSV文件"));
    // A GB18030 character never takes more than half again its bytes in UTF-8.
    std::string out(in.size() + in.size() / 2 + 16, '\0');
    char* source = const_cast<char*>(in.data());
    size_t sourceLeft = in.size();
    char* target = out.data();
    size_t targetLeft = out.size();
    if (iconv(cd.get(), &source, &sourceLeft, &target, &targetLeft) == static_cast<size_t>(-1) || sourceLeft > 0)
        throw EngineError(QStringLiteral("文件不是Excel工作簿，也不是UTF-8或GBK编码的CSV文本"));
    out.resize(out.size() - targetLeft);
    return out;
}

} // namespace

ResultSet readCsv(const QByteArray& bytes, const QString& sheet)
{
    if (!sameSheetName(sheet, QStringLiteral("Sheet1")))
        throwMissingSheet(sheet, {QStringLiteral("Sheet1")});
    if (bytes.size() > kMaxFileBytes)
        throw EngineError(QStringLiteral("CSV文件过大：超过 %1 MB").arg(kMaxFileBytes >> 20));
    // Text has no NUL bytes; a file with them is some other binary format.
    if (bytes.contains('\0'))
        throw EngineError(QStringLiteral("文件不是Excel工作簿，也不是CSV文本"));

    std::string_view in(bytes.constData(), static_cast<size_t>(bytes.size()));
    std::string decoded;
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (in.substr(0, bom.size()) == bom) {
        in.remove_prefix(bom.size());
        if (!isValidUtf8(in))
            throw EngineError(QStringLiteral("CSV文件标明为UTF-8编码，但其中有不是UTF-8的字节"));
    } else if (!isValidUtf8(in)) {
        decoded = gb18030ToUtf8(in);
        in = decoded;
    }

    SheetBuilder sheetCells;
    uint32_t row = 0;
    uint32_t column = 0;
    std::string field;
    const size_t n = in.size();
    size_t i = 0;
    auto fieldEnd = [&](size_t from) {
        const size_t end = in.find_first_of(",\r\n", from);
        return end == std::string_view::npos ? n : end;
    };
    while (i < n) {
        if (in[i] == '"') {
            field.clear();
            ++i;
            for (;;) {
                const size_t quote = in.find('"', i);
                if (quote == std::string_view::npos) { // unclosed: the rest of the file
                    field.append(in.substr(i));
                    i = n;
                    break;
                }
                field.append(in.substr(i, quote - i));
                i = quote + 1;
                if (i < n && in[i] == '"') {
                    field += '"';
                    ++i;
                    continue;
                }
                break;
            }
            // Text after the closing quote stays, as Excel keeps it.
            const size_t end = fieldEnd(i);
            field.append(in.substr(i, end - i));
            i = end;
            sheetCells.add(row, column, field, false);
        } else {
            const size_t end = fieldEnd(i);
            sheetCells.add(row, column, in.substr(i, end - i), false);
            i = end;
        }
        if (i >= n)
            break;
        if (in[i] == ',') {
            ++i;
            if (column < kMaxColumns) // further empty fields cost nothing; text there fails in add()
                ++column;
            continue;
        }
        i += (in[i] == '\r' && i + 1 < n && in[i + 1] == '\n') ? 2 : 1;
        if (row < kMaxRows)
            ++row;
        column = 0;
    }
    return sheetCells.build();
}

} // namespace ostrel

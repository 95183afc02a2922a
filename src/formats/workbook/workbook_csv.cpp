// CSV text as a one-sheet workbook: comma-separated fields, quoted fields with doubled
// quotes and line breaks inside, CR, LF or CRLF line ends.
#include "formats/charset.h"
#include "engine/engine_error.h"
#include "formats/workbook/workbook_reader.h"
#include "formats/workbook/workbook_sheet.h"

#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

using namespace workbook;

namespace {

// GB18030 holds GBK, so this reads what a Chinese Excel saves as CSV.
std::string gb18030ToUtf8(std::string_view in)
{
    std::optional<std::string> out = toUtf8(in, "GB18030");
    if (!out)
        throw EngineError(QStringLiteral("文件不是Excel工作簿，也不是UTF-8或GBK编码的CSV文本"));
    return std::move(*out);
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

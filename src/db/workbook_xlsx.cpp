// .xlsx: a zip of XML parts. The workbook part lists the sheets and points through its
// relationships to each sheet's part, the shared strings and the styles (whose number
// formats tell dates from numbers).
#include "engine_error.h"
#include "workbook_reader.h"
#include "workbook_sheet.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <QBuffer>
#include <QDir>
#include <QHash>
#include <QXmlStreamReader>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>

namespace ostrel {

using namespace workbook;

namespace {

[[noreturn]] void damaged(const QString& part, const QString& detail)
{
    throw EngineError(QStringLiteral("工作簿已损坏：%1 %2").arg(part, detail));
}

// One part of the package, at most `limit` bytes once expanded; none when it is absent.
std::optional<QByteArray> readPart(QuaZip& zip, const QString& name, qint64 limit)
{
    if (name.isEmpty() || !zip.setCurrentFile(name, QuaZip::csInsensitive))
        return std::nullopt;
    QuaZipFile file(&zip);
    if (!file.open(QIODevice::ReadOnly))
        damaged(name, QStringLiteral("无法解压（可能已加密）"));
    QByteArray bytes;
    // Room for what the entry says it holds, so the bytes are not moved as they grow; a
    // false size costs at most the limit.
    bytes.reserve(std::clamp<qint64>(file.usize(), 0, limit) + 1);
    char buffer[64 * 1024];
    for (;;) {
        const qint64 got = file.read(buffer, sizeof buffer);
        if (got < 0)
            damaged(name, QStringLiteral("解压出错"));
        if (got == 0)
            break;
        if (bytes.size() + got > limit)
            throw EngineError(QStringLiteral("工作簿过大：%1 解压后超过 %2 MB").arg(name).arg(limit >> 20));
        bytes.append(buffer, got);
    }
    file.close();
    if (file.getZipError() != UNZ_OK)
        damaged(name, QStringLiteral("校验和不符"));
    return bytes;
}

// Reads the next token; a document type declaration (entity tricks) or an XML error ends
// the reading.
QXmlStreamReader::TokenType next(QXmlStreamReader& xml, const QString& part)
{
    const QXmlStreamReader::TokenType token = xml.readNext();
    if (token == QXmlStreamReader::DTD)
        damaged(part, QStringLiteral("含有文档类型声明"));
    if (token == QXmlStreamReader::Invalid)
        damaged(part, xml.errorString());
    return token;
}

// Strings in the package write characters XML cannot hold as _xHHHH_ (_x005F_ is "_").
QString decodeEscapes(const QString& text)
{
    if (!text.contains(u"_x"))
        return text;
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (text[i] == u'_' && i + 6 < n && text[i + 1] == u'x' && text[i + 6] == u'_') {
            bool ok = false;
            const uint code = QStringView(text).mid(i + 2, 4).toUInt(&ok, 16);
            if (ok && code != 0 && std::all_of(text.begin() + i + 2, text.begin() + i + 6, [](QChar c) { return c.unicode() < 128 && std::isxdigit(c.unicode()); })) {
                out += QChar(static_cast<char16_t>(code));
                i += 6;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// The text of a <si> or <is>: plain <t>, or the <t> of each rich-text run; the phonetic
// guides (<rPh>) are not part of the text.
QString readRichText(QXmlStreamReader& xml, const QString& part)
{
    QString text;
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        const QXmlStreamReader::TokenType token = next(xml, part);
        if (token == QXmlStreamReader::StartElement) {
            if (xml.name() == u"t")
                text += xml.readElementText(QXmlStreamReader::SkipChildElements);
            else if (xml.name() == u"rPh")
                xml.skipCurrentElement();
            else
                ++depth;
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    return decodeEscapes(text);
}

struct Relationship {
    QString id;
    QString type;
    QString target;
};

QList<Relationship> readRelationships(const QByteArray& bytes, const QString& part)
{
    QList<Relationship> list;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (next(xml, part) != QXmlStreamReader::StartElement || xml.name() != u"Relationship")
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (a.value(QLatin1String("TargetMode")).compare(u"External", Qt::CaseInsensitive) == 0)
            continue;
        list.append({a.value(QLatin1String("Id")).toString(), a.value(QLatin1String("Type")).toString(), a.value(QLatin1String("Target")).toString()});
    }
    return list;
}

// The part a relationship target names, relative to the folder of the part that holds the
// relationship; empty when it leads out of the package.
QString resolveTarget(const QString& folder, QString target)
{
    target.replace(u'\\', u'/');
    const QString path = QDir::cleanPath(target.startsWith(u'/') ? target.mid(1) : folder + target);
    if (path.isEmpty() || path == u".." || path.startsWith(u"../") || path.startsWith(u'/'))
        return {};
    return path;
}

QString folderOf(const QString& part)
{
    const qsizetype slash = part.lastIndexOf(u'/');
    return slash < 0 ? QString() : part.left(slash + 1);
}

QString targetOfType(const QList<Relationship>& list, QStringView typeEnd, const QString& folder)
{
    for (const Relationship& r : list)
        if (r.type.endsWith(typeEnd))
            return resolveTarget(folder, r.target);
    return {};
}

struct SharedStrings {
    std::string arena;
    std::vector<std::pair<uint32_t, uint32_t>> spans; // start, length
};

SharedStrings readSharedStrings(const QByteArray& bytes, const QString& part)
{
    SharedStrings sst;
    sst.arena.reserve(static_cast<size_t>(bytes.size() / 2));
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (next(xml, part) != QXmlStreamReader::StartElement || xml.name() != u"si")
            continue;
        const QByteArray utf8 = readRichText(xml, part).toUtf8();
        sst.spans.emplace_back(static_cast<uint32_t>(sst.arena.size()), static_cast<uint32_t>(utf8.size()));
        sst.arena.append(utf8.constData(), static_cast<size_t>(utf8.size()));
    }
    return sst;
}

// The number kind of each cell format (the s attribute of a cell indexes this list).
std::vector<NumberKind> readStyles(const QByteArray& bytes, const QString& part)
{
    QHash<int, NumberKind> custom;
    std::vector<int> formatIds;
    bool inCellFormats = false;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = next(xml, part);
        if (token == QXmlStreamReader::EndElement && xml.name() == u"cellXfs")
            inCellFormats = false;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        if (name == u"numFmt") {
            const QXmlStreamAttributes a = xml.attributes();
            custom.insert(a.value(QLatin1String("numFmtId")).toInt(), formatCodeKind(a.value(QLatin1String("formatCode"))));
        } else if (name == u"cellXfs") {
            inCellFormats = true;
        } else if (name == u"xf" && inCellFormats) {
            formatIds.push_back(xml.attributes().value(QLatin1String("numFmtId")).toInt());
        }
    }
    std::vector<NumberKind> kinds;
    kinds.reserve(formatIds.size());
    for (int id : formatIds)
        kinds.push_back(custom.contains(id) ? custom.value(id) : builtinFormatKind(id));
    return kinds;
}

struct WorkbookPart {
    bool date1904 = false;
    QStringList names;
    QStringList ids;
};

WorkbookPart readWorkbookPart(const QByteArray& bytes, const QString& part)
{
    WorkbookPart book;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (next(xml, part) != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == u"workbookPr") {
            const QStringView v = a.value(QLatin1String("date1904"));
            book.date1904 = v == u"1" || v.compare(u"true", Qt::CaseInsensitive) == 0;
        } else if (xml.name() == u"sheet") {
            QString id;
            for (const QXmlStreamAttribute& attribute : a)
                if (attribute.name() == u"id" && !attribute.namespaceUri().isEmpty())
                    id = attribute.value().toString();
            book.names << a.value(QLatin1String("name")).toString();
            book.ids << id;
        }
    }
    return book;
}

bool parseUnsigned(QStringView text, uint64_t& value)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c.unicode() - u'0');
    }
    return true;
}

bool parseNumber(QStringView text, double& value)
{
    char buffer[64];
    const qsizetype n = text.size();
    if (n == 0 || n >= static_cast<qsizetype>(sizeof buffer))
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 128)
            return false;
        buffer[i] = static_cast<char>(c);
    }
    const auto [end, error] = std::from_chars(buffer, buffer + n, value);
    return error == std::errc() && end == buffer + n;
}

// "BC12" -> column 54 (from 0); a reference without letters keeps `fallback`.
uint32_t columnOf(QStringView reference, uint32_t fallback, const QString& part)
{
    uint32_t column = 0;
    qsizetype i = 0;
    for (; i < reference.size(); ++i) {
        const char16_t c = reference[i].unicode();
        const char16_t upper = (c >= u'a' && c <= u'z') ? c - 32 : c;
        if (upper < u'A' || upper > u'Z')
            break;
        column = column * 26 + (upper - u'A' + 1);
        if (column > kMaxColumns)
            damaged(part, QStringLiteral("单元格 %1 超出工作表的列范围").arg(reference.left(16)));
    }
    return i == 0 ? fallback : column - 1;
}

class SheetReader {
public:
    SheetReader(const QByteArray& bytes, const QString& part, const SharedStrings& sst,
                const std::vector<NumberKind>& kinds, bool date1904)
        : m_part(part), m_sst(sst), m_kinds(kinds), m_date1904(date1904)
    {
        // Through a device the reader decodes the part piece by piece instead of all at
        // once: less memory, and faster.
        m_buffer.setData(bytes);
        m_buffer.open(QIODevice::ReadOnly);
        m_xml.setDevice(&m_buffer);
        m_cells.setShared(m_sst.arena);
        // A cell takes some 30 bytes of the part, rarely fewer.
        m_cells.reserve(static_cast<size_t>(bytes.size() / 32));
    }

    ResultSet read()
    {
        while (!m_xml.atEnd()) {
            if (next(m_xml, m_part) != QXmlStreamReader::StartElement)
                continue;
            if (m_xml.name() == u"row")
                startRow();
            else if (m_xml.name() == u"c")
                readCell();
        }
        return m_cells.build();
    }

private:
    void startRow()
    {
        const QStringView number = m_xml.attributes().value(QLatin1String("r"));
        uint64_t row = 0;
        if (number.isEmpty())
            m_row = m_nextRow;
        else if (parseUnsigned(number, row) && row >= 1 && row <= kMaxRows)
            m_row = static_cast<uint32_t>(row - 1);
        else
            damaged(m_part, QStringLiteral("行号 %1 无效").arg(number.left(20)));
        m_nextRow = m_row + 1;
        m_nextColumn = 0;
    }

    void readCell()
    {
        const QXmlStreamAttributes a = m_xml.attributes();
        const uint32_t column = columnOf(a.value(QLatin1String("r")), m_nextColumn, m_part);
        m_nextColumn = column + 1;
        const QStringView type = a.value(QLatin1String("t")); // `a` is a copy: it stays valid
        uint64_t style = 0;
        const bool styled = parseUnsigned(a.value(QLatin1String("s")), style);

        QString value;
        bool hasValue = false;
        QString inlineText;
        bool hasInline = false;
        while (m_xml.readNextStartElement()) {
            if (m_xml.name() == u"v") {
                value = m_xml.readElementText(QXmlStreamReader::SkipChildElements);
                hasValue = true;
            } else if (m_xml.name() == u"is") {
                inlineText = readRichText(m_xml, m_part);
                hasInline = true;
            } else {
                m_xml.skipCurrentElement();
            }
        }
        if (m_xml.hasError())
            damaged(m_part, m_xml.errorString());

        if (type == u"s") {
            uint64_t index = 0;
            if (!hasValue)
                return;
            if (!parseUnsigned(value, index) || index >= m_sst.spans.size())
                damaged(m_part, QStringLiteral("共享字符串编号 %1 无效").arg(value.left(20)));
            const auto [start, length] = m_sst.spans[index];
            m_cells.addShared(m_row, column, start, length);
        } else if (type == u"inlineStr" || (!hasValue && hasInline)) {
            add(column, inlineText, false);
        } else if (!hasValue) {
            return;
        } else if (type == u"str") {
            add(column, decodeEscapes(value), false);
        } else if (type == u"b") {
            add(column, value == u"1" ? QStringLiteral("TRUE") : QStringLiteral("FALSE"), false);
        } else if (type == u"d") {
            // An ISO 8601 date (strict packages): its day is the text.
            add(column, value.left(10), false);
        } else if (type == u"e") {
            add(column, value, false);
        } else {
            double number = 0;
            if (!parseNumber(value, number)) {
                add(column, value, false);
                return;
            }
            const NumberKind kind = styled && style < m_kinds.size() ? m_kinds[style] : NumberKind::Number;
            const std::string text = formattedNumber(number, kind, m_date1904);
            m_cells.add(m_row, column, text, kind == NumberKind::Number && std::isfinite(number));
        }
    }

    void add(uint32_t column, const QString& text, bool numeric)
    {
        const QByteArray utf8 = text.toUtf8();
        m_cells.add(m_row, column, std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())), numeric);
    }

    QBuffer m_buffer;
    QXmlStreamReader m_xml;
    const QString& m_part;
    const SharedStrings& m_sst;
    const std::vector<NumberKind>& m_kinds;
    const bool m_date1904;
    SheetBuilder m_cells;
    uint32_t m_row = 0;
    uint32_t m_nextRow = 0;
    uint32_t m_nextColumn = 0;
};

} // namespace

ResultSet readXlsx(const QByteArray& bytes, const QString& sheet)
{
    if (bytes.size() > kMaxFileBytes)
        throw EngineError(QStringLiteral("工作簿文件过大：超过 %1 MB").arg(kMaxFileBytes >> 20));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QuaZip zip(&buffer);
    if (!zip.open(QuaZip::mdUnzip))
        throw EngineError(QStringLiteral("工作簿已损坏：不是有效的 .xlsx 文件（zip 目录无法读取）"));

    // The package's root relationships name the workbook part.
    QString bookPart = QStringLiteral("xl/workbook.xml");
    if (const auto rootRels = readPart(zip, QStringLiteral("_rels/.rels"), kMaxSmallPartBytes)) {
        const QString found = targetOfType(readRelationships(*rootRels, QStringLiteral("_rels/.rels")), u"/officeDocument", {});
        if (!found.isEmpty())
            bookPart = found;
    }
    const auto bookBytes = readPart(zip, bookPart, kMaxSmallPartBytes);
    if (!bookBytes)
        damaged(bookPart, QStringLiteral("缺失：这不是Excel工作簿"));
    const WorkbookPart book = readWorkbookPart(*bookBytes, bookPart);
    const qsizetype index = [&] {
        for (qsizetype i = 0; i < book.names.size(); ++i)
            if (sameSheetName(book.names[i], sheet))
                return i;
        return qsizetype(-1);
    }();
    if (index < 0)
        throwMissingSheet(sheet, book.names);

    const QString folder = folderOf(bookPart);
    const QString relsPart = folder + QStringLiteral("_rels/") + bookPart.mid(folder.size()) + QStringLiteral(".rels");
    QList<Relationship> rels;
    if (const auto relsBytes = readPart(zip, relsPart, kMaxSmallPartBytes))
        rels = readRelationships(*relsBytes, relsPart);
    QString sheetPart;
    for (const Relationship& r : rels)
        if (r.id == book.ids[index])
            sheetPart = resolveTarget(folder, r.target);
    const auto sheetBytes = readPart(zip, sheetPart, kMaxSheetXmlBytes);
    if (!sheetBytes)
        damaged(sheetPart.isEmpty() ? sheet : sheetPart, QStringLiteral("缺失：找不到工作表“%1”的内容").arg(sheet));

    SharedStrings sst;
    const QString sstPart = targetOfType(rels, u"/sharedStrings", folder);
    if (const auto sstBytes = readPart(zip, sstPart, kMaxSharedStringsBytes))
        sst = readSharedStrings(*sstBytes, sstPart);
    std::vector<NumberKind> kinds;
    const QString stylesPart = targetOfType(rels, u"/styles", folder);
    if (const auto stylesBytes = readPart(zip, stylesPart, kMaxSmallPartBytes))
        kinds = readStyles(*stylesBytes, stylesPart);

    return SheetReader(*sheetBytes, sheetPart, sst, kinds, book.date1904).read();
}

} // namespace ostrel

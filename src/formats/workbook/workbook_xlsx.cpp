// .xlsx: a zip of XML parts. The workbook part lists the sheets and points through its
// relationships to each sheet's part, the shared strings and the styles (whose number
// formats tell dates from numbers).
#include "engine/engine_error.h"
#include "formats/workbook/workbook_reader.h"
#include "formats/workbook/workbook_sheet.h"
#include "formats/workbook/workbook_xml.h"

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

// Opens one part of the package and hands its expanded bytes to `read` as a device; false
// when the part is absent. The zip's checksum is checked once the part is read.
template <class Read>
bool readPartWith(QuaZip& zip, const QString& name, Read&& read)
{
    if (name.isEmpty() || !zip.setCurrentFile(name, QuaZip::csInsensitive))
        return false;
    QuaZipFile file(&zip);
    if (!file.open(QIODevice::ReadOnly))
        damaged(name, QStringLiteral("无法解压（可能已加密）"));
    read(file);
    file.close();
    if (file.getZipError() != UNZ_OK)
        damaged(name, QStringLiteral("校验和不符"));
    return true;
}

// One small part of the package, at most `limit` bytes once expanded; none when it is absent.
std::optional<QByteArray> readPart(QuaZip& zip, const QString& name, qint64 limit)
{
    QByteArray bytes;
    const bool present = readPartWith(zip, name, [&](QuaZipFile& file) {
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
    });
    return present ? std::optional<QByteArray>(std::move(bytes)) : std::nullopt;
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

std::string decodeEscapes(std::string text)
{
    if (text.find("_x") == std::string::npos)
        return text;
    const QByteArray utf8 = decodeEscapes(QString::fromUtf8(text)).toUtf8();
    return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}

// The text of a <si> or <is> just started: plain <t>, or the <t> of each rich-text run;
// the phonetic guides (<rPh>) are not part of the text.
std::string readRichText(XmlPull& xml)
{
    std::string text;
    for (int depth = 1; depth > 0;) {
        switch (xml.next()) {
        case XmlPull::StartElement:
            if (xml.name() == "t")
                text += xml.elementText();
            else if (xml.name() == "rPh")
                xml.skipElement();
            else
                ++depth;
            break;
        case XmlPull::EndElement:
            --depth;
            break;
        case XmlPull::Characters:
            break;
        case XmlPull::EndDocument:
            xml.damaged(QStringLiteral("XML 不完整"));
        }
    }
    return decodeEscapes(std::move(text));
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

bool parseUnsigned(std::string_view text, uint64_t& value)
{
    if (text.empty() || text.size() > 18)
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// The texts are kept by the sheet's rows for as long as they are shown.
std::shared_ptr<const SharedTexts> readSharedStrings(XmlPull& xml, qint64 expandedSize)
{
    auto sst = std::make_shared<SharedTexts>();
    for (XmlPull::Token token; (token = xml.next()) != XmlPull::EndDocument;) {
        if (token != XmlPull::StartElement)
            continue;
        if (xml.name() == "si") {
            sst->add(readRichText(xml));
        } else if (xml.name() == "sst") {
            // Room for the strings the part declares, at most one per 16 bytes of it (an
            // <si> holding a text takes more), whatever it declares.
            uint64_t declared = 0;
            if (parseUnsigned(xml.attribute("uniqueCount"), declared))
                sst->reserve(static_cast<size_t>(std::min<uint64_t>(
                    declared, static_cast<uint64_t>(std::clamp<qint64>(expandedSize, 0, kMaxSharedStringsBytes)) / 16)));
        }
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

bool parseNumber(std::string_view text, double& value)
{
    if (text.empty() || text.size() >= 64)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// The start of a text for an error message, cut by characters.
QString shown(std::string_view text, qsizetype characters)
{
    return QString::fromUtf8(text.substr(0, static_cast<size_t>(characters) * 4)).left(characters);
}

// "BC12" -> column 54 (from 0); a reference without letters keeps `fallback`.
uint32_t columnOf(std::string_view reference, uint32_t fallback, XmlPull& xml)
{
    uint32_t column = 0;
    size_t i = 0;
    for (; i < reference.size(); ++i) {
        const char c = reference[i];
        const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        if (upper < 'A' || upper > 'Z')
            break;
        column = column * 26 + static_cast<uint32_t>(upper - 'A' + 1);
        if (column > kMaxColumns)
            xml.damaged(QStringLiteral("单元格 %1 超出工作表的列范围").arg(shown(reference, 16)));
    }
    return i == 0 ? fallback : column - 1;
}

// What the t attribute of a cell says its value is.
enum class CellType { Number, Shared, Inline, Formula, Boolean, Date, Error };

CellType cellType(std::string_view t)
{
    static constexpr std::pair<std::string_view, CellType> kTypes[] = {
        {"s", CellType::Shared}, {"inlineStr", CellType::Inline}, {"str", CellType::Formula},
        {"b", CellType::Boolean}, {"d", CellType::Date},          {"e", CellType::Error},
    };
    for (const auto& [name, type] : kTypes)
        if (t == name)
            return type;
    return CellType::Number;
}

// Reads the cells of a sheet part into `Cells` (OrderedSheet or SheetBuilder).
template <class Cells>
class SheetReader {
public:
    SheetReader(XmlPull& xml, qint64 partSize, const std::shared_ptr<const SharedTexts>& sst,
                const std::vector<NumberKind>& kinds, bool date1904)
        : m_xml(xml), m_partSize(std::clamp<qint64>(partSize, 0, kMaxSheetXmlBytes)), m_sstCount(sst->size()), m_kinds(kinds),
          m_date1904(date1904)
    {
        m_cells.setShared(sst);
    }

    ResultSet read()
    {
        for (XmlPull::Token token; (token = m_xml.next()) != XmlPull::EndDocument;) {
            if (token != XmlPull::StartElement)
                continue;
            if (m_xml.name() == "row")
                startRow();
            else if (m_xml.name() == "c")
                readCell();
            else if (m_xml.name() == "dimension")
                reserve();
        }
        return m_cells.build();
    }

private:
    // The size the sheet declares ("A1:X100001"): room for its rows, at most a few bytes of
    // room per byte of the part, whatever it declares.
    void reserve()
    {
        const std::string_view ref = m_xml.attribute("ref");
        const size_t colon = ref.find(':');
        uint64_t first = 0;
        uint64_t last = 0;
        if (colon == std::string_view::npos || !parseUnsigned(rowOf(ref.substr(0, colon)), first)
            || !parseUnsigned(rowOf(ref.substr(colon + 1)), last) || last < first || last > kMaxRows)
            return;
        m_cells.reserve(static_cast<uint32_t>(last - first), static_cast<size_t>(m_partSize / 8));
    }

    static std::string_view rowOf(std::string_view reference)
    {
        size_t i = 0;
        while (i < reference.size() && !(reference[i] >= '0' && reference[i] <= '9'))
            ++i;
        return reference.substr(i);
    }

    void startRow()
    {
        const std::string_view number = m_xml.attribute("r");
        uint64_t row = 0;
        if (number.empty())
            m_row = m_nextRow;
        else if (parseUnsigned(number, row) && row >= 1 && row <= kMaxRows)
            m_row = static_cast<uint32_t>(row - 1);
        else
            m_xml.damaged(QStringLiteral("行号 %1 无效").arg(shown(number, 20)));
        m_nextRow = m_row + 1;
        m_nextColumn = 0;
    }

    void readCell()
    {
        const uint32_t column = columnOf(m_xml.attribute("r"), m_nextColumn, m_xml);
        m_nextColumn = column + 1;
        const CellType type = cellType(m_xml.attribute("t"));
        uint64_t style = 0;
        const bool styled = parseUnsigned(m_xml.attribute("s"), style);

        std::string value;
        bool hasValue = false;
        std::string inlineText;
        bool hasInline = false;
        for (XmlPull::Token token; (token = m_xml.next()) != XmlPull::EndElement;) {
            if (token == XmlPull::EndDocument)
                m_xml.damaged(QStringLiteral("XML 不完整"));
            if (token != XmlPull::StartElement)
                continue;
            if (m_xml.name() == "v") {
                value = m_xml.elementText();
                hasValue = true;
            } else if (m_xml.name() == "is") {
                inlineText = readRichText(m_xml);
                hasInline = true;
            } else {
                m_xml.skipElement();
            }
        }

        if (type == CellType::Shared) {
            uint64_t index = 0;
            if (!hasValue)
                return;
            if (!parseUnsigned(value, index) || index >= m_sstCount)
                m_xml.damaged(QStringLiteral("共享字符串编号 %1 无效").arg(shown(value, 20)));
            m_cells.addShared(m_row, column, static_cast<uint32_t>(index));
        } else if (type == CellType::Inline || (!hasValue && hasInline)) {
            m_cells.add(m_row, column, inlineText, false);
        } else if (!hasValue) {
            return;
        } else if (type == CellType::Formula) {
            m_cells.add(m_row, column, decodeEscapes(std::move(value)), false);
        } else if (type == CellType::Boolean) {
            m_cells.add(m_row, column, value == "1" ? "TRUE" : "FALSE", false);
        } else if (type == CellType::Date) {
            // An ISO 8601 date (strict packages): its day is the text.
            m_cells.add(m_row, column, shown(value, 10).toStdString(), false);
        } else if (type == CellType::Error) {
            m_cells.add(m_row, column, value, false);
        } else {
            double number = 0;
            if (!parseNumber(value, number)) {
                m_cells.add(m_row, column, value, false);
                return;
            }
            const NumberKind kind = styled && style < m_kinds.size() ? m_kinds[style] : NumberKind::Number;
            const std::string text = formattedNumber(number, kind, m_date1904);
            m_cells.add(m_row, column, text, kind == NumberKind::Number && std::isfinite(number));
        }
    }

    XmlPull& m_xml;
    const qint64 m_partSize;
    const size_t m_sstCount;
    const std::vector<NumberKind>& m_kinds;
    const bool m_date1904;
    Cells m_cells;
    uint32_t m_row = 0;
    uint32_t m_nextRow = 0;
    uint32_t m_nextColumn = 0;
};

// The sheet part read with `Cells`.
template <class Cells>
ResultSet readSheet(QuaZip& zip, const QString& part, const std::shared_ptr<const SharedTexts>& sst,
                    const std::vector<NumberKind>& kinds, bool date1904)
{
    ResultSet rows;
    readPartWith(zip, part, [&](QuaZipFile& file) {
        XmlPull xml(file, part, kMaxSheetXmlBytes);
        rows = SheetReader<Cells>(xml, file.usize(), sst, kinds, date1904).read();
    });
    return rows;
}

} // namespace

ResultSet readXlsx(const QByteArray& bytes, const QString& sheet)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readXlsx(buffer, sheet);
}

ResultSet readXlsx(QIODevice& device, const QString& sheet)
{
    if (device.size() > kMaxFileBytes)
        throw EngineError(QStringLiteral("工作簿文件过大：超过 %1 MB").arg(kMaxFileBytes >> 20));
    QuaZip zip(&device);
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
    if (sheetPart.isEmpty() || !zip.setCurrentFile(sheetPart, QuaZip::csInsensitive))
        damaged(sheetPart.isEmpty() ? sheet : sheetPart, QStringLiteral("缺失：找不到工作表“%1”的内容").arg(sheet));

    // The large parts are read as they are expanded, never held whole.
    std::shared_ptr<const SharedTexts> sst = std::make_shared<const SharedTexts>();
    const QString sstPart = targetOfType(rels, u"/sharedStrings", folder);
    readPartWith(zip, sstPart, [&](QuaZipFile& file) {
        XmlPull xml(file, sstPart, kMaxSharedStringsBytes);
        sst = readSharedStrings(xml, file.usize());
    });
    std::vector<NumberKind> kinds;
    const QString stylesPart = targetOfType(rels, u"/styles", folder);
    if (const auto stylesBytes = readPart(zip, stylesPart, kMaxSmallPartBytes))
        kinds = readStyles(*stylesBytes, stylesPart);

    try {
        return readSheet<OrderedSheet>(zip, sheetPart, sst, kinds, book.date1904);
    } catch (const OrderedSheet::NotInOrder&) {
        // Rare: cells out of order, or right of the title row. Read again, collecting them.
        return readSheet<SheetBuilder>(zip, sheetPart, sst, kinds, book.date1904);
    }
}

} // namespace ostrel

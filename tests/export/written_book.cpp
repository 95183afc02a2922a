#include "written_book.h"

#include <QRegularExpression>
#include <QXmlStreamReader>
#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <algorithm>
#include <cmath>

namespace ostrel::test {

namespace {

QByteArray entry(QuaZip& zip, const QString& name)
{
    if (!zip.setCurrentFile(name))
        return {};
    QuaZipFile file(&zip);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString attr(const QXmlStreamReader& xml, const char* name)
{
    return xml.attributes().value(QLatin1String(name)).toString();
}

int columnOf(const QString& address)
{
    int n = 0;
    for (QChar ch : address) {
        if (!ch.isLetter())
            break;
        n = n * 26 + (ch.unicode() - u'A' + 1);
    }
    return n;
}

int rowOf(const QString& address)
{
    return address.mid(address.indexOf(QRegularExpression(QStringLiteral("[0-9]")))).toInt();
}

struct Font {
    bool bold = false;
    double size = 0;
    QString name;
};

void readStyles(const QByteArray& data, WrittenBook& book)
{
    std::vector<Font> fonts;
    std::vector<bool> borders;
    QXmlStreamReader xml(data);
    QString section;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const auto name = xml.name();
        if (name == u"fonts" || name == u"borders" || name == u"cellXfs" || name == u"cellStyleXfs")
            section = name.toString();
        else if (section == u"fonts" && name == u"font")
            fonts.emplace_back();
        else if (section == u"fonts" && name == u"b")
            fonts.back().bold = attr(xml, "val") != u"0";
        else if (section == u"fonts" && name == u"sz")
            fonts.back().size = attr(xml, "val").toDouble();
        else if (section == u"fonts" && name == u"name")
            fonts.back().name = attr(xml, "val");
        else if (section == u"borders" && name == u"border")
            borders.push_back(true);
        else if (section == u"borders" && (name == u"left" || name == u"right" || name == u"top" || name == u"bottom"))
            borders.back() = borders.back() && attr(xml, "style") == u"thin";
        else if (section == u"cellXfs" && name == u"xf") {
            WrittenBook::CellStyle style;
            const Font font = fonts.at(attr(xml, "fontId").toUInt());
            style.bold = font.bold;
            style.size = font.size;
            style.font = font.name;
            style.bordered = borders.at(attr(xml, "borderId").toUInt());
            book.xfs.push_back(style);
        } else if (section == u"cellXfs" && name == u"alignment") {
            book.xfs.back().horizontal = attr(xml, "horizontal");
            book.xfs.back().vertical = attr(xml, "vertical");
        }
    }
}

QStringList readSharedStrings(const QByteArray& data)
{
    QStringList strings;
    QXmlStreamReader xml(data);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"si")
            strings << QString();
        else if (xml.isStartElement() && xml.name() == u"t")
            strings.back() += xml.readElementText();
    }
    return strings;
}

void readSheet(const QByteArray& data, const QStringList& shared, WrittenBook& book)
{
    QXmlStreamReader xml(data);
    QString cell;
    QString type;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const auto name = xml.name();
        if (name == u"col") {
            for (int c = attr(xml, "min").toInt(); c <= attr(xml, "max").toInt(); ++c) {
                book.widths[c] = attr(xml, "width").toDouble();
                if (!attr(xml, "style").isEmpty())
                    book.columnStyles[c] = attr(xml, "style").toInt();
            }
        } else if (name == u"c") {
            cell = attr(xml, "r");
            type = attr(xml, "t");
            book.styles[cell] = attr(xml, "s").toInt();
        } else if (name == u"t" && type == u"inlineStr") {
            book.values[cell] += xml.readElementText();
        } else if (name == u"v") {
            const QString v = xml.readElementText();
            book.values[cell] = type == u"s" ? shared.value(v.toInt()) : v;
        } else if (name == u"mergeCell") {
            book.merges << attr(xml, "ref");
        } else if (name == u"pageSetup") {
            book.orientation = attr(xml, "orientation");
        } else if (name == u"oddFooter") {
            book.footer = xml.readElementText();
        }
    }
    book.ok = !xml.hasError();
}

QString readTitle(const QByteArray& data)
{
    QXmlStreamReader xml(data);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"title")
            return xml.readElementText();
    }
    return {};
}

} // namespace

QString columnLetter(int column)
{
    QString letters;
    for (; column > 0; column = (column - 1) / 26)
        letters.prepend(QChar(u'A' + (column - 1) % 26));
    return letters;
}

QStringList cellsOf(int top, const QString& last, int bottom)
{
    QStringList cells;
    for (int r = top; r <= bottom; ++r)
        for (int c = 1; c <= columnOf(last); ++c)
            cells << columnLetter(c) + QString::number(r);
    return cells;
}

WrittenBook::CellStyle WrittenBook::style(const QString& cell) const
{
    const auto found = styles.find(cell);
    const int index = found == styles.end() ? columnStyles.value(columnOf(cell), 0) : *found;
    return index < static_cast<int>(xfs.size()) ? xfs[static_cast<size_t>(index)] : CellStyle();
}

int WrittenBook::width(int column) const
{
    // Stored with the spreadsheet's padding of five pixels over seven-pixel characters.
    const double stored = widths.value(column, -1);
    if (stored <= 0)
        return static_cast<int>(stored);
    return static_cast<int>(std::lround(stored - 5.0 / 7.0));
}

QStringList WrittenBook::row(int row, const QString& last) const
{
    QStringList texts;
    for (int c = 1; c <= columnOf(last); ++c)
        texts << value(columnLetter(c) + QString::number(row));
    return texts;
}

QStringList WrittenBook::borderedCells() const
{
    QStringList cells;
    for (auto it = styles.begin(); it != styles.end(); ++it)
        if (style(it.key()).bordered)
            cells << it.key();
    std::sort(cells.begin(), cells.end(), [](const QString& a, const QString& b) {
        return std::pair(rowOf(a), columnOf(a)) < std::pair(rowOf(b), columnOf(b));
    });
    return cells;
}

WrittenBook readBook(const QString& path)
{
    WrittenBook book;
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip))
        return book;
    readStyles(entry(zip, QStringLiteral("xl/styles.xml")), book);
    const QStringList shared = readSharedStrings(entry(zip, QStringLiteral("xl/sharedStrings.xml")));
    book.title = readTitle(entry(zip, QStringLiteral("docProps/core.xml")));
    const QByteArray sheet = entry(zip, QStringLiteral("xl/worksheets/sheet1.xml"));
    if (!sheet.isEmpty())
        readSheet(sheet, shared, book);
    return book;
}

} // namespace ostrel::test

// The XML parts of an .xlsx, mutated before they are zipped: mutations of the zip itself
// mostly end in a checksum error and never reach the XML. The input is the sheet, shared
// strings, styles and workbook parts, separated by NUL bytes.
#include "engine/engine_error.h"
#include "formats/workbook/workbook_reader.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <QBuffer>

#include <cstddef>
#include <cstdint>

namespace {

QByteArray package(const QList<QByteArray>& parts)
{
    static const QByteArray rels =
        "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" Target=\"sharedStrings.xml\"/>"
        "<Relationship Id=\"rId3\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" Target=\"styles.xml\"/>"
        "</Relationships>";
    const char* names[] = {"xl/worksheets/sheet1.xml", "xl/sharedStrings.xml", "xl/styles.xml", "xl/workbook.xml"};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    QuaZip zip(&buffer);
    zip.open(QuaZip::mdCreate);
    auto add = [&](const QString& name, const QByteArray& content) {
        QuaZipFile file(&zip);
        // Stored, not deflated: the fuzzer's time goes to the XML.
        file.open(QIODevice::WriteOnly, QuaZipNewInfo(name), nullptr, 0, 0, 0);
        file.write(content);
        file.close();
    };
    static const QByteArray workbook =
        "<?xml version=\"1.0\"?><workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
        "<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
    add(QStringLiteral("xl/_rels/workbook.xml.rels"), rels);
    for (int i = 0; i < 4 && i < parts.size(); ++i)
        add(QString::fromLatin1(names[i]), parts[i]);
    if (parts.size() < 4) // the workbook part unless the input brings its own
        add(QString::fromLatin1(names[3]), workbook);
    zip.close();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        ostrel::readXlsx(package(input.split('\0')), QStringLiteral("Sheet1"));
    } catch (const ostrel::EngineError&) {
    }
    return 0;
}

// Inputs kept from fuzzing (fuzz/regressions) and the fuzzers' seeds, read back the
// program's way: each ends as a result or an EngineError, never a crash or a hang. The .xls
// ones include files on which FreeXL itself reads or writes out of bounds or crashes; the
// program keeps FreeXL in a helper program, so they end as errors here.
#include "engine/engine_error.h"
#include "core/card_vcard.h"
#include "workbook_files.h"
#include "formats/workbook/workbook_reader.h"

#include <QDir>
#include <gtest/gtest.h>

#include <functional>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QString kSheet1 = QStringLiteral("Sheet1");

// The fuzzer's xlsx_parts inputs: sheet, shared strings, styles and workbook XML split by
// NUL bytes, zipped as that fuzzer zips them.
QByteArray partsPackage(const QByteArray& input)
{
    const QByteArray relType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const QList<QByteArray> parts = input.split('\0');
    QList<QPair<QString, QByteArray>> files = {
        {"xl/_rels/workbook.xml.rels",
         "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"" + relType + "worksheet\" Target=\"worksheets/sheet1.xml\"/>"
         "<Relationship Id=\"rId2\" Type=\"" + relType + "sharedStrings\" Target=\"sharedStrings.xml\"/>"
         "<Relationship Id=\"rId3\" Type=\"" + relType + "styles\" Target=\"styles.xml\"/></Relationships>"}};
    const char* names[] = {"xl/worksheets/sheet1.xml", "xl/sharedStrings.xml", "xl/styles.xml", "xl/workbook.xml"};
    for (int i = 0; i < 4 && i < parts.size(); ++i)
        files.append(qMakePair(QString::fromLatin1(names[i]), parts[i]));
    if (parts.size() < 4)
        files.append(qMakePair(QStringLiteral("xl/workbook.xml"),
                               QByteArray("<?xml version=\"1.0\"?><workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
                                          "<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>")));
    return zipBytes(files);
}

} // namespace

TEST(WorkbookRegressions, FuzzInputsEndAsResultOrError)
{
    const QString root = sourceTree(__FILE__) + QStringLiteral("fuzz/");
    const struct { const char* folder; std::function<void(const QString&)> read; } readers[] = {
        {"csv", [](const QString& path) { readCsv(readFile(path), kSheet1); }},
        {"xlsx", [](const QString& path) { readXlsx(readFile(path), kSheet1); }},
        {"xlsx_parts", [](const QString& path) { readXlsx(partsPackage(readFile(path)), kSheet1); }},
        {"xls", [](const QString& path) { readXls(path, kSheet1); }},
        // vCard files: every card read writes back as text that reads as the same card.
        {"vcard", [](const QString& path) {
             const VCardLists lists{{"客户"}, {"北京"}, "客户"};
             for (const CardValues& card : readVCards(readFile(path), lists).cards) {
                 QByteArray text;
                 writeVCard(card, text);
                 const std::vector<CardValues> again = readVCards(text, lists).cards;
                 EXPECT_TRUE(again.size() == 1 && again.front() == card) << text.constData();
             }
         }},
    };
    int files = 0;
    for (const auto& reader : readers) {
        for (const char* kind : {"seeds", "regressions"}) {
            const QDir dir(root + QString::fromLatin1(kind) + u'/' + QString::fromLatin1(reader.folder));
            for (const QString& name : dir.entryList(QDir::Files)) {
                SCOPED_TRACE(dir.filePath(name).toStdString());
                try {
                    reader.read(dir.filePath(name));
                } catch (const EngineError& e) {
                    EXPECT_FALSE(e.message().isEmpty());
                }
                ++files;
            }
        }
    }
    EXPECT_GE(files, 15) << "the fuzz inputs were not found under " << root.toStdString();
}

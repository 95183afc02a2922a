#pragma once
// The workbook readers: one sheet of a .xls, .xlsx or .csv file as a result set whose
// first row names the columns and whose every cell is text. They survive any bytes: a
// damaged or hostile file gives EngineError (its text names no file; the connection adds
// that), never a crash or a runaway allocation.
#include "engine/result_set.h"

#include <QByteArray>
#include <QString>

class QIODevice;

namespace ostrel {

enum class WorkbookFormat { Xls, Xlsx, Csv };

// Told by content, not by name: the compound-file signature is .xls, a zip is .xlsx,
// anything else is read as CSV text.
WorkbookFormat workbookFormat(const QByteArray& head);

// .xlsx (Excel 2007 and later, WPS): shared and inline strings, numbers, booleans, dates.
ResultSet readXlsx(const QByteArray& bytes, const QString& sheet);
// The same from an open device (a file), read as the zip needs it, never whole.
ResultSet readXlsx(QIODevice& device, const QString& sheet);
// CSV text, UTF-8 with or without BOM, else GB18030 (what a Chinese Excel saves). It
// holds one sheet, which answers to "Sheet1".
ResultSet readCsv(const QByteArray& bytes, const QString& sheet);
// .xls (Excel 97-2003) through FreeXL, which reads from a path.
ResultSet readXls(const QString& path, const QString& sheet);

// The sheet of the workbook at path, its format told by content. Throws EngineError whose
// text names the file.
ResultSet readWorkbook(const QString& path, const QString& sheet);

} // namespace ostrel

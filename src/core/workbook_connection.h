#pragma once
#include "engine/connection.h"

namespace ostrel {

// A workbook read as a database: the connection string's Data Source names the file, and
// "Select * from [Sheet1$]" gives that sheet's rows, first row the column names, every
// cell as text. Nothing else runs on it; it is never written.
class WorkbookConnection : public Connection {
public:
    bool isOpen() const override { return m_open; }
    // Checks that the file is there and readable.
    void open() override;
    void close() override { m_open = false; }
    // Reads the sheet from the file, anew each time. Throws EngineError.
    ResultSet select(const QString& sql) override;
    // Always an EngineError: a workbook is only read.
    int execute(const QString& sql) override;
    // Always an EngineError: a workbook is only read whole.
    std::unique_ptr<PreparedStatement> prepare(const QString& sql) override;

    // The file the connection string names.
    QString path() const;

private:
    bool m_open = false;
};

// The import's connection text for the workbook at path: "Provider=Microsoft.Jet.OLEDB.4.0;
// Data Source=<path>;Extended Properties=Excel 8.0;Persist Security Info=False". A path
// with ";" or a leading quote is written in double quotes, so it reads back whole.
QString workbookConnectionString(const QString& path);

// The sheet a statement reads: "Select * from [name$]" (any case and spacing, with or
// without a closing ";"). Throws EngineError for any other statement.
QString workbookSheetOf(const QString& sql);

} // namespace ostrel

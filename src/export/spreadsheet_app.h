#pragma once
#include "report_folder.h"

#include <QString>

#include <functional>
#include <memory>
#include <string_view>

namespace ostrel {

// Codes of the spreadsheet members, with the values their automation interface gives them.
namespace xl {
inline constexpr int Center = -4108;
inline constexpr int Left = -4131;
inline constexpr int Right = -4152;
inline constexpr int Top = -4160;
inline constexpr int Bottom = -4107;
inline constexpr int Continuous = 1; // thin line on every edge of every cell
inline constexpr int LineStyleNone = -4142;
inline constexpr int Portrait = 1;
inline constexpr int Landscape = 2;
inline constexpr int MaxRows = 1048576;
inline constexpr int MaxColumns = 16384;
} // namespace xl

// Shown in the standard error box when no workbook can be made or written.
inline constexpr char kCannotCreateWorkbook[] = "无法创建Xls文件，请确认是否安装EXCEL";

class SpreadsheetApp;

// A rectangle of the first worksheet: one cell (Cells), a range by address (Range) or a
// whole column (Columns). Settings apply to every cell of it; later settings win.
class SheetRange {
public:
    // May write waiting rows to the file, and throws EngineError(kCannotCreateWorkbook)
    // when it cannot be written.
    void setValue(const QString& text) const;
    // The same from UTF-8 text, as lists keep it.
    void setValue(std::string_view utf8) const;
    // One merged cell per row of the range; the row keeps its first cell's value.
    void merge() const;
    void setHorizontalAlignment(int code) const;
    void setVerticalAlignment(int code) const;
    void setFontName(const QString& name) const;
    void setFontSize(int points) const;
    void setFontBold(bool bold) const;
    // Width of every column the range touches, in character units (0 to 255).
    void setColumnWidth(int width) const;
    void setBordersLineStyle(int style) const;

private:
    friend class Worksheet;
    SheetRange(SpreadsheetApp* app, int top, int left, int bottom, int right)
        : m_app(app), m_top(top), m_left(left), m_bottom(bottom), m_right(right)
    {
    }
    void format(int property, int value) const;

    SpreadsheetApp* m_app;
    int m_top;
    int m_left;
    int m_bottom;
    int m_right;
};

class Worksheet {
public:
    // 1-based, as the spreadsheet counts.
    SheetRange cells(int row, int column) const;
    // "A1" or "A1:D2"; letters in either case.
    SheetRange range(const QString& address) const;
    SheetRange columns(int index) const;

private:
    friend class SpreadsheetApp;
    explicit Worksheet(SpreadsheetApp* app) : m_app(app) {}
    SpreadsheetApp* m_app;
};

class PageSetup {
public:
    void setOrientation(int code);
    // Text in the header/footer codes ("&P" the page, "&N" the pages), kept as it is.
    void setCenterFooter(const QString& text);

private:
    friend class SpreadsheetApp;
    explicit PageSetup(SpreadsheetApp* app) : m_app(app) {}
    SpreadsheetApp* m_app;
};

// Stands in for the spreadsheet application the reports were once written into. Rows go
// into a new .xlsx workbook in the report folder as they are set (libxlsxwriter's constant
// memory mode, rows in order): at most a few hundred rows wait in memory, for settings
// still to come and for values set out of order; then all but the last go to the file.
// A row in the file cannot change any more (EngineError), so settings for many rows are
// made before their values. release() finishes the workbook and opens it with the
// desktop's program for the kind. Invalid arguments throw EngineError at once, as the
// application's members would.
class SpreadsheetApp {
public:
    // Throws EngineError(kCannotCreateWorkbook) when the report folder cannot take a
    // file or the workbook writer cannot be loaded.
    SpreadsheetApp();
    // Discards whatever was not released: no file is left.
    ~SpreadsheetApp();
    SpreadsheetApp(const SpreadsheetApp&) = delete;
    SpreadsheetApp& operator=(const SpreadsheetApp&) = delete;

    void setVisible(bool visible);
    // WorkBooks.Add: the new workbook becomes the active one.
    void addWorkbook();
    void setCaption(const QString& caption);
    // Only the first worksheet exists.
    Worksheet worksheets(int index);
    PageSetup activeSheetPageSetup();

    // Told after each row release() writes: the row, the last row. Returning false stops
    // the writing and nothing is kept.
    using Progress = std::function<bool(int written, int total)>;
    // Given, the workbook is closed (zipped) on a thread of its own, and this is told so
    // with a test of whether that is done; it runs the event loop till then. Returning false
    // gives the closing up and nothing is kept.
    using Closing = std::function<bool(const std::function<bool()>& closed)>;
    struct Released {
        QString path;        // the written file; empty when nothing was written
        bool opened = false; // a program took it
        bool stopped = false;
    };
    // Writes the rows still waiting, finishes the workbook (once) and, when the application
    // was made visible, opens it. Throws EngineError(kCannotCreateWorkbook) when the file
    // cannot be written; nothing is left behind then.
    Released release(const Progress& progress = {}, const Closing& closing = {});

    struct Book;

private:
    friend class SheetRange;
    friend class Worksheet;
    friend class PageSetup;
    Book& book();

    std::unique_ptr<Book> m_book;
    bool m_visible = false;
    bool m_released = false;
    QString m_caption;
};

} // namespace ostrel

#pragma once
#include "spreadsheet_app.h"
#include "xlsxwriter_library.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

#include <cstdint>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

namespace ostrel {

// The report workbook as libxlsxwriter writes it: the settings a report makes, and the
// writer that puts its rows into a file. Everything of libxlsxwriter stays behind this.

// What a setting sets.
enum FormatProperty : int { HAlign, VAlign, FontName, FontSize, Bold, Border };

// A setting on a rectangle, in the order it was made.
struct FormatOp {
    int top, left, bottom, right;
    FormatProperty property;
    int value;
    bool wholeColumns() const { return top == 1 && bottom == xl::MaxRows; }
    bool covers(int row, int column) const
    {
        return row >= top && row <= bottom && column >= left && column <= right;
    }
};

// Cells of one row shown as one.
struct Merge {
    int row, left, right;
};

// The formatting of one cell after every setting that covers it; 0 means "as the
// workbook's default".
struct Style {
    int8_t horizontal = 0; // lxw_format_alignments
    int8_t vertical = 0;
    int8_t border = 0; // lxw_format_borders
    bool bold = false;
    int16_t font = -1; // index into the recorded font names
    int16_t size = 0;

    void apply(const FormatOp& op)
    {
        switch (op.property) {
        case HAlign:
            horizontal = static_cast<int8_t>(op.value);
            break;
        case VAlign:
            vertical = static_cast<int8_t>(op.value);
            break;
        case FontName:
            font = static_cast<int16_t>(op.value);
            break;
        case FontSize:
            size = static_cast<int16_t>(op.value);
            break;
        case Bold:
            bold = op.value != 0;
            break;
        case Border:
            border = static_cast<int8_t>(op.value);
            break;
        }
    }
    uint64_t key() const
    {
        return static_cast<uint64_t>(static_cast<uint8_t>(horizontal)) | static_cast<uint64_t>(static_cast<uint8_t>(vertical)) << 8
            | static_cast<uint64_t>(static_cast<uint8_t>(border)) << 16 | static_cast<uint64_t>(bold) << 24
            | static_cast<uint64_t>(static_cast<uint16_t>(font)) << 32 | static_cast<uint64_t>(static_cast<uint16_t>(size)) << 48;
    }
    bool plain() const { return key() == Style().key(); }
};

// The settings of the sheet, kept whole: they are few.
struct SheetSettings {
    std::vector<FormatOp> formats;
    std::vector<Merge> merges; // of rows not written yet
    std::map<int, int> widths;
    std::vector<QByteArray> fontNames;
    std::optional<int> orientation;
    QString footer;
};

// Throws EngineError(kCannotCreateWorkbook).
[[noreturn]] void cannotCreateWorkbook();

// Writes rows into one new workbook as they come. The workbook is made under a hidden name
// in the report folder and given its own name only once it is whole; otherwise nothing is
// left behind.
class WorkbookWriter {
public:
    // Throws EngineError(kCannotCreateWorkbook) when the folder takes no workbook.
    WorkbookWriter(const XlsxWriterLibrary& library, const QString& folder);
    ~WorkbookWriter();
    WorkbookWriter(const WorkbookWriter&) = delete;
    WorkbookWriter& operator=(const WorkbookWriter&) = delete;

    // One row: its values by column (null where none was set), the settings that cover it
    // (indexes into `formats`, in the order they were made) and its merged areas.
    void writeRow(int row, const std::vector<const char*>& values, const std::vector<FormatOp>& formats,
                  const std::vector<size_t>& covering, const std::vector<Merge>& merges,
                  const std::vector<QByteArray>& fontNames);

    const QString& folder() const { return m_folder; }
    // Widths, page settings and the document's title: the last settings before closing.
    void prepare(const SheetSettings& settings, const QString& caption);
    // Writes the file out (zipping it: the long part of a large workbook). It touches only
    // the writer's own memory and files, so it may run on a thread of its own.
    void close();
    // The closed workbook takes the reserved name.
    void keep(const QString& path);

private:
    static void check(lxw_error error);
    lxw_format* format(const Style& style, const std::vector<QByteArray>& fontNames);

    const XlsxWriterLibrary& m_lib;
    QString m_folder;
    QByteArray m_tmp;
    QTemporaryFile m_partial;
    lxw_workbook* m_workbook = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    std::unordered_map<uint64_t, lxw_format*> m_formats;
    std::vector<size_t> m_covering;
    std::vector<lxw_format*> m_rowFormats; // by column from 1, for rows with m_covering
};

} // namespace ostrel

#pragma once
// .xls reading, split over two processes. FreeXL does not survive hostile files (fuzzing
// finds out-of-bounds reads and writes and crashes in its parser within seconds), so the
// program never calls it: readXls starts the helper program ostrel_xlsread, which reads the
// sheet with FreeXL and writes its cells to its standard output as the stream below, and
// whatever FreeXL does to the helper (a crash, a hang, memory) ends as a clear error in
// the program, with the program's state untouched.
//
// The stream: for each non-empty cell 'C', row, column (u32 each), 1 for a number or 0 for
// text (u8), the length of the text (u32) and its UTF-8 bytes; then 'E' at the end, or 'X',
// a length (u32) and the UTF-8 text of the error that ended the reading. Integers are
// little-endian.
#include "engine/result_set.h"
#include "formats/workbook/workbook_sheet.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace ostrel::workbook {

// The error of every .xls failure: "无法读取 .xls 工作簿：" and what went wrong.
[[noreturn]] void xlsError(const QString& detail);

// A workbook FreeXL cannot read in this much processor time is damaged or hostile (a
// legitimate 65,536-row sheet takes a few seconds). The program waits a little longer.
inline constexpr int kXlsCpuSeconds = 120;
inline constexpr int kXlsWaitSeconds = kXlsCpuSeconds + 10;
// FreeXL keeps the whole workbook in memory; more address space than this is no workbook
// of cards.
inline constexpr uint64_t kXlsMemoryBytes = uint64_t(4) << 30;
// The longest texts the helper sends; a longer one is not the helper's. A cell of an .xls
// holds at most 65,535 UTF-16 characters (under 200 KB as UTF-8).
inline constexpr uint32_t kXlsMaxCellBytes = 1 << 20;
inline constexpr uint32_t kXlsMaxErrorBytes = 64 * 1024;

// How readXls starts the helper. Tests and benchmarks, executables in other folders,
// name the built helper; tests also pass its test switches and a shorter wait.
struct XlsHelper {
    QString program;     // empty: ostrel_xlsread beside the running executable
    QStringList options; // placed before the file and the sheet
    int waitSeconds = kXlsWaitSeconds;
};
XlsHelper xlsHelper();
// Call before any reading starts (it is not guarded against readings in other threads).
void setXlsHelper(const XlsHelper& helper);

// ---- In the helper (and the fuzzer) ----

using XlsCell = std::function<void(uint32_t row, uint32_t column, std::string_view utf8, bool numeric)>;
// Reads the sheet's cells with FreeXL (formula cells by their last result) and hands each
// non-empty one to `cell`. Throws EngineError.
void readXlsCells(const QString& path, const QString& sheet, const XlsCell& cell);
// FreeXL in this process, for the fuzzer that looks for FreeXL's own faults.
ResultSet readXlsInProcess(const QString& path, const QString& sheet);

void appendXlsCell(std::string& out, uint32_t row, uint32_t column, std::string_view utf8, bool numeric);
void appendXlsEnd(std::string& out);
void appendXlsError(std::string& out, const QString& message);

// ---- In the program ----

// Reads the helper's stream as it arrives, handing each cell to `cell` (a sheet builder's
// add). Any bytes are safe: what is not a stream of the helper makes it broken().
class XlsStreamReader {
public:
    explicit XlsStreamReader(XlsCell cell) : m_cell(std::move(cell)) {}

    // Takes the next bytes. The sheet's limits throw EngineError here.
    void feed(std::string_view bytes);
    // The stream has ended ('E', 'X' or broken).
    bool ended() const { return m_ended; }
    bool broken() const { return m_broken; }
    bool hasError() const { return m_hasError; }
    const QString& error() const { return m_error; }

private:
    bool take32(size_t& at, uint32_t& value) const;
    // Reads one record from `at`; false when it is not complete yet.
    bool record(size_t& at);

    XlsCell m_cell;
    std::string m_pending;
    bool m_ended = false;
    bool m_broken = false;
    bool m_hasError = false;
    QString m_error;
};

} // namespace ostrel::workbook

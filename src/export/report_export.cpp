#include "report_export.h"

#include "app/app_info.h"
#include "app/dialogs.h"
#include "engine/query.h"
#include "spreadsheet_app.h"

#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <charconv>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace ostrel {

namespace {

bool everyRow = false; // testhooks::reportProgressEveryRow

// 取消 (or Escape) stops the export at any moment; the title bar offers no other way out.
class ProgressDialog : public QProgressDialog {
public:
    using QProgressDialog::QProgressDialog;

protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape)
            cancel();
        else
            QProgressDialog::keyPressEvent(event);
    }
};

// Counts the rows of one export over the window as they are written, and offers 取消.
// It appears only when the export lasts long enough to notice, and is updated a few times
// a second: each update lets the events in (the window is drawn, 取消 is heard), which
// costs more than a row.
class ExportProgress {
public:
    ExportProgress(QWidget* window, int rows) : m_dialog(window), m_rows(rows)
    {
        m_dialog.setObjectName(QStringLiteral("ExportProgress"));
        m_dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        m_dialog.setWindowTitle(QString::fromUtf8(kAppTitle));
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setCancelButtonText(QStringLiteral("取消"));
        m_dialog.setMinimumDuration(everyRow ? 0 : 500);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        m_dialog.setRange(0, std::max(rows, 1));
        m_dialog.setLabelText(label(0));
        m_dialog.setValue(0);
        m_clock.start();
    }
    ExportProgress(const ExportProgress&) = delete;
    ExportProgress& operator=(const ExportProgress&) = delete;

    // False once 取消 was pressed.
    bool written(int done)
    {
        if (!everyRow && m_clock.elapsed() < 100 && done != m_rows)
            return true;
        m_clock.restart();
        m_dialog.setLabelText(label(done));
        m_dialog.setValue(std::min(done, m_dialog.maximum()));
        return !m_dialog.wasCanceled();
    }
    // The rows are all written and the file is closed on a thread of its own: the events
    // go on till `closed` (the window is drawn, 取消 is heard). False once 取消 was pressed.
    bool closing(const std::function<bool()>& closed)
    {
        m_dialog.setLabelText(QStringLiteral("正在保存报表文件……"));
        m_dialog.setRange(0, 0); // the closing tells no progress of its own
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&m_dialog, &QProgressDialog::canceled, &loop, &QEventLoop::quit);
        tick.start(everyRow ? 0 : 20);
        do {
            // Until the dialog is up the window is not blocked: its input waits till the end.
            loop.exec(m_dialog.isVisible() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        } while (!m_dialog.wasCanceled() && !closed());
        return !m_dialog.wasCanceled();
    }

private:
    QString label(int done) const
    {
        return QStringLiteral("正在写入报表：已完成 %1 / %2 行").arg(done).arg(m_rows);
    }

    ProgressDialog m_dialog;
    int m_rows;
    QElapsedTimer m_clock;
};

// The grid follows each move of its query's current row, at a cost far above the row's
// own; while the rows are read it is told nothing, and afterwards, once, where the row
// was left (also when the reading ends in an error).
class QuietRows {
public:
    explicit QuietRows(Query& rows) : m_rows(rows), m_blocker(&rows) {}
    ~QuietRows()
    {
        m_blocker.unblock();
        emit m_rows.currentChanged(m_rows.recNo());
    }
    QuietRows(const QuietRows&) = delete;
    QuietRows& operator=(const QuietRows&) = delete;

private:
    Query& m_rows;
    QSignalBlocker m_blocker;
};

QString cell(const QString& column, int row)
{
    return column + QString::number(row);
}

// The title, the header row and the column widths, in the described order of calls.
void writeHeading(const Worksheet& sheet, const ReportLayout& layout)
{
    const QString& last = layout.lastColumn;
    const int headerRow = layout.headerRow();
    const QString sequence = QString::fromUtf8(kSequenceHeader);
    if (layout.title) {
        const QString titleRow = QStringLiteral("A1:") + cell(last, 1);
        const QString titleAndHeader = QStringLiteral("A1:") + cell(last, 2);
        sheet.range(titleRow).merge();
        sheet.cells(1, 1).setValue(*layout.title);
        sheet.range(titleAndHeader).setHorizontalAlignment(xl::Center);
        sheet.range(titleAndHeader).setVerticalAlignment(xl::Center);
        sheet.range(titleRow).setFontName(QStringLiteral("宋体"));
        sheet.range(titleRow).setFontSize(16);
        sheet.range(titleAndHeader).setFontBold(true);

        sheet.cells(headerRow, 1).setValue(sequence);
        for (int i = 0; i < layout.columns.size(); ++i)
            sheet.cells(headerRow, i + 2).setValue(layout.columns[i].header);
        sheet.columns(1).setColumnWidth(kSequenceWidth);
        for (int i = 0; i < layout.columns.size(); ++i)
            sheet.columns(i + 2).setColumnWidth(layout.columns[i].width);
        return;
    }
    // Without a title the header is made bold cell by cell and column A is centred as a
    // whole; the header row is centred after that.
    sheet.cells(1, 1).setValue(sequence);
    sheet.cells(1, 1).setFontBold(true);
    sheet.columns(1).setColumnWidth(kSequenceWidth);
    sheet.columns(1).setHorizontalAlignment(xl::Center);
    sheet.columns(1).setVerticalAlignment(xl::Center);
    for (int i = 0; i < layout.columns.size(); ++i) {
        sheet.cells(1, i + 2).setValue(layout.columns[i].header);
        sheet.cells(1, i + 2).setFontBold(true);
        sheet.columns(i + 2).setColumnWidth(layout.columns[i].width);
    }
    const QString headerRange = QStringLiteral("A1:") + cell(last, 1);
    sheet.range(headerRange).setHorizontalAlignment(xl::Center);
    sheet.range(headerRange).setVerticalAlignment(xl::Center);
}

// A sheet row for each list row, with its number first.
// False when 取消 stopped it.
bool writeRows(const Worksheet& sheet, const ReportLayout& layout, Query& rows, ExportProgress& progress)
{
    const QuietRows quiet(rows);
    // The list's columns by name, found at the first row (an unknown name is the list's
    // error); each cell is read where the list keeps it and copied at once.
    std::vector<int> columns;
    char number[16];
    for (rows.first(); !rows.eof(); rows.next()) {
        const int sheetRow = layout.firstDataRow() + rows.recNo() - 1;
        const auto end = std::to_chars(number, number + sizeof number, rows.recNo()).ptr;
        sheet.cells(sheetRow, 1).setValue(std::string_view(number, static_cast<size_t>(end - number)));
        for (int i = 0; i < layout.columns.size(); ++i) {
            if (columns.size() <= static_cast<size_t>(i)) {
                rows.text(layout.columns[i].field);
                columns.push_back(rows.rows().columnIndex(layout.columns[i].field));
            }
            sheet.cells(sheetRow, i + 2).setValue(rows.rows().raw(rows.recNo() - 1, columns[static_cast<size_t>(i)]));
        }
        if (!progress.written(rows.recNo()))
            return false;
    }
    return true;
}

} // namespace

void exportReport(QWidget* window, const ReportLayout& layout, Query& rows)
{
    SpreadsheetApp excel;
    excel.setVisible(true);
    excel.addWorkbook();
    excel.setCaption(layout.caption);
    const Worksheet sheet = excel.worksheets(1);
    const int rowCount = rows.recordCount();
    writeHeading(sheet, layout);
    // The table (the header and a row per list row) is formatted before its rows are
    // written, so each row goes to the file as it is read and none is held.
    const SheetRange table = sheet.range(cell(QStringLiteral("A"), layout.headerRow()) + u':'
                                         + cell(layout.lastColumn, layout.headerRow() + rowCount));
    table.setBordersLineStyle(xl::Continuous);
    table.setFontSize(9);
    if (layout.orientation)
        excel.activeSheetPageSetup().setOrientation(*layout.orientation);
    excel.activeSheetPageSetup().setCenterFooter(layout.footer);

    // Gone before any box is shown: a hidden progress dialog would still pop up later over
    // the box, by its delayed-show timer, and take the input from it.
    std::optional<ExportProgress> progress(std::in_place, window, rowCount);
    SpreadsheetApp::Released released;
    if (writeRows(sheet, layout, rows, *progress))
        released = excel.release({}, [&](const std::function<bool()>& closed) { return progress->closing(closed); });
    else
        released.stopped = true; // what was written goes with `excel`
    progress.reset();
    if (released.stopped) {
        emit ReportNotices::instance().cancelled();
        return;
    }
    emit ReportNotices::instance().written(released.path);
    if (!released.opened)
        showInfo(window, QStringLiteral("报表已保存到 %1，但没有找到可以打开它的程序。")
                             .arg(QDir::toNativeSeparators(released.path)));
}

namespace testhooks {

void reportProgressEveryRow(bool on)
{
    everyRow = on;
}

} // namespace testhooks

ReportNotices& ReportNotices::instance()
{
    static ReportNotices notices;
    return notices;
}

} // namespace ostrel

#include "report_export.h"

#include "app/app_info.h"
#include "app/dialogs.h"
#include "db/query.h"
#include "spreadsheet_app.h"

#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QSignalBlocker>

#include <optional>

namespace ostrel {

namespace {

// The export runs to its end once begun (it writes nothing to the database and the file
// appears only when whole), so its progress offers no cancel and cannot be dismissed.
class ProgressDialog : public QProgressDialog {
public:
    using QProgressDialog::QProgressDialog;

protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() != Qt::Key_Escape)
            QProgressDialog::keyPressEvent(event);
    }
};

// Counts the rows of one export over the window: read from the list, then written to the
// file. It appears only when the export lasts long enough to notice, and is updated a few
// times a second: each update lets the dialog handle its events, which costs more than
// a row.
class ExportProgress {
public:
    ExportProgress(QWidget* window, int rows) : m_dialog(window), m_rows(rows)
    {
        m_dialog.setObjectName(QStringLiteral("ExportProgress"));
        m_dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        m_dialog.setWindowTitle(QString::fromUtf8(kAppTitle));
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setCancelButton(nullptr);
        m_dialog.setMinimumDuration(500);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        m_dialog.setRange(0, 2 * kHalf);
        m_dialog.setLabelText(label(kReading, 0, rows));
        m_dialog.setValue(0);
        m_clock.start();
    }
    ExportProgress(const ExportProgress&) = delete;
    ExportProgress& operator=(const ExportProgress&) = delete;

    void read(int done) { step(kReading, done, m_rows, 0); }
    void written(int done, int total) { step(kWriting, done, total, kHalf); }

private:
    static constexpr int kHalf = 1000;
    static constexpr char kReading[] = "正在读取列表：已完成 %1 / %2 行";
    static constexpr char kWriting[] = "正在写入报表：已完成 %1 / %2 行";

    static QString label(const char* text, int done, int total)
    {
        return QString::fromUtf8(text).arg(done).arg(total);
    }

    void step(const char* text, int done, int total, int offset)
    {
        if (m_clock.elapsed() < 100 && done != total)
            return;
        m_clock.restart();
        m_dialog.setLabelText(label(text, done, total));
        m_dialog.setValue(offset + (total > 0 ? static_cast<int>(static_cast<qint64>(done) * kHalf / total) : kHalf));
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

} // namespace

void exportReport(QWidget* window, const ReportLayout& layout, Query& rows)
{
    SpreadsheetApp excel;
    excel.setVisible(true);
    excel.addWorkbook();
    excel.setCaption(layout.caption);
    const Worksheet sheet = excel.worksheets(1);
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
    } else {
        // Without a title the header is made bold cell by cell and column A is centred
        // as a whole; the header row is centred after the rows.
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
    }

    // Gone before any box is shown: a hidden progress dialog would still pop up later over
    // the box, by its delayed-show timer, and take the input from it.
    std::optional<ExportProgress> progress(std::in_place, window, rows.recordCount());
    int sheetRow = layout.firstDataRow();
    {
        const QuietRows quiet(rows);
        for (rows.first(); !rows.eof(); rows.next()) {
            sheet.cells(sheetRow, 1).setValue(QString::number(sheetRow - headerRow));
            for (int i = 0; i < layout.columns.size(); ++i)
                sheet.cells(sheetRow, i + 2).setValue(rows.text(layout.columns[i].field));
            ++sheetRow;
            progress->read(sheetRow - layout.firstDataRow());
        }
    }
    const int lastRow = sheetRow - 1;

    if (!layout.title) {
        const QString headerRange = QStringLiteral("A1:") + cell(last, 1);
        sheet.range(headerRange).setHorizontalAlignment(xl::Center);
        sheet.range(headerRange).setVerticalAlignment(xl::Center);
    }
    const SheetRange table = sheet.range(cell(QStringLiteral("A"), headerRow) + u':' + cell(last, lastRow));
    table.setBordersLineStyle(xl::Continuous);
    table.setFontSize(9);
    if (layout.orientation)
        excel.activeSheetPageSetup().setOrientation(*layout.orientation);
    excel.activeSheetPageSetup().setCenterFooter(layout.footer);

    const SpreadsheetApp::Released released = excel.release([&](int done, int total) {
        progress->written(done, total);
        return true;
    });
    progress.reset();
    emit ReportNotices::instance().written(released.path);
    if (!released.opened)
        showInfo(window, QStringLiteral("报表已保存到 %1，但没有找到可以打开它的程序。")
                             .arg(QDir::toNativeSeparators(released.path)));
}

ReportNotices& ReportNotices::instance()
{
    static ReportNotices notices;
    return notices;
}

} // namespace ostrel

#include "visit_stats_workbook.h"

#include "app/dialogs.h"
#include "engine/engine_error.h"
#include "engine/file_system.h"
#include "report_export.h"
#include "spreadsheet_app.h"
#include "xlsxwriter_library.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <cstdio>
#include <functional>
#include <utility>

namespace ostrel {

namespace {

const char* const kCaption = "拜访统计";

// One table of a sheet: its header texts, then per row its cells (a text or a number).
struct Cell {
    QString text;
    double number = 0;
    bool isNumber = false;
};
struct Table {
    std::vector<QString> headers;
    std::vector<std::vector<Cell>> rows;
};

Cell text(const QString& value)
{
    return {value, 0, false};
}

Cell count(int64_t value)
{
    return {{}, static_cast<double>(value), true};
}

// The workbook, made under a hidden name and given its own once whole.
class StatsBook {
public:
    explicit StatsBook(const XlsxWriterLibrary& lib) : m_lib(lib)
    {
        m_partial.setFileTemplate(QDir(reportFolder()).filePath(QStringLiteral(".ostrel-report-XXXXXX.xlsx")));
        if (!folderTakesFiles(reportFolder()) || !m_partial.open())
            cannotCreate();
        m_tmp = QFile::encodeName(reportFolder());
        lxw_workbook_options options{};
        options.tmpdir = m_tmp.data();
        m_book = m_lib.workbook_new_opt(QFile::encodeName(m_partial.fileName()).constData(), &options);
        if (!m_book)
            cannotCreate();
        m_bold = m_lib.workbook_add_format(m_book);
        m_lib.format_set_bold(m_bold);
        m_titleFormat = m_lib.workbook_add_format(m_book);
        m_lib.format_set_bold(m_titleFormat);
        m_lib.format_set_font_size(m_titleFormat, 14);
    }
    ~StatsBook()
    {
        if (m_book)
            m_lib.lxw_workbook_free(m_book);
    }
    StatsBook(const StatsBook&) = delete;
    StatsBook& operator=(const StatsBook&) = delete;

    // A sheet with the title in row 1, the headers in row 2 and the rows from row 3.
    lxw_worksheet* addSheet(const StatsSheet& sheet, const QString& title, const Table& table)
    {
        lxw_worksheet* ws = m_lib.workbook_add_worksheet(m_book, sheet.name);
        if (!ws)
            cannotCreate();
        check(m_lib.worksheet_write_string(ws, 0, 0, title.toUtf8().constData(), m_titleFormat));
        for (size_t c = 0; c < table.headers.size(); ++c) {
            check(m_lib.worksheet_write_string(ws, 1, static_cast<lxw_col_t>(c), table.headers[c].toUtf8().constData(), m_bold));
            check(m_lib.worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), c == 0 ? 22 : 14, nullptr));
        }
        for (size_t r = 0; r < table.rows.size(); ++r)
            for (size_t c = 0; c < table.rows[r].size(); ++c) {
                const Cell& cell = table.rows[r][c];
                const auto row = static_cast<lxw_row_t>(r + 2);
                const auto column = static_cast<lxw_col_t>(c);
                check(cell.isNumber ? m_lib.worksheet_write_number(ws, row, column, cell.number, nullptr)
                                    : m_lib.worksheet_write_string(ws, row, column, cell.text.toUtf8().constData(), nullptr));
            }
        return ws;
    }

    // A chart of the table's columns valueColumns (from 1, the labels in column 0) beside it.
    lxw_chart* addChart(lxw_worksheet* ws, const char* sheet, uint8_t type, const Table& table,
                        std::initializer_list<int> valueColumns, const QString& title)
    {
        lxw_chart* chart = m_lib.workbook_add_chart(m_book, type);
        if (!chart)
            cannotCreate();
        const auto last = static_cast<lxw_row_t>(table.rows.size() + 1);
        for (int column : valueColumns) {
            lxw_chart_series* series = m_lib.chart_add_series(chart, nullptr, nullptr);
            m_lib.chart_series_set_categories(series, sheet, 2, 0, last, 0);
            m_lib.chart_series_set_values(series, sheet, 2, static_cast<lxw_col_t>(column), last, static_cast<lxw_col_t>(column));
            m_lib.chart_series_set_name_range(series, sheet, 1, static_cast<lxw_col_t>(column)); // its header
            m_last = series;
        }
        m_titles.push_back(title.toUtf8());
        m_lib.chart_title_set_name(chart, m_titles.back().constData());
        check(m_lib.worksheet_insert_chart(ws, 1, static_cast<lxw_col_t>(table.headers.size() + 1), chart));
        return chart;
    }
    lxw_chart_series* lastSeries() const { return m_last; }
    const XlsxWriterLibrary& lib() const { return m_lib; }

    QString finish()
    {
        lxw_doc_properties properties{};
        QByteArray title = QByteArray(kCaption);
        properties.title = title.data();
        check(m_lib.workbook_set_properties(m_book, &properties));
        lxw_workbook* book = std::exchange(m_book, nullptr); // closing frees it, whatever the outcome
        check(m_lib.workbook_close(book));
        const QString path = reserveReportFile(reportFolder(), QString::fromUtf8(kCaption));
        if (path.isEmpty()
            || std::rename(QFile::encodeName(m_partial.fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
            if (!path.isEmpty())
                QFile::remove(path);
            cannotCreate();
        }
        m_partial.setAutoRemove(false);
        return path;
    }

private:
    [[noreturn]] static void cannotCreate() { throw EngineError(QString::fromUtf8(kCannotCreateWorkbook)); }
    static void check(lxw_error error)
    {
        if (error != LXW_NO_ERROR)
            cannotCreate();
    }

    const XlsxWriterLibrary& m_lib;
    QTemporaryFile m_partial;
    QByteArray m_tmp;
    lxw_workbook* m_book = nullptr;
    lxw_format* m_bold = nullptr;
    lxw_format* m_titleFormat = nullptr;
    lxw_chart_series* m_last = nullptr;
    // The library keeps the pointers of titles until the workbook is closed.
    std::vector<QByteArray> m_titles;
};

Table monthTable(const VisitStatistics& stats)
{
    Table table{{QStringLiteral("月份"), QStringLiteral("本期拜访"), QStringLiteral("上期拜访")}, {}};
    for (const MonthVisits& m : stats.months)
        table.rows.push_back({text(m.month), count(m.visits), count(m.previous)});
    return table;
}

Table cardTable(const VisitStatistics& stats)
{
    Table table{{QStringLiteral("姓名"), QStringLiteral("拜访次数"), QStringLiteral("单位名称")}, {}};
    for (const CardVisits& c : stats.topCards)
        table.rows.push_back({text(c.name), count(c.visits), text(c.company)});
    return table;
}

Table labelTable(const QString& header, const std::vector<LabelVisits>& labels)
{
    Table table{{header, QStringLiteral("拜访次数")}, {}};
    for (const LabelVisits& l : labels)
        table.rows.push_back({text(shownLabel(l.label)), count(l.visits)});
    return table;
}

Table unvisitedTable(const VisitStatistics& stats)
{
    Table table{{QStringLiteral("姓名"), QStringLiteral("最近拜访"), QStringLiteral("间隔天数"), QStringLiteral("单位名称")}, {}};
    for (const UnvisitedCard& u : stats.unvisited)
        table.rows.push_back({text(u.name), text(u.lastVisit), count(u.days), text(u.company)});
    return table;
}

} // namespace

QString writeVisitStatsWorkbook(const VisitStatistics& stats)
{
    const XlsxWriterLibrary* lib = xlsxWriterLibrary();
    if (!lib)
        throw EngineError(QString::fromUtf8(kCannotCreateWorkbook));
    StatsBook book(*lib);
    const QString range = QStringLiteral("（%1 至 %2）")
                              .arg(stats.period.from.toString(QStringLiteral("yyyy-MM-dd")),
                                   stats.period.to.toString(QStringLiteral("yyyy-MM-dd")));
    const Table tables[] = {monthTable(stats), cardTable(stats),
                            labelTable(QStringLiteral("分类"), stats.categories),
                            labelTable(QStringLiteral("省份"), stats.provinces), unvisitedTable(stats)};
    for (size_t i = 0; i < std::size(kStatsSheets); ++i) {
        const StatsSheet& sheet = kStatsSheets[i];
        const Table& table = tables[i];
        QString title = QString::fromUtf8(sheet.title) + range;
        if (i == 4 && stats.unvisitedCount > static_cast<int64_t>(stats.unvisited.size()))
            title += QStringLiteral("，共 %1 张，列出间隔最久的 %2 张").arg(stats.unvisitedCount).arg(stats.unvisited.size());
        lxw_worksheet* ws = book.addSheet(sheet, title, table);
        // No chart of an empty table (it would be empty axes), nor of the unvisited list.
        if (table.rows.empty() || i == 4)
            continue;
        const XlsxWriterLibrary& l = book.lib();
        const QString chartTitle = QString::fromUtf8(sheet.title);
        if (i == 0) {
            lxw_chart* chart = book.addChart(ws, sheet.name, LXW_CHART_COLUMN, table, {1, 2}, chartTitle);
            // The previous period as an outline, as the window draws it.
            lxw_chart_fill none{};
            none.none = LXW_TRUE;
            lxw_chart_line line{};
            line.color = 0x9E9E9E;
            line.dash_type = LXW_CHART_LINE_DASH_DASH;
            l.chart_series_set_fill(book.lastSeries(), &none);
            l.chart_series_set_line(book.lastSeries(), &line);
            l.chart_legend_set_position(chart, LXW_CHART_LEGEND_BOTTOM);
        } else if (i == 2) {
            lxw_chart* chart = book.addChart(ws, sheet.name, LXW_CHART_DOUGHNUT, table, {1}, chartTitle);
            l.chart_set_hole_size(chart, 50);
            l.chart_legend_set_position(chart, LXW_CHART_LEGEND_RIGHT);
        } else {
            lxw_chart* chart = book.addChart(ws, sheet.name, LXW_CHART_BAR, table, {1}, chartTitle);
            l.chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
        }
    }
    return book.finish();
}

void exportVisitStats(QWidget* window, const VisitStatistics& stats)
{
    const QString path = writeVisitStatsWorkbook(stats);
    emit ReportNotices::instance().written(path);
    if (!openFile(path))
        showInfo(window, QStringLiteral("报表已保存到 %1，但没有找到可以打开它的程序。").arg(QDir::toNativeSeparators(path)));
}

} // namespace ostrel

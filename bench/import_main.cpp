// Times the card import on a database that already holds 100,000 cards, or the count
// given: 10,000 and 100,000 rows from .xlsx, 60,000 rows from .xls (the most an .xls sheet
// of cards holds comfortably). Each workload runs on a fresh copy of the generated
// database, through the real window: 打开 (read the workbook into the grid), then 导入.
// Beside an .xlsx import, the sqlcipher tool runs the import's statements for the same rows
// on another fresh copy. The workbook is written, and the tool run, by a child process of
// the benchmark, so that the program's peak memory is the import's flow alone (start_mb is
// the main window's share before it, before_refresh_peak_mb the peak until the main list
// is rebuilt, index_wait_ms the wait for the quick-find index that takes in the new cards
// after it); OSTREL_SCREENSHOTS=folder saves pictures of the grid.
//
//   build/bench/ostrel_bench_import [--cards N] [--only xlsx10000|xlsx100000|xls60000]
#include "app/application.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "cards/import_window.h"
#include "cards/main_window.h"
#include "core/card_fields.h"
#include "engine/engine_error.h"
#include "generator.h"
#include "measure.h"
#include "engine/query.h"
#include "ui/common/db_grid.h"
#include "reference_statements.h"
#include "workbook_files.h"
#include "formats/workbook/workbook_xls.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <malloc.h>
#include <algorithm>
#include <iterator>
#include <ctime>
#include <cstdio>
#include <functional>
#include <random>
#include <utility>

namespace ostrel::bench {

namespace {

struct Sheet {
    const char* name;
    bool xls;
    int rows;
};

// The whole flow's peak at 100,000 rows, the main window's list included.
constexpr int kPeakTargetMb = 120;

constexpr Sheet kWorkloads[] = {
    {"xlsx10000", false, 10000},
    {"xlsx100000", false, 100000},
    {"xls60000", true, 60000},
};

// The cell's text as the import reads it: whole numbers without a decimal point.
QString cellText(const test::XlsxCell& cell)
{
    return cell.kind == test::XlsxCell::Number ? QString::number(cell.number, 'f', 0) : cell.text;
}

// Rows as people fill them: Chinese names, telephone and QQ numbers stored as numbers, in
// the card fields' order under their titles. Returns the rows' texts, each padded to the 24
// fields.
QList<QStringList> writeXlsxRows(const QString& path, int rows)
{
    std::mt19937 random(static_cast<unsigned>(rows));
    const QString surnames = QStringLiteral("王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗");
    const QString given = QStringLiteral("伟芳娜敏静丽强磊军洋勇艳杰娟涛明超秀霞平刚桂英华");
    const QStringList types = {"客户", "同事", "朋友", "同学", "家人"};
    auto pick = [&](const QString& from) { return from[static_cast<qsizetype>(random() % from.size())]; };
    test::XlsxRows sheet;
    sheet.reserve(static_cast<size_t>(rows) + 1);
    sheet.emplace_back();
    for (const CardField& field : cardFields())
        sheet.back().push_back(field.importTitleText());
    for (int r = 1; r <= rows; ++r) {
        // Three characters, the last from a wide range: most rows are new cards, the
        // costlier case (a duplicate is only looked up).
        const QString name = QString(pick(surnames)) + pick(given) + QChar(static_cast<char16_t>(0x5F00 + random() % 2000));
        std::vector<test::XlsxCell> cells = {
            types[static_cast<qsizetype>(random() % types.size())], name, random() % 2 ? "男" : "女",
            QStringLiteral("0%1-%2").arg(10 + random() % 990).arg(random() % 100000000, 8, 10, QChar(u'0')),
            13000000000.0 + static_cast<double>(random() % 1000000000), QStringLiteral("u%1@example.com").arg(r),
            static_cast<double>(10000 + random() % 999990000), {}, {}, QStringLiteral("导入测试第 %1 行").arg(r),
            "浙江", "杭州", "杭州恒信科技有限公司", "销售部", "经理", QStringLiteral("文三路%1号").arg(1 + random() % 999),
            QStringLiteral("0571-8888%1").arg(random() % 10000, 4, 10, QChar(u'0')), {}, 310000.0, "www.example.com"};
        sheet.push_back(std::move(cells));
    }
    test::writeXlsx(path, sheet);
    QList<QStringList> texts;
    for (size_t r = 1; r < sheet.size(); ++r) {
        QStringList values;
        for (const test::XlsxCell& cell : sheet[r])
            values << cellText(cell);
        while (values.size() < kCardFieldCount)
            values << QString();
        texts << values;
    }
    return texts;
}

void writeXlsRows(const QString& path, int rows)
{
    // xlwt (Debian's python3-xlwt) writes .xls; the fixture script knows the titles.
    const int rc = QProcess::execute(QStringLiteral("/usr/bin/python3"),
                                     {QStringLiteral(OSTREL_SOURCE_DIR "/tests/fixtures/make_xls.py"), QStringLiteral("bench"),
                                      QString::number(rows), path});
    if (rc != 0 || !QFile::exists(path))
        throw EngineError(QStringLiteral("cannot write the .xls workbook (python3-xlwt installed?)"));
}

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Wall-clock milliseconds of the step; its CPU milliseconds (less sensitive to a busy
// machine) go to *cpu.
double millisecondsOf(const std::function<void()>& step, double* cpu = nullptr)
{
    const double cpuStart = cpuMs();
    const double ms = elapsedMs(step);
    if (cpu)
        *cpu = cpuMs() - cpuStart;
    return ms;
}

// With OSTREL_SCREENSHOTS set to a folder: the grid as opened (scrolled to the bottom), in
// the middle and at the top, for a look at the rows read on the way.
void savePreview(TfrmInData& window, const char* workload)
{
    const QString dir = qEnvironmentVariable("OSTREL_SCREENSHOTS");
    if (dir.isEmpty())
        return;
    QTableView& grid = *window.DBGrid1;
    const QModelIndex middle = grid.model()->index(grid.model()->rowCount() / 2, 0);
    const std::pair<const char*, std::function<void()>> places[] = {
        {"bottom", [] {}}, {"middle", [&] { grid.scrollTo(middle, QAbstractItemView::PositionAtTop); }},
        {"top", [&] { grid.scrollToTop(); }}};
    for (const auto& [name, scroll] : places) {
        scroll();
        window.grab().save(QStringLiteral("%1/import_%2_%3.png").arg(dir, QLatin1String(workload), QLatin1String(name)));
    }
}

QString lastShown()
{
    const QStringList texts = testhooks::shownTexts();
    return texts.isEmpty() ? QString() : texts.last();
}

// The child's work, so that the program's peak is not raised by it: writes the workbook of
// the workload named and, beside an .xlsx, times the tool on a fresh copy of the database
// (its run changes it). Prints "write_ms tool_ms tool_peak_mb".
int prepare(int cards, const QString& workload, const QString& book)
{
    const Sheet* found = std::find_if(std::begin(kWorkloads), std::end(kWorkloads),
                                      [&](const Sheet& s) { return workload == QLatin1String(s.name); });
    if (found == std::end(kWorkloads))
        throw EngineError(QStringLiteral("no workload %1").arg(workload));
    const Sheet& w = *found;
    QList<QStringList> rows;
    const double writeMs = millisecondsOf([&] {
        if (w.xls)
            writeXlsRows(book, w.rows);
        else
            rows = writeXlsxRows(book, w.rows);
    });
    ToolFigure tool;
    if (!w.xls) {
        QTemporaryDir toolDir;
        tool = toolFigure(makeProgramFolder(toolDir, Workload::ofCards(cards)) + QStringLiteral("Data/db.edb"),
                          importStatements(std::exchange(rows, {}), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))),
                          1);
    }
    std::printf("%f %f %f\n", writeMs, tool.ms, tool.peakMb);
    return 0;
}

int run(int cards, const QString& only)
{
    TfrmDM dm;
    for (const Sheet& w : kWorkloads) {
        if (!only.isEmpty() && only != QLatin1String(w.name))
            continue;
        QTemporaryDir dir;
        QString programDir;
        const double copyMs = millisecondsOf([&] { programDir = makeProgramFolder(dir, Workload::ofCards(cards)); });
        const QString book = programDir + (w.xls ? QStringLiteral("cards.xls") : QStringLiteral("cards.xlsx"));
        const QList<QByteArray> prepared = runChild({QCoreApplication::applicationFilePath(), QStringLiteral("--cards"),
                                                     QString::number(cards), QStringLiteral("--prepare"),
                                                     QLatin1String(w.name), QStringLiteral("--book"), book})
                                               .output.trimmed()
                                               .split(' ');
        if (prepared.size() != 3)
            throw EngineError(QStringLiteral("the workbook of %1 was not written").arg(QLatin1String(w.name)));
        const double writeMs = prepared[0].toDouble();
        ToolFigure tool;
        tool.ms = prepared[1].toDouble();
        tool.peakMb = prepared[2].toDouble();

        setProgramDir(programDir);
        testhooks::clear();
        auto main = std::make_unique<TfrmMain>(dm);
        runGuarded([&] { main->FormCreate(); });
        auto* window = new TfrmInData(dm, main.get());
        // Connected before the main window's own refresh, so it tells the peak of the import
        // alone (the sheet and the rows written), before the list of all cards is rebuilt.
        double rowsPeakMb = 0;
        QObject::connect(window, &TfrmInData::cardsChanged, [&] { rowsPeakMb = statusMb("VmHWM:"); });
        main->follow(*window);
        window->show();
        QCoreApplication::processEvents();
        // The main window's own work at start done, so that none of it lands in the import's figures.
        main->waitForQuickFindIndex();
        QCoreApplication::processEvents();

        // One run each, through the window: 打开 reads the workbook into the grid, 导入 adds
        // the rows; their sum is what the user waits for. The peak is the process's over
        // that whole flow, the main window's list included; the workbook was written by
        // another process, so none of its writing counts.
        malloc_trim(0);
        resetPeak();
        const double startMb = statusMb("VmRSS:");
        testhooks::queueFile(book);
        double openCpu = 0;
        double importCpu = 0;
        const double openMs = millisecondsOf(
            [&] {
                window->Button1Click();
                // The grid drawn, at the top and at the bottom of the sheet.
                window->DBGrid1->repaint();
                window->DBGrid1->scrollToBottom();
                window->DBGrid1->repaint();
            },
            &openCpu);
        const int shownRows = window->ADOQuery1->isActive() ? window->ADOQuery1->recordCount() : -1;
        const double openPeakMb = statusMb("VmHWM:");
        savePreview(*window, w.name);
        const double importMs = millisecondsOf([&] { window->BitBtn1Click(); }, &importCpu);
        const double totalMs = openMs + importMs;
        // The list is whole once quick find has taken in the new cards, which a large import
        // has the main window read afresh on its worker: that read's memory is the flow's too.
        const double indexMs = millisecondsOf([&] { main->waitForQuickFindIndex(); });
        const double peakMb = statusMb("VmHWM:");
        std::printf("cards=%d workload=%s rows=%d shown=%d workbook_mb=%.1f open_ms=%.0f import_ms=%.0f total_ms=%.0f "
                    "open_cpu_ms=%.0f import_cpu_ms=%.0f index_wait_ms=%.0f copy_ms=%.0f write_workbook_ms=%.0f%s\n",
                    cards, w.name, w.rows, shownRows, static_cast<double>(QFileInfo(book).size()) / (1 << 20), openMs, importMs,
                    totalMs, openCpu, importCpu, indexMs, copyMs, writeMs, w.xls ? "" : besideToolMs(totalMs, tool).c_str());
        std::printf("cards=%d workload=%s rows=%d import_peak_mb=%.0f target_mb=%d start_mb=%.0f open_peak_mb=%.0f "
                    "before_refresh_peak_mb=%.0f%s\n",
                    cards, w.name, w.rows, peakMb, kPeakTargetMb, startMb, openPeakMb, rowsPeakMb,
                    w.xls ? "" : besideToolMb(peakMb, tool).c_str());
        std::printf("cards=%d workload=%s result=\"%s\"\n", cards, w.name,
                    lastShown().replace(u'\n', u' ').toUtf8().constData());
        std::fflush(stdout);
        for (const testhooks::Shown& s : testhooks::shown())
            if (s.kind == testhooks::Shown::Error)
                std::fprintf(stderr, "error shown: %s\n", s.text.toUtf8().constData());
        delete window;
        main.reset();
        dm.ADOConnection1.close();
        setProgramDir({});
    }
    return 0;
}

} // namespace

} // namespace ostrel::bench

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int cards = 100000;
    QString only;
    QString prepare; // the child's workload
    QString book;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray option = argv[i];
        if (option == "--cards")
            cards = std::atoi(argv[i + 1]);
        else if (option == "--only")
            only = QString::fromLocal8Bit(argv[i + 1]);
        else if (option == "--prepare")
            prepare = QString::fromLocal8Bit(argv[i + 1]);
        else if (option == "--book")
            book = QString::fromLocal8Bit(argv[i + 1]);
    }
    ostrel::Application app(argc, argv);
    ostrel::testhooks::enable();
    ostrel::workbook::setXlsHelper({QStringLiteral(OSTREL_XLS_HELPER), {}, ostrel::workbook::kXlsWaitSeconds});
    try {
        return prepare.isEmpty() ? ostrel::bench::run(cards, only) : ostrel::bench::prepare(cards, prepare, book);
    } catch (const ostrel::EngineError& e) {
        std::fprintf(stderr, "%s\n", e.message().toUtf8().constData());
        return 1;
    }
}

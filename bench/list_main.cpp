// The card list at 10,000 and 100,000 cards, or the count given: start to the main window,
// refresh, peak memory after ten refreshes, name search and title-click sort, each beside
// the sqlcipher tool running the same statements on the same file. One line per figure,
// with the workload.
#include "app/data_module.h"
#include "app/dialogs.h"
#include "cards/main_window.h"
#include "engine/query.h"
#include "engine/result_set.h"
#include "generator.h"
#include "measure.h"
#include "reference_statements.h"
#include "window_bench.h"
#include "ui/common/db_grid.h"
#include "ui/common/gbk_edit.h"

#include <QLineEdit>

#include <QCheckBox>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace ostrel::bench {

namespace {

constexpr int kStarts = 5;
constexpr int kRefreshes = 10;
constexpr int kRuns = 5;

// Starts of the program, each in a process of its own timed from its creation.
void printStart(int cards, const QString& programDir, const ListColumns& columns)
{
    std::vector<double> ms, rss, peak;
    for (int i = 0; i < kStarts; ++i) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        const ChildRun run = runChild({QStringLiteral(OSTREL_BENCH_START), programDir,
                                       QString::number(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count())});
        const QList<QByteArray> figures = run.output.trimmed().split(' ');
        ms.push_back(figures.value(0).toDouble());
        rss.push_back(figures.value(1).toDouble());
        peak.push_back(figures.value(2).toDouble());
    }
    const double startMs = median(ms);
    const ToolFigure tool = toolFigure(programDir + QStringLiteral("Data/db.edb"), startStatements(columns, QDate::currentDate()));
    std::printf("cards=%d start_ms=%.0f best_ms=%.0f target_ms=%d rss_mb=%.0f peak_mb=%.0f%s\n", cards, startMs,
                *std::min_element(ms.begin(), ms.end()), cards > 100000 ? 800 : 300, median(rss), median(peak),
                besideToolMs(startMs, tool).c_str());
}

void run(int cards)
{
    QTemporaryDir folder;
    const Workload workload = Workload::ofCards(cards);
    const QString programDir = makeProgramFolder(folder, workload);
    const QString database = programDir + QStringLiteral("Data/db.edb");
    const ListColumns columns = listColumns(database);
    std::printf("cards=%d visits=%d anniversaries=%d columns=%d\n", cards, workload.visits, workload.anniversaries,
                columns.count);
    printStart(cards, programDir, columns);
    std::fflush(stdout);

    setProgramDir(programDir);
    resetPeak();
    {
        TfrmDM dm;
        TfrmMain window(dm);
        window.resize(1280, 800);
        window.FormCreate();
        window.show();
        // A moment after the start, as a user finds it: the quick-find index is in.
        const double indexMs = elapsedMs([&] { window.waitForQuickFindIndex(); });
        std::printf("cards=%d index_wait_ms=%.0f index=%s rss_mb=%.0f\n", cards, indexMs, window.hasQuickFindIndex() ? "yes" : "no",
                    statusMb("VmRSS:"));
        const double refresh = medianMs(kRefreshes, [&] { window.myRef(); });
        const ToolFigure toolRefresh = toolFigure(database, refreshStatements(columns));
        std::printf("cards=%d myRef_ms=%.0f target_ms=%d listed=%d%s\n", cards, refresh, cards > 100000 ? 250 : 30,
                    window.ADOQuery1->recordCount(), besideToolMs(refresh, toolRefresh).c_str());
        const double peak = statusMb("VmHWM:");
        std::printf("cards=%d refreshes=%d rss_mb=%.0f peak_mb=%.0f%s\n", cards, kRefreshes, statusMb("VmRSS:"), peak,
                    besideToolMb(peak, toolRefresh).c_str());
        std::fflush(stdout);

        window.Edit3->setText(QStringLiteral("王"));
        const double search = medianMs(kRuns, [&] { window.BitBtn1Click(); });
        std::printf("cards=%d name_search_ms=%.0f found=%d%s\n", cards, search, window.ADOQuery1->recordCount(),
                    besideToolMs(search, toolFigure(database, refreshStatements(columns, nameFilter(QStringLiteral("王"))))).c_str());
        std::fflush(stdout);

        window.CheckBox3->setChecked(false);
        window.BitBtn1Click();
        const int nameColumn = window.ADOQuery1->rows().columnIndex(QStringLiteral("姓名"));
        const double sort = medianMs(kRuns, [&] { window.DBGrid1->titleClick(nameColumn); });
        std::printf("cards=%d sort_ms=%.0f%s\n", cards, sort, besideToolMs(sort, toolFigure(database, nameSortStatements(columns))).c_str());
        for (const char* typed : {"z", "zh", "zhan"}) {
            window.QuickFindEdit->setText(QString::fromLatin1(typed));
            window.quickFind();
        }
        std::printf("cards=%d after_start_refreshes_search_sort_quickfind rss_mb=%.0f peak_mb=%.0f target_peak_mb=%d\n", cards,
                    statusMb("VmRSS:"), statusMb("VmHWM:"), cards > 100000 ? 150 : 70);
        std::fflush(stdout);
    }
    setProgramDir({});
}

} // namespace

} // namespace ostrel::bench

int main(int argc, char** argv)
{
    return ostrel::bench::runWindowBench(argc, argv, ostrel::bench::run);
}

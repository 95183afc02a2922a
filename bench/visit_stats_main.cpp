// The visit statistics window on 1,000,000 cards with 3,000,000 visits (or the card count given): the
// window opened over the main window's whole list with every chart counted and painted, and
// the counting alone, each beside its target, with the memory the window added.
#include "app/data_module.h"
#include "cards/main_window.h"
#include "core/open_database.h"
#include "core/visit_stats.h"
#include "core/visit_summary.h"
#include "engine/query.h"
#include "engine/result_set.h"
#include "history/visit_stats_window.h"
#include "measure.h"
#include "window_bench.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace ostrel::bench {

namespace {

constexpr int kRuns = 5;
constexpr double kTargetMs = 1000;
constexpr double kTargetMb = 100;

std::string load()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "?";
    return file.readAll().split(' ').value(0).toStdString();
}

// The CPU time of this thread, which counts and paints (the main window's own threads, such as
// quick find's index, are left out): on a machine others share, the wall time says how long a
// user waited, the CPU time how much work it was.
double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Runs step kRuns times, keeping the wall and CPU time of each.
template <typename F>
void timeRuns(std::vector<double>& wall, std::vector<double>& cpu, F&& step)
{
    for (int i = 0; i < kRuns; ++i) {
        const double started = cpuMs();
        wall.push_back(elapsedMs(step));
        cpu.push_back(cpuMs() - started);
    }
}

void printFigure(int cards, const char* name, std::vector<double> ms, std::vector<double> cpu)
{
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("cards=%d visits=%d %s_best_ms=%.0f %s_median_ms=%.0f target_ms=%.0f cpu_best_ms=%.0f cpu_median_ms=%.0f load=%s\n", cards,
                cards * 3, name, ms.front(), name, median(ms), kTargetMs, cpu.front(), median(cpu), load().c_str());
}

void run(int cards)
{
    QTemporaryDir folder;
    const Workload workload = Workload::ofCards(cards);
    const QString programDir = makeProgramFolder(folder, workload);
    setProgramDir(programDir);
    {
        TfrmDM dm;
        dm.ADOConnection1.setConnectionString(cardConnectionString(programDir));
        // The indexes and kept tables the schema upgrade adds, once per file (the rest of the
        // upgrade, the search keys of a million cards, is another benchmark's). Without
        // OSTREL_BENCH_SUMMARIES=0 the tables are made; with it the counting reads every visit.
        const bool summaries = qgetenv("OSTREL_BENCH_SUMMARIES") != "0";
        const double indexMs = elapsedMs([&] {
            for (const auto& index : visitStatsIndexes())
                dm.ADOConnection1.execute(index.second);
        });
        const double summaryMs = elapsedMs([&] {
            if (!summaries)
                return;
            dm.ADOConnection1.beginTransaction();
            addFileVisitSummaries(dm.ADOConnection1);
            dm.ADOConnection1.commit();
        });
        TfrmMain main(dm);
        main.myRef(); // the whole list, as the window counts it
        const std::vector<int64_t> listed = main.ADOQuery1->rows().ids();
        std::printf("cards=%d visits=%d listed=%zu upgrade_indexes_once_ms=%.0f upgrade_kept_tables_once_ms=%.0f kept_tables=%s\n", cards,
                    workload.visits, listed.size(), indexMs, summaryMs, summaries ? "yes" : "no");
        std::fflush(stdout);

        std::vector<double> counting, countingCpu;
        VisitStatistics stats;
        const VisitPeriod period = lastTwelveMonths(QDate::currentDate());
        timeRuns(counting, countingCpu, [&] { stats = visitStatistics(dm.ADOConnection1, listed, period); });
        printFigure(cards, "counting", counting, countingCpu);
        std::printf("cards=%d visits_in_range=%lld previous=%lld unvisited=%lld\n", cards, static_cast<long long>(stats.visits),
                    static_cast<long long>(stats.previousVisits), static_cast<long long>(stats.unvisitedCount));

        std::vector<double> window, windowCpu;
        double addedMb = 0;
        for (int i = 0; i < kRuns; ++i) {
            const double before = statusMb("VmRSS:");
            resetPeak();
            const double started = cpuMs();
            window.push_back(elapsedMs([&] {
                VisitStatsLinks links;
                links.listedCards = [&] { return main.ADOQuery1->rows().ids(); };
                VisitStatsWindow stats(dm, &main, links);
                stats.refresh();
                stats.picture(1); // every chart painted once
            }));
            windowCpu.push_back(cpuMs() - started);
            addedMb = std::max(addedMb, statusMb("VmHWM:") - before);
        }
        printFigure(cards, "window_open_all_charts", window, windowCpu);
        std::printf("cards=%d visits=%d window_added_peak_mb=%.0f target_mb=%.0f\n", cards, workload.visits, addedMb, kTargetMb);
        std::fflush(stdout);
    }
    setProgramDir({});
}

} // namespace

} // namespace ostrel::bench

int main(int argc, char** argv)
{
    // A million cards unless a count is given.
    char program[] = "ostrel_bench_visit_stats";
    char million[] = "1000000";
    char* standard[] = {program, million, nullptr};
    if (argc > 1)
        return ostrel::bench::runWindowBench(argc, argv, ostrel::bench::run);
    int count = 2;
    return ostrel::bench::runWindowBench(count, standard, ostrel::bench::run);
}

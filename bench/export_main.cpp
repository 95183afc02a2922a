// The card-list report at 10,000 and 100,000 cards, or the count given, with every field
// shown: time and peak memory, beside the sqlcipher tool writing the same list as CSV, and
// the longest the window went without its events meanwhile. One line per figure, with the
// workload.
#include "app/data_module.h"
#include "app/dialogs.h"
#include "cards/main_window.h"
#include "export/spreadsheet_app.h"
#include "generator.h"
#include "measure.h"
#include "reference_statements.h"
#include "window_bench.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace ostrel::bench {

namespace {

void run(int cards)
{
    QTemporaryDir folder;
    QTemporaryDir reports;
    if (!reports.isValid())
        throw EngineError(QStringLiteral("no temporary folder for the reports"));
    setReportFolder(reports.path());
    const QString programDir = makeProgramFolder(folder, Workload::ofCards(cards));
    const QString database = programDir + QStringLiteral("Data/db.edb");
    const ListColumns columns = listColumns(database);
    setProgramDir(programDir);
    {
        TfrmDM dm;
        TfrmMain window(dm);
        window.FormCreate();
        window.show();
        const double before = statusMb("VmHWM:");
        // The longest the window went without its events (drawing, 取消) during the export.
        QElapsedTimer sinceEvents;
        qint64 longestGapMs = 0;
        QTimer events;
        QObject::connect(&events, &QTimer::timeout, [&] {
            longestGapMs = std::max(longestGapMs, sinceEvents.restart());
        });
        events.start(10);
        sinceEvents.start();
        const double ms = elapsedMs([&] { exportCardList(&window); });
        events.stop();
        longestGapMs = std::max(longestGapMs, sinceEvents.elapsed());
        const double peak = statusMb("VmHWM:");
        const QString file = testhooks::shown().isEmpty() ? QString() : testhooks::shown().last().text;
        const ToolFigure tool = toolFigure(database, reportLines(columns, reports.path() + QStringLiteral("/tool.csv")));
        std::printf("cards=%d columns=%d export_s=%.1f file_mb=%.1f%s\n", cards, columns.count, ms / 1000,
                    QFileInfo(file).size() / 1048576.0, besideToolMs(ms, tool).c_str());
        std::printf("cards=%d export_longest_without_events_ms=%lld target_ms=500\n", cards,
                    static_cast<long long>(longestGapMs));
        if (cards >= 1000000)
            std::printf("cards=%d export_s=%.1f target_s=40\n", cards, ms / 1000);
        std::printf("cards=%d export_peak_mb=%.0f peak_mb_before=%.0f%s\n", cards, peak, before,
                    besideToolMb(peak, tool).c_str());
        std::fflush(stdout);
        testhooks::clear();
    }
    setProgramDir({});
}

} // namespace

} // namespace ostrel::bench

int main(int argc, char** argv)
{
    return ostrel::bench::runWindowBench(argc, argv, ostrel::bench::run);
}

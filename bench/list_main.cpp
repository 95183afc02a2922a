// The card list at 10,000 and 100,000 cards: refresh, name search, title-click sort and
// memory with the list shown. One line per figure, with the workload.
#include "app/application.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "cards/main_window.h"
#include "generator.h"
#include "db/query.h"
#include "ui/common/db_grid.h"
#include "ui/common/gbk_edit.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

template <typename F>
double medianMs(int runs, F&& step)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        step();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ostrel::Application app(argc, argv);
    ostrel::testhooks::enable();
    for (int cards : ostrel::bench::cardCounts(argc, argv)) {
        QTemporaryDir folder;
        ostrel::bench::Workload workload{cards, cards * 3, cards, 20261209};
        ostrel::setProgramDir(ostrel::bench::generateProgramFolder(folder, workload));
        {
            ostrel::TfrmDM dm;
            ostrel::TfrmMain window(dm);
            window.resize(1280, 800);
            window.FormCreate();
            window.show();
            const double refresh = medianMs(5, [&] { window.myRef(); });
            std::printf("cards=%d visits=%d anniversaries=%d myRef_ms=%.0f listed=%d\n", cards, workload.visits,
                        workload.anniversaries, refresh, window.ADOQuery1->recordCount());
            window.Edit3->setText(QStringLiteral("王"));
            const double search = medianMs(5, [&] { window.BitBtn1Click(); });
            std::printf("cards=%d name_search_ms=%.0f found=%d\n", cards, search, window.ADOQuery1->recordCount());
            window.CheckBox3->setChecked(false);
            window.BitBtn1Click();
            const int nameColumn = window.ADOQuery1->rows().columnIndex(QStringLiteral("姓名"));
            const double sort = medianMs(5, [&] { window.DBGrid1->titleClick(nameColumn); });
            std::printf("cards=%d sort_ms=%.0f\n", cards, sort);
            std::printf("cards=%d rss_mb=%.0f peak_mb=%.0f\n", cards, ostrel::bench::statusMb("VmRSS:"),
                        ostrel::bench::statusMb("VmHWM:"));
        }
        ostrel::setProgramDir({});
    }
    return 0;
}

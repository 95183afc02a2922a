// The card-list report at 10,000 and 100,000 cards with every field shown: time and peak
// memory. One line per figure, with the workload.
#include "app/application.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "cards/main_window.h"
#include "export/report_export.h"
#include "export/spreadsheet_app.h"
#include "generator.h"
#include "db/query.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ostrel::Application app(argc, argv);
    ostrel::testhooks::enable();
    for (int cards : ostrel::bench::cardCounts(argc, argv)) {
        QTemporaryDir folder;
        QTemporaryDir reports;
        if (!folder.isValid() || !reports.isValid())
            return 1;
        ostrel::setReportFolder(reports.path());
        ostrel::bench::generateDatabase(folder.path() + QStringLiteral("/Data/db.edb"), {cards, cards, cards, 7});
        ostrel::setProgramDir(folder.path() + u'/');
        {
            ostrel::TfrmDM dm;
            ostrel::TfrmMain window(dm);
            window.FormCreate();
            window.show();
            const double before = ostrel::bench::statusMb("VmHWM:");
            const auto start = std::chrono::steady_clock::now();
            ostrel::exportCardList(&window);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const QString file = ostrel::testhooks::shown().isEmpty() ? QString() : ostrel::testhooks::shown().last().text;
            std::printf("cards=%d columns=%d export_s=%.1f peak_mb_before=%.0f peak_mb=%.0f file_mb=%.1f\n", cards,
                        window.ADOQuery4->recordCount(), seconds, before, ostrel::bench::statusMb("VmHWM:"),
                        QFileInfo(file).size() / 1048576.0);
            ostrel::testhooks::clear();
        }
        ostrel::setProgramDir({});
    }
    return 0;
}

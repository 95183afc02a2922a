// vCard export and import at 10,000 and 100,000 cards, or the count given: 导出vCard… of
// the whole list of a generated database, then 导入vCard… of that file into a database
// holding no cards (every card is new: the costlier case). Time and peak memory, one line
// per figure with the workload.
#include "app/data_module.h"
#include "app/dialogs.h"
#include "cards/main_window.h"
#include "generator.h"
#include "measure.h"
#include "window_bench.h"

#include <QAction>
#include <QFileInfo>
#include <QTemporaryDir>

#include <malloc.h>
#include <cstdio>

namespace ostrel::bench {

namespace {

QString lastShown()
{
    return testhooks::shown().isEmpty() ? QString() : QString(testhooks::shown().last().text).replace(u'\n', u' ');
}

void run(int cards)
{
    QTemporaryDir files;
    const QString vcf = files.filePath(QStringLiteral("cards.vcf"));
    for (const bool exporting : {true, false}) {
        QTemporaryDir folder;
        setProgramDir(makeProgramFolder(folder, Workload::ofCards(exporting ? cards : 0)));
        TfrmDM dm;
        {
            TfrmMain window(dm);
            window.FormCreate();
            window.show();
            malloc_trim(0);
            resetPeak();
            const double before = statusMb("VmHWM:");
            testhooks::clear();
            testhooks::queueFile(vcf);
            QAction* action = exporting ? window.ExportVCardAction : window.ImportVCardAction;
            const double ms = elapsedMs([&] { action->trigger(); });
            std::printf("cards=%d vcard_%s_s=%.2f file_mb=%.1f peak_mb=%.0f peak_mb_before=%.0f result=\"%s\"\n", cards,
                        exporting ? "export" : "import", ms / 1000, QFileInfo(vcf).size() / 1048576.0, statusMb("VmHWM:"),
                        before, lastShown().toUtf8().constData());
            std::fflush(stdout);
        }
        dm.ADOConnection1.close();
        setProgramDir({});
    }
}

} // namespace

} // namespace ostrel::bench

int main(int argc, char** argv)
{
    return ostrel::bench::runWindowBench(argc, argv, ostrel::bench::run);
}

// ostrel_bench_start PROGRAM_DIR STARTED_NS: one start of the program as its main() makes
// it, run by the list benchmark in a process of its own. STARTED_NS is the steady clock
// (nanoseconds) when the benchmark started this process; printed are the milliseconds from
// then to the main window shown with its list filled and painted (the anniversary reminder
// included), and the resident and peak memory at that moment: "ms rss_mb peak_mb".
#include "app/application.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "cards/main_window.h"
#include "measure.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ostrel::Application app(argc, argv);
    // The reminder's window is shown and closed again instead of waiting for a click.
    ostrel::testhooks::enable();
    ostrel::setProgramDir(QString::fromLocal8Bit(argv[1]));
    ostrel::TfrmDM frmDM;
    ostrel::TfrmMain frmMain(frmDM);
    ostrel::runGuarded([&] { frmMain.FormCreate(); });
    frmMain.showMaximized();
    QCoreApplication::processEvents(); // the first paint
    const auto started = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(std::atoll(argv[2])));
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    std::printf("%.1f %.1f %.1f\n", ms, ostrel::bench::statusMb("VmRSS:"), ostrel::bench::statusMb("VmHWM:"));
    int errors = 0;
    for (const ostrel::testhooks::Shown& shown : ostrel::testhooks::shown())
        if (shown.kind == ostrel::testhooks::Shown::Error) {
            std::fprintf(stderr, "error shown: %s\n", shown.text.toUtf8().constData());
            ++errors;
        }
    return errors == 0 ? 0 : 1;
}

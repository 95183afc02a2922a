#pragma once
#include <QString>
#include <QTemporaryDir>

#include <vector>

namespace ostrel::bench {

struct Workload {
    int cards = 100000;
    int visits = 300000;
    int anniversaries = 100000;
    unsigned seed = 20261209;
};

// The card counts a benchmark runs: 10,000 and 100,000, or the one given on the command line.
std::vector<int> cardCounts(int argc, char** argv);

// A figure of /proc/self/status ("VmRSS:", "VmHWM:") in megabytes.
double statusMb(const char* key);

// Writes a new card database at path (delivered schema, then the workload's rows with
// realistic Chinese names, phones, companies and dates, in one transaction).
void generateDatabase(const QString& path, const Workload& workload);
// Generates the database into Data/ of folder, a program folder of the benchmark's own, and
// returns the folder ending in its separator. Throws EngineError when folder is not valid.
QString generateProgramFolder(const QTemporaryDir& folder, const Workload& workload);

} // namespace ostrel::bench

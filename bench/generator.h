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

    // The benchmarks' database: three visits and one anniversary per card.
    static Workload ofCards(int cards) { return {cards, cards * 3, cards}; }
};

// The card counts a benchmark runs: 10,000 and 100,000, or the one given on the command line.
std::vector<int> cardCounts(int argc, char** argv);

// Writes a new card database at path (delivered schema, then the workload's rows with
// realistic Chinese names, phones, companies and dates, in one transaction).
void generateDatabase(const QString& path, const Workload& workload);
// The generated database of the workload in the benchmark cache, generated there first when
// missing: a million cards take about a minute. The cache is $OSTREL_BENCH_CACHE, else
// ostrel-bench in the user's cache folder; a file is named by the workload, the generator's
// version and the schema, and never changed once written.
QString cachedDatabase(const Workload& workload);
// Copies the workload's cached database into Data/ of folder, a program folder of the
// benchmark's own, and returns the folder ending in its separator. Throws EngineError when
// folder is not valid or the copy fails.
QString makeProgramFolder(const QTemporaryDir& folder, const Workload& workload);

} // namespace ostrel::bench

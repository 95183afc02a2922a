#pragma once
#include <QString>

namespace ostrel::bench {

struct Workload {
    int cards = 100000;
    int visits = 300000;
    int anniversaries = 100000;
    unsigned seed = 20261209;
};

// A figure of /proc/self/status ("VmRSS:", "VmHWM:") in megabytes.
double statusMb(const char* key);

// Writes a new card database at path (delivered schema, then the workload's rows with
// realistic Chinese names, phones, companies and dates, in one transaction).
void generateDatabase(const QString& path, const Workload& workload);

} // namespace ostrel::bench

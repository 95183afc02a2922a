#pragma once
// What the benchmarks measure with: medians, the process's memory, child processes and
// the sqlcipher command-line tool as the reference for the program's figures.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <string>
#include <vector>

namespace ostrel::bench {

double median(std::vector<double> values);

// The wall-clock milliseconds of one call of step.
template <typename F>
double elapsedMs(F&& step)
{
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The median wall-clock milliseconds of runs calls of step.
template <typename F>
double medianMs(int runs, F&& step)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(elapsedMs(step));
    return median(std::move(times));
}

// A figure of /proc/self/status ("VmRSS:", "VmHWM:") in megabytes.
double statusMb(const char* key);
// Starts the peak (VmHWM) over from the present resident size, so that a later peak is the
// coming work's own.
void resetPeak();

// A child process run to its end.
struct ChildRun {
    double peakMb = 0; // its peak resident memory
    QByteArray output; // what it wrote to standard output
};
// Runs command (the program, then its arguments) with standard input read from the file
// input (none: /dev/null); its standard error goes to ours. Throws EngineError when it
// cannot start or does not exit with 0.
ChildRun runChild(const QStringList& command, const QString& input = {});

// The sqlcipher tool on a database, keyed and set up as the program sets up its connection
// (key, cipher_page_size, cache_size, journal mode, synchronous).
//
// The figure is the sum of the statements' own times as the tool's ".timer on" reports
// them: the process start and the keying (the first read derives the key) stay outside, so
// it is the statements' time alone. Query results go to /dev/null unless the lines send
// them elsewhere (".output FILE").
struct ToolFigure {
    double ms = 0;     // median of the runs
    double peakMb = 0; // highest peak resident memory of the runs
};
// lines: statements (without ";") and dot-commands, one per line.
ToolFigure toolFigure(const QString& database, const QStringList& lines, int runs = 3);
// The rows the tool returns for sql, each a list of its columns; untimed.
QList<QStringList> toolRows(const QString& database, const QString& sql);

// " tool_ms=… tool_peak_mb=… ratio=…": the tool's figure beside the program's time, and
// program / tool.
std::string besideToolMs(double programMs, const ToolFigure& tool);
// " tool_peak_mb=… ratio=…": the tool's peak beside the program's memory, and program / tool.
std::string besideToolMb(double programMb, const ToolFigure& tool);

} // namespace ostrel::bench

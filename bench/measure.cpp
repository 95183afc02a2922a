#include "measure.h"

#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "core/open_database.h"

#include <QFile>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace ostrel::bench {

namespace {

constexpr char kTool[] = "/usr/bin/sqlcipher";

// Key, page and cache settings as keyAndConfigure makes them; the first read derives the
// key. Its outputs go nowhere.
QString toolScript(const QStringList& lines)
{
    QString script = QStringLiteral(".output /dev/null\n"
                                    "PRAGMA key='%1';\n"
                                    "PRAGMA cipher_page_size = 4096;\n"
                                    "PRAGMA cache_size = -65536;\n"
                                    "SELECT count(*) FROM sqlite_master;\n"
                                    "PRAGMA journal_mode = DELETE;\n"
                                    "PRAGMA synchronous = FULL;\n")
                         .arg(QString::fromLatin1(kDatabasePassword));
    for (const QString& line : lines)
        script += line + (line.startsWith(u'.') ? QStringLiteral("\n") : QStringLiteral(";\n"));
    return script;
}

// Runs the tool with the script; -bail ends it at the first failing statement, with a
// non-zero exit.
ChildRun runTool(const QString& database, const QString& script)
{
    QTemporaryFile input;
    if (!input.open() || input.write(script.toUtf8()) < 0 || !input.flush())
        throw EngineError(QStringLiteral("cannot write the tool's script"));
    return runChild({QString::fromLatin1(kTool), QStringLiteral("-bail"), database}, input.fileName());
}

} // namespace

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double statusMb(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(static_cast<qsizetype>(qstrlen(key))).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

ChildRun runChild(const QStringList& command, const QString& input)
{
    QTemporaryFile output;
    QTemporaryFile peak;
    if (!output.open() || !peak.open())
        throw EngineError(QStringLiteral("no temporary file for %1's output").arg(command.first()));
    // GNU time, a small process, starts the child and writes its peak in KB: the peak the
    // kernel reports to us would start from our own resident size, which a process made by
    // us (fork or vfork) carries into its exec.
    std::vector<QByteArray> arguments{"/usr/bin/time", "-f", "%M", "-o", QFile::encodeName(peak.fileName())};
    for (const QString& argument : command)
        arguments.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray inputPath = input.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(input);
    const QByteArray outputPath = QFile::encodeName(output.fileName());
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, inputPath.constData(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, outputPath.constData(), O_WRONLY | O_TRUNC, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0)
        throw EngineError(QStringLiteral("cannot start %1").arg(command.first()));
    int status = 0;
    waitpid(pid, &status, 0);
    ChildRun run;
    run.peakMb = peak.readAll().trimmed().toDouble() / 1024;
    run.output = output.readAll();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw EngineError(QStringLiteral("%1 failed").arg(command.join(u' ')));
    return run;
}

ToolFigure toolFigure(const QString& database, const QStringList& lines, int runs)
{
    const QString script = toolScript(QStringList{QStringLiteral(".timer on")} + lines);
    std::vector<double> times;
    ToolFigure figure;
    for (int i = 0; i < runs; ++i) {
        const ChildRun run = runTool(database, script);
        double ms = 0;
        // "Run Time: real 0.099 user 0.036520 sys 0.012498", one line per statement.
        for (const QByteArray& line : run.output.split('\n'))
            if (line.startsWith("Run Time: real "))
                ms += line.mid(15).split(' ').first().toDouble() * 1000;
        times.push_back(ms);
        figure.peakMb = std::max(figure.peakMb, run.peakMb);
    }
    figure.ms = median(std::move(times));
    return figure;
}

QList<QStringList> toolRows(const QString& database, const QString& sql)
{
    const ChildRun run = runTool(database, toolScript({QStringLiteral(".output stdout"), QStringLiteral(".mode tabs"), sql}));
    QList<QStringList> rows;
    for (const QByteArray& line : run.output.split('\n'))
        if (!line.isEmpty())
            rows << QString::fromUtf8(line).split(u'\t');
    return rows;
}

std::string besideToolMs(double programMs, const ToolFigure& tool)
{
    char text[96];
    std::snprintf(text, sizeof text, " tool_ms=%.0f tool_peak_mb=%.0f ratio=%.2f", tool.ms, tool.peakMb,
                  tool.ms > 0 ? programMs / tool.ms : 0.0);
    return text;
}

std::string besideToolMb(double programMb, const ToolFigure& tool)
{
    char text[64];
    std::snprintf(text, sizeof text, " tool_peak_mb=%.0f ratio=%.2f", tool.peakMb,
                  tool.peakMb > 0 ? programMb / tool.peakMb : 0.0);
    return text;
}

} // namespace ostrel::bench

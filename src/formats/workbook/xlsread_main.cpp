// ostrel_xlsread: the helper program that reads one sheet of an .xls workbook with FreeXL
// and writes its cells to standard output (workbook_xls.h describes the stream). The
// program starts it for each .xls file, so whatever FreeXL does on a hostile file ends
// here: a crash, a hang (the processor time limit) or runaway memory (the address-space
// limit).
//
//   ostrel_xlsread [switches] -- workbook.xls sheet
//
// The switches are for the tests, which pass them through setXlsHelper; the program never
// passes any. They stand for a hostile file: --test-crash, --test-hang (sleeps),
// --test-spin (uses the processor), --test-allocate (asks for memory without end),
// --test-stream HEX (writes these bytes as its output), and --cpu-seconds N (a shorter
// limit than the program's).
#include "engine/engine_error.h"
#include "formats/workbook/workbook_xls.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace ostrel;
using namespace ostrel::workbook;

bool writeAll(std::string& buffer)
{
    size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    buffer.clear();
    return true;
}

void setLimits(rlim_t cpuSeconds)
{
    const rlimit cpu{cpuSeconds, cpuSeconds};
    setrlimit(RLIMIT_CPU, &cpu);
#if !defined(__SANITIZE_ADDRESS__) && !(defined(__has_feature) && __has_feature(address_sanitizer))
    // (AddressSanitizer reserves far more address space than this, so not under it.)
    const rlimit memory{kXlsMemoryBytes, kXlsMemoryBytes};
    setrlimit(RLIMIT_AS, &memory);
#endif
}

// Memory asked for in blocks, each touched once, until the limit refuses one (the blocks
// stay reserved, not filled). Past 64 GB without a refusal there is no limit, and the
// reading goes on as if nothing had happened.
void allocateWithoutEnd()
{
    std::vector<std::unique_ptr<char[]>> blocks;
    constexpr size_t kBlock = size_t(64) << 20;
    for (size_t total = 0; total < (size_t(64) << 30); total += kBlock) {
        blocks.emplace_back(new char[kBlock]);
        *static_cast<volatile char*>(blocks.back().get()) = 1;
    }
}

int usage()
{
    std::fputs("用法：ostrel_xlsread -- 工作簿.xls 工作表\n", stderr);
    return 64;
}

} // namespace

int main(int argc, char** argv)
{
    rlim_t cpuSeconds = kXlsCpuSeconds;
    bool crash = false, hang = false, spin = false, allocate = false;
    const char* stream = nullptr;
    int at = 1;
    for (; at < argc && std::strcmp(argv[at], "--") != 0; ++at) {
        const std::string_view option = argv[at];
        if (option == "--test-crash")
            crash = true;
        else if (option == "--test-hang")
            hang = true;
        else if (option == "--test-spin")
            spin = true;
        else if (option == "--test-allocate")
            allocate = true;
        else if (option == "--test-stream" && at + 1 < argc)
            stream = argv[++at];
        else if (option == "--cpu-seconds" && at + 1 < argc)
            cpuSeconds = static_cast<rlim_t>(std::strtoul(argv[++at], nullptr, 10));
        else
            return usage();
    }
    if (argc - at != 3)
        return usage();
    const QString path = QFile::decodeName(argv[at + 1]);
    const QString sheet = QString::fromLocal8Bit(argv[at + 2]);

    setLimits(cpuSeconds);
    if (crash)
        std::raise(SIGSEGV);
    while (hang)
        ::pause();
    static volatile bool stop = false; // never set: the loop is not optimised away
    while (spin && !stop) {
    }
    if (stream) {
        std::string bytes = QByteArray::fromHex(stream).toStdString();
        return writeAll(bytes) ? 0 : 2;
    }

    std::string out;
    bool written = true;
    try {
        if (allocate)
            allocateWithoutEnd();
        readXlsCells(path, sheet, [&](uint32_t row, uint32_t column, std::string_view text, bool numeric) {
            if (text.empty() || !written)
                return;
            appendXlsCell(out, row, column, text, numeric);
            if (out.size() > (1 << 16))
                written = writeAll(out);
        });
        appendXlsEnd(out);
    } catch (const EngineError& e) {
        appendXlsError(out, e.message());
    } catch (...) {
        // Out of memory, most likely: no record, so the program reports a reading that
        // ended abnormally.
        return 2;
    }
    return written && writeAll(out) ? 0 : 2;
}

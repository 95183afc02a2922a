// .xls (Excel 97-2003, BIFF in a compound file) through FreeXL. FreeXL reads from a path
// and keeps every cell of the workbook in memory; it tells dates by their formats itself.
//
// FreeXL does not survive hostile files: fuzzing finds out-of-bounds reads and writes and
// crashes in its parser within seconds. So it runs in a child process: the child reads the
// sheet and streams its cells through a pipe, and whatever FreeXL does to the child (a
// crash, a hang, memory) ends as a clear error here, with the caller's state untouched.
#include "engine_error.h"
#include "workbook_reader.h"
#include "workbook_sheet.h"

#include <freexl.h>

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <signal.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ostrel {

using namespace workbook;

namespace {

// A workbook FreeXL cannot read in this time is damaged or hostile (a legitimate 65,536-row
// sheet takes a few seconds).
constexpr int kChildSeconds = 120;

QString freexlError(int code)
{
    switch (code) {
    case FREEXL_FILE_NOT_FOUND:
        return QStringLiteral("文件不存在或无法打开");
    case FREEXL_INSUFFICIENT_MEMORY:
        return QStringLiteral("内存不足，文件可能过大或已损坏");
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_CFBF_INVALID_SECTOR_SIZE:
        return QStringLiteral("不是有效的 Excel 97-2003 (.xls) 文件");
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return QStringLiteral("文件中没有 Excel 工作簿（可能是加密的工作簿或其他 Office 文档）");
    case FREEXL_UNSUPPORTED_CHARSET:
    case FREEXL_INVALID_CHARACTER:
        return QStringLiteral("文件中的文字编码无法识别");
    case FREEXL_CRAFTED_FILE:
        return QStringLiteral("文件结构异常，已拒绝读取");
    default:
        return QStringLiteral("文件已损坏（错误代码 %1）").arg(code);
    }
}

[[noreturn]] void xlsError(const QString& detail)
{
    throw EngineError(QStringLiteral("无法读取 .xls 工作簿：%1").arg(detail));
}

// Closes the handle however the reading ends; FreeXL wants a close even after a failed open.
class XlsHandle {
public:
    XlsHandle() = default;
    XlsHandle(const XlsHandle&) = delete;
    XlsHandle& operator=(const XlsHandle&) = delete;
    ~XlsHandle()
    {
        if (m_handle)
            freexl_close(m_handle);
    }
    const void** out() { return &m_handle; }
    const void* get() const { return m_handle; }

private:
    const void* m_handle = nullptr;
};

void check(int code)
{
    if (code != FREEXL_OK)
        xlsError(freexlError(code));
}

// Reads the sheet's cells with FreeXL and hands each non-empty one to `cell`.
template <typename Cell>
void readCells(const QString& path, const QString& sheet, Cell&& cell)
{
    const QByteArray nativePath = QFile::encodeName(path);
    XlsHandle handle;
    check(freexl_open(nativePath.constData(), handle.out()));
    // FreeXL answers success without a handle when the workbook is beyond it (about a
    // million distinct strings).
    if (!handle.get())
        xlsError(QStringLiteral("工作簿过大"));

    unsigned int password = 0;
    if (freexl_get_info(handle.get(), FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK && password == FREEXL_BIFF_OBFUSCATED)
        xlsError(QStringLiteral("工作簿有密码保护"));

    unsigned int sheetCount = 0;
    check(freexl_get_info(handle.get(), FREEXL_BIFF_SHEET_COUNT, &sheetCount));
    QStringList names;
    int index = -1;
    for (unsigned int i = 0; i < sheetCount && i <= 0xFFFF; ++i) {
        const char* name = nullptr;
        if (freexl_get_worksheet_name(handle.get(), static_cast<unsigned short>(i), &name) != FREEXL_OK || !name)
            continue;
        names << QString::fromUtf8(name);
        if (index < 0 && sameSheetName(names.back(), sheet))
            index = static_cast<int>(i);
    }
    if (index < 0)
        throwMissingSheet(sheet, names);

    check(freexl_select_active_worksheet(handle.get(), static_cast<unsigned short>(index)));
    unsigned int rows = 0;
    unsigned short columns = 0;
    check(freexl_worksheet_dimensions(handle.get(), &rows, &columns));
    if (rows > kMaxRows || columns > kMaxColumns || static_cast<uint64_t>(rows) * columns > kMaxCells)
        throw EngineError(QStringLiteral("工作表过大：%1 行 × %2 列").arg(rows).arg(columns));

    for (unsigned int row = 0; row < rows; ++row) {
        for (unsigned short column = 0; column < columns; ++column) {
            FreeXL_CellValue value;
            std::memset(&value, 0, sizeof value);
            if (freexl_get_cell_value(handle.get(), row, column, &value) != FREEXL_OK)
                continue;
            switch (value.type) {
            case FREEXL_CELL_INT:
                cell(row, column, numberText(value.value.int_value), true);
                break;
            case FREEXL_CELL_DOUBLE:
                cell(row, column, numberText(value.value.double_value), true);
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_TIME:
                if (value.value.text_value)
                    cell(row, column, std::string_view(value.value.text_value), false);
                break;
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
                // A date reads as its day, whatever time it carries, as in .xlsx files.
                if (value.value.text_value)
                    cell(row, column, std::string_view(value.value.text_value).substr(0, 10), false);
                break;
            default:
                break;
            }
        }
    }
}

// The child's stream: 'C' row column numeric length text for each cell, then 'E' at the
// end, or 'X' length message for an error.
void put32(std::string& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

bool writeAll(int fd, std::string& buffer)
{
    size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    buffer.clear();
    return true;
}

[[noreturn]] void runChild(int fd, const QString& path, const QString& sheet)
{
    rlimit cpu{kChildSeconds, kChildSeconds};
    setrlimit(RLIMIT_CPU, &cpu);
#if !defined(__SANITIZE_ADDRESS__) && !(defined(__has_feature) && __has_feature(address_sanitizer))
    // FreeXL keeps the whole workbook in memory; more than this is no workbook of cards.
    // (AddressSanitizer reserves far more address space than this, so not under it.)
    constexpr rlim_t kChildMemory = rlim_t(4) << 30;
    rlimit memory{kChildMemory, kChildMemory};
    setrlimit(RLIMIT_AS, &memory);
#endif
    std::string out;
    bool written = true;
    try {
        readCells(path, sheet, [&](uint32_t row, uint32_t column, std::string_view text, bool numeric) {
            if (text.empty() || !written)
                return;
            out += 'C';
            put32(out, row);
            put32(out, column);
            out += numeric ? '\1' : '\0';
            put32(out, static_cast<uint32_t>(text.size()));
            out.append(text);
            if (out.size() > (1 << 16))
                written = writeAll(fd, out);
        });
        out += 'E';
    } catch (const EngineError& e) {
        const QByteArray message = e.message().toUtf8();
        out += 'X';
        put32(out, static_cast<uint32_t>(message.size()));
        out.append(message.constData(), static_cast<size_t>(message.size()));
    } catch (...) {
        ::_exit(2);
    }
    ::_exit(written && writeAll(fd, out) ? 0 : 2);
}

// Reads the child's stream into the sheet as it arrives.
class CellStream {
public:
    explicit CellStream(SheetBuilder& cells) : m_cells(cells) {}

    // Takes the next bytes; false once the stream has ended (or cannot be read).
    void feed(const char* data, size_t size)
    {
        m_pending.append(data, size);
        size_t at = 0;
        while (!m_ended && at < m_pending.size()) {
            const size_t start = at;
            if (!record(at)) {
                at = start; // incomplete: wait for more
                break;
            }
        }
        m_pending.erase(0, at);
        // A stream that keeps growing without completing a record is not our child's.
        if (m_pending.size() > kMaxTextBytes + 64)
            m_broken = true;
    }
    bool ended() const { return m_ended; }
    bool broken() const { return m_broken; }
    bool hasError() const { return m_hasError; }
    const QString& error() const { return m_error; }

private:
    bool take32(size_t& at, uint32_t& value) const
    {
        if (m_pending.size() - at < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<uint32_t>(static_cast<unsigned char>(m_pending[at + i])) << (8 * i);
        at += 4;
        return true;
    }

    bool record(size_t& at)
    {
        const char kind = m_pending[at++];
        uint32_t row = 0, column = 0, length = 0;
        switch (kind) {
        case 'C': {
            if (!take32(at, row) || !take32(at, column) || at >= m_pending.size())
                return false;
            const bool numeric = m_pending[at++] != 0;
            if (!take32(at, length) || m_pending.size() - at < length)
                return false;
            m_cells.add(row, column, std::string_view(m_pending).substr(at, length), numeric);
            at += length;
            return true;
        }
        case 'X':
            if (!take32(at, length) || m_pending.size() - at < length)
                return false;
            m_error = QString::fromUtf8(m_pending.data() + at, static_cast<qsizetype>(length));
            m_hasError = true;
            m_ended = true;
            at += length;
            return true;
        case 'E':
            m_ended = true;
            return true;
        default:
            m_broken = true;
            m_ended = true;
            return true;
        }
    }

    SheetBuilder& m_cells;
    std::string m_pending;
    bool m_ended = false;
    bool m_broken = false;
    bool m_hasError = false;
    QString m_error;
};

class Child {
public:
    Child(pid_t pid, int fd) : m_pid(pid), m_fd(fd) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child()
    {
        ::close(m_fd);
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            wait();
        }
    }
    int fd() const { return m_fd; }
    // The child's exit status once it has ended; -1 when it was killed by a signal.
    int wait()
    {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid;
    int m_fd;
};

} // namespace

ResultSet workbook::readXlsInProcess(const QString& path, const QString& sheet)
{
    SheetBuilder cells;
    readCells(path, sheet, [&](uint32_t row, uint32_t column, std::string_view text, bool numeric) {
        cells.add(row, column, text, numeric);
    });
    return cells.build();
}

ResultSet readXls(const QString& path, const QString& sheet)
{
    int fds[2];
    if (::pipe(fds) != 0)
        xlsError(QStringLiteral("无法启动读取（%1）").arg(QString::fromLocal8Bit(std::strerror(errno))));
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        xlsError(QStringLiteral("无法启动读取（%1）").arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (pid == 0) {
        ::close(fds[0]);
        runChild(fds[1], path, sheet);
    }
    ::close(fds[1]);
    Child child(pid, fds[0]);

    SheetBuilder cells;
    CellStream stream(cells);
    char buffer[64 * 1024];
    const qint64 deadline = static_cast<qint64>(::time(nullptr)) + kChildSeconds + 10;
    for (;;) {
        pollfd wanted{child.fd(), POLLIN, 0};
        const qint64 left = deadline - static_cast<qint64>(::time(nullptr));
        if (left <= 0)
            xlsError(QStringLiteral("读取超时，文件可能已损坏"));
        const int ready = ::poll(&wanted, 1, static_cast<int>(std::min<qint64>(left, 10) * 1000));
        if (ready < 0 && errno != EINTR)
            xlsError(QStringLiteral("读取出错"));
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(child.fd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        stream.feed(buffer, static_cast<size_t>(n)); // the sheet's limits throw here
        if (stream.ended())
            break;
    }
    const int status = child.wait();
    if (stream.hasError())
        throw EngineError(stream.error());
    if (!stream.ended() || stream.broken() || status != 0)
        xlsError(QStringLiteral("文件已损坏，读取它的过程异常终止"));
    return cells.build();
}

} // namespace ostrel

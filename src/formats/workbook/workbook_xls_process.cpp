// readXls: the sheet of an .xls workbook, read by the helper program ostrel_xlsread
// (workbook_xls.h says why) and taken from its output as it arrives.
#include "engine/engine_error.h"
#include "formats/workbook/workbook_reader.h"
#include "formats/workbook/workbook_xls.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <chrono>
#include <memory>

namespace ostrel {

namespace {

workbook::XlsHelper& helperSetting()
{
    static workbook::XlsHelper helper;
    return helper;
}

// Ends the helper however the reading ends: an error of ours, a limit of the sheet, a hang.
struct EndHelper {
    void operator()(QProcess* process) const
    {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(-1);
        }
        delete process;
    }
};
using HelperProcess = std::unique_ptr<QProcess, EndHelper>;

} // namespace

workbook::XlsHelper workbook::xlsHelper()
{
    return helperSetting();
}

void workbook::setXlsHelper(const XlsHelper& helper)
{
    helperSetting() = helper;
}

namespace {

// The sheet read by the helper into `Cells` (OrderedSheet or SheetBuilder).
template <class Cells>
ResultSet readXlsInto(const QString& path, const QString& sheet)
{
    const workbook::XlsHelper helper = workbook::xlsHelper();
    const QString program = helper.program.isEmpty()
        ? QCoreApplication::applicationDirPath() + QStringLiteral("/ostrel_xlsread")
        : helper.program;
    if (!QFileInfo(program).isExecutable())
        workbook::xlsError(QStringLiteral("无法启动读取（找不到读取 .xls 文件的程序“%1”，请重新安装本软件）")
                     .arg(QDir::toNativeSeparators(program)));

    const HelperProcess process(new QProcess);
    process->setProgram(program);
    // "--" ends the switches: a file whose name starts with "-" is still a file.
    process->setArguments(helper.options + QStringList{QStringLiteral("--"), path, sheet});
    process->setStandardInputFile(QProcess::nullDevice());
    // What the helper says on its standard error (a sanitizer's report) goes where ours goes.
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QIODevice::ReadOnly);
    if (!process->waitForStarted(-1))
        workbook::xlsError(QStringLiteral("无法启动读取（%1）").arg(process->errorString()));

    const QDeadlineTimer deadline(std::chrono::seconds(helper.waitSeconds));
    auto timedOut = [&] {
        process->kill();
        workbook::xlsError(QStringLiteral("读取超时，文件可能已损坏"));
    };
    Cells cells;
    workbook::XlsStreamReader stream(
        [&](uint32_t row, uint32_t column, std::string_view utf8, bool numeric) { cells.add(row, column, utf8, numeric); });
    while (!stream.ended()) {
        if (process->bytesAvailable() == 0 && !process->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            // No more output: the helper has ended or closed its output, or the deadline has
            // come. What it wrote before ending is still to be read.
            if (process->state() != QProcess::NotRunning
                && !process->waitForFinished(static_cast<int>(deadline.remainingTime())))
                timedOut();
            if (process->bytesAvailable() == 0)
                break;
        }
        const QByteArray bytes = process->read(64 * 1024);
        stream.feed(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))); // the sheet's limits throw here
    }
    // After its last record the helper only exits.
    if (process->state() != QProcess::NotRunning && !process->waitForFinished(static_cast<int>(deadline.remainingTime())))
        timedOut();
    const bool exitedWell = process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
    if (stream.hasError())
        throw EngineError(stream.error());
    if (!stream.ended() || stream.broken() || !exitedWell)
        workbook::xlsError(QStringLiteral("文件已损坏，读取它的过程异常终止"));
    return cells.build();
}

} // namespace

ResultSet readXls(const QString& path, const QString& sheet)
{
    // The helper sends the cells row by row, left to right: each goes straight into the
    // result. Rare sheets (a cell right of the titles) are read again, collecting the cells.
    try {
        return readXlsInto<workbook::OrderedSheet>(path, sheet);
    } catch (const workbook::OrderedSheet::NotInOrder&) {
        return readXlsInto<workbook::SheetBuilder>(path, sheet);
    }
}

} // namespace ostrel

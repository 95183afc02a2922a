#include "core/workbook_connection.h"

#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "formats/workbook/workbook_reader.h"
#include "formats/workbook/workbook_sheet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace ostrel {

namespace {

QString shownPath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Every failure names the file, so the user knows which one could not be read.
[[noreturn]] void fileError(const QString& path, const QString& detail)
{
    throw EngineError(QStringLiteral("EXCEL文件“%1”：%2").arg(shownPath(path), detail));
}

[[noreturn]] void refuseStatement(const QString& sql)
{
    throw EngineError(QStringLiteral("EXCEL文件只能读取，不能执行：%1").arg(sql));
}

} // namespace

QString workbookConnectionString(const QString& path)
{
    QString source = path;
    if (path.contains(u';') || path.startsWith(u'"'))
        source = u'"' + QString(path).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;") + QStringLiteral("Data Source=") + source + u';'
        + QStringLiteral("Extended Properties=Excel 8.0;") + QStringLiteral("Persist Security Info=False");
}

QString workbookSheetOf(const QString& sql)
{
    static const QRegularExpression form(QStringLiteral(R"(^\s*select\s+\*\s+from\s+\[([^\]]+)\$\]\s*;?\s*$)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(sql);
    if (!match.hasMatch())
        throw EngineError(QStringLiteral("EXCEL文件只能用“Select * from [Sheet1$]”这样的语句读取，不能执行：%1").arg(sql));
    return match.captured(1);
}

QString WorkbookConnection::path() const
{
    return ConnectionString(connectionString()).value(QString::fromLatin1(kDataSourceKey));
}

void WorkbookConnection::open()
{
    if (m_open)
        return;
    const QString file = path();
    if (file.isEmpty())
        throw EngineError(QStringLiteral("没有指定要打开的EXCEL文件"));
    const QFileInfo info(file);
    if (!info.exists())
        fileError(file, QStringLiteral("文件不存在"));
    if (info.isDir())
        fileError(file, QStringLiteral("这是一个文件夹，不是文件"));
    QFile probe(file);
    if (!probe.open(QIODevice::ReadOnly))
        fileError(file, QStringLiteral("无法打开（%1）").arg(probe.errorString()));
    m_open = true;
}

ResultSet WorkbookConnection::select(const QString& sql)
{
    const QString sheet = workbookSheetOf(sql);
    open();
    return readWorkbook(path(), sheet);
}

int WorkbookConnection::execute(const QString& sql)
{
    refuseStatement(sql);
}

std::unique_ptr<PreparedStatement> WorkbookConnection::prepare(const QString& sql)
{
    refuseStatement(sql);
}

ResultSet readWorkbook(const QString& path, const QString& sheet)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fileError(path, QStringLiteral("无法打开（%1）").arg(file.errorString()));
    const WorkbookFormat format = workbookFormat(file.peek(8));
    if (format != WorkbookFormat::Xls && file.size() > workbook::kMaxFileBytes)
        fileError(path, QStringLiteral("文件过大：超过 %1 MB").arg(workbook::kMaxFileBytes >> 20));
    QByteArray bytes;
    if (format == WorkbookFormat::Csv) {
        bytes = file.readAll();
        if (bytes.size() != file.size())
            fileError(path, QStringLiteral("读取出错（%1）").arg(file.errorString()));
    }
    try {
        ResultSet rows;
        switch (format) {
        case WorkbookFormat::Xls:
            rows = readXls(path, sheet);
            break;
        case WorkbookFormat::Xlsx:
            // Read from the file as the zip needs it, never whole.
            rows = readXlsx(file, sheet);
            break;
        case WorkbookFormat::Csv:
            rows = readCsv(std::exchange(bytes, {}), sheet);
            break;
        }
#ifdef __GLIBC__
        // The reading's passing buffers, freed, lie scattered through the heap: without a
        // trim they stay resident beside the sheet for as long as it is shown.
        malloc_trim(0);
#endif
        return rows;
    } catch (const EngineError& e) {
        fileError(path, e.message());
    } catch (const std::bad_alloc&) {
        fileError(path, QStringLiteral("内存不足，文件过大"));
    }
}

WorkbookFormat workbookFormat(const QByteArray& head)
{
    if (head.startsWith(QByteArrayLiteral("\xD0\xCF\x11\xE0")))
        return WorkbookFormat::Xls;
    if (head.startsWith(QByteArrayLiteral("PK\x03\x04")) || head.startsWith(QByteArrayLiteral("PK\x05\x06")))
        return WorkbookFormat::Xlsx;
    return WorkbookFormat::Csv;
}

} // namespace ostrel

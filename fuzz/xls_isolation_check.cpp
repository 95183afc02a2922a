// Reads every file named on the command line through readXls, the program's way, which
// keeps FreeXL in the helper program (built here with the sanitizers). Run over the inputs
// that crash FreeXL, it must print one line per file and exit 0.
#include "engine/engine_error.h"
#include "formats/workbook/workbook_reader.h"
#include "formats/workbook/workbook_xls.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ostrel::workbook::setXlsHelper({QStringLiteral(OSTREL_XLS_HELPER), {}, ostrel::workbook::kXlsWaitSeconds});
    int errors = 0;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        try {
            const ostrel::ResultSet rows = ostrel::readXls(path, QStringLiteral("Sheet1"));
            std::printf("%s: %d rows\n", argv[i], rows.rowCount());
        } catch (const ostrel::EngineError& e) {
            ++errors;
            std::printf("%s: %s\n", argv[i], e.message().toUtf8().constData());
        }
    }
    std::printf("%d files, %d read as errors\n", argc - 1, errors);
    return 0;
}

// Any bytes as an .xls file, read by FreeXL in this process: finds FreeXL's own faults
// (which the program keeps out of its process, see workbook_xls.h) and any in our
// handling of what it returns. FreeXL reads from a path, so each input goes through a
// file in memory-backed /dev/shm.
#include "engine/engine_error.h"
#include "formats/workbook/workbook_xls.h"

#include <QFile>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = QStringLiteral("/dev/shm/ostrel-fuzz-%1.xls").arg(getpid());
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    try {
        ostrel::workbook::readXlsInProcess(path, QStringLiteral("Sheet1"));
    } catch (const ostrel::EngineError&) {
    }
    return 0;
}

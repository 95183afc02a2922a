// Any bytes as a CSV file: a result or an EngineError, nothing else.
#include "engine/engine_error.h"
#include "formats/workbook/workbook_reader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        ostrel::readCsv(bytes, QStringLiteral("Sheet1"));
    } catch (const ostrel::EngineError&) {
    }
    return 0;
}

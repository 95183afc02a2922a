#include "engine/file_system.h"

#include <QDir>
#include <QTemporaryFile>

namespace ostrel {

bool folderTakesFiles(const QString& folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".ostrel-probe-XXXXXX")));
    return probe.open();
}

} // namespace ostrel

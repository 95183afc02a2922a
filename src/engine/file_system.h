#pragma once
#include <QString>

namespace ostrel {

// Whether a file can be created in the folder. Tried, not asked: permissions, a read-only
// mount and the process's privileges all decide it.
bool folderTakesFiles(const QString& folder);

} // namespace ostrel

#pragma once
#include <QString>

namespace ostrel {

// Reports are kept where the user keeps documents ("~/Documents/Ostrel报表"), in a folder
// made readable by the user alone: they hold every exported card.
inline constexpr char kReportFolderName[] = "Ostrel报表";
QString reportFolder();
// Tests write reports elsewhere; the empty text goes back to the documents folder.
void setReportFolder(const QString& folder);

// A free name in the folder for the report of this caption, taken at once by an empty file
// (readable by the user alone) so that nothing, not even a second export in the same
// second, can overwrite what is there. Empty when no file could be made.
QString reserveReportFile(const QString& folder, const QString& caption);

} // namespace ostrel

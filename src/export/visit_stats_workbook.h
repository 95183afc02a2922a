#pragma once
#include "core/visit_stats.h"

#include <QString>

class QWidget;

namespace ostrel {

// The sheets of a visit statistics workbook, in order: each holds the table behind one
// chart of the statistics window (a title row, a header row, then the rows) and, where the
// table has rows, a native chart of it drawn from those cells; the last holds the cards not
// visited in the period.
struct StatsSheet {
    const char* name;
    const char* title;
};
inline constexpr StatsSheet kStatsSheets[] = {
    {"按月拜访", "每月拜访次数"},
    {"拜访最多", "拜访最多的名片"},
    {"按分类", "按分类拜访次数"},
    {"按省份", "按省份拜访次数"},
    {"久未拜访", "久未拜访的名片"},
};

// Writes the statistics into a new workbook in the report folder and returns its path.
// Throws EngineError when it cannot be made or written.
QString writeVisitStatsWorkbook(const VisitStatistics& stats);

// The same, then opens it and tells where it went (the main window's status line).
void exportVisitStats(QWidget* window, const VisitStatistics& stats);

} // namespace ostrel

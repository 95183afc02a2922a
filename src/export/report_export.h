#pragma once
#include "report_layout.h"

#include <QObject>

class QWidget;

namespace ostrel {

class Query;

// Writes the open rows of `rows` (first to last, in the order the grid shows them) as a
// printable report laid out by `layout` into a new workbook and opens it. A progress
// dialog over `window` counts the rows and offers 取消, which leaves no file behind (the
// notices tell it). The list is left on the last row written. Throws EngineError when
// the workbook cannot be made or written.
void exportReport(QWidget* window, const ReportLayout& layout, Query& rows);

// Where each report was written, for whoever shows it (the main window's status line).
class ReportNotices : public QObject {
    Q_OBJECT
public:
    static ReportNotices& instance();

signals:
    void written(const QString& path);
    void cancelled();
};

namespace testhooks {
// The export's progress shows at once and lets the events in after every row and every
// moment of the closing, so a test can press 取消 while the work is under way.
void reportProgressEveryRow(bool on);
} // namespace testhooks

} // namespace ostrel

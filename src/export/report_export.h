#pragma once
#include "report_layout.h"

#include <QObject>

class QWidget;

namespace ostrel {

class Query;

// Writes the open rows of `rows` (first to last, in the order the grid shows them) as a
// printable report laid out by `layout` into a new workbook and opens it. A progress
// dialog over `window` counts the rows. The list is left on its last row. Throws
// EngineError when the workbook cannot be made or written.
void exportReport(QWidget* window, const ReportLayout& layout, Query& rows);

// Where each report was written, for whoever shows it (the main window's status line).
class ReportNotices : public QObject {
    Q_OBJECT
public:
    static ReportNotices& instance();

signals:
    void written(const QString& path);
};

} // namespace ostrel

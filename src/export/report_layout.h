#pragma once
#include <QList>
#include <QString>

#include <optional>

namespace ostrel {

class Query;

// One report column after the sequence-number column A.
struct ReportColumn {
    QString header; // text of the header cell
    QString field;  // result column of the list read for every row
    int width = 0;  // in the spreadsheet's character units
};

// Everything in which the four reports differ; the export routine does the rest.
struct ReportLayout {
    QString caption;              // the spreadsheet application's caption
    std::optional<QString> title; // merged row 1 above the header, or none
    QList<ReportColumn> columns;
    QString lastColumn;             // letter of the last report column
    std::optional<int> orientation; // page orientation code, or left as it is
    QString footer;                 // centre footer, in header/footer codes

    int headerRow() const { return title ? 2 : 1; }
    int firstDataRow() const { return headerRow() + 1; }
};

// Header and width of column A, which holds the sequence numbers.
inline constexpr char kSequenceHeader[] = "序号";
inline constexpr int kSequenceWidth = 4;

// The last column of a card-list report with `displayed` card fields: the (n + 1)-th
// letter, "Z" for any other count.
QString lastColumnLetter(int displayed);

// The card-list report from the display-column rows of the last refresh (theV, theWidth),
// read from first to last: the query is left on its last row.
ReportLayout cardListLayout(Query& displayedColumns);
// The visits of one card, titled with the caption of their list (the card's name and
// " 拜访记录").
ReportLayout visitListLayout(const QString& caption);
ReportLayout visitOverviewLayout();
ReportLayout anniversaryOverviewLayout();

} // namespace ostrel

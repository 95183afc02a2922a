#include "report_layout.h"

#include "app/app_info.h"
#include "engine/query.h"
#include "spreadsheet_app.h"

namespace ostrel {

namespace {

// "&N" is the number of pages and "&P" the page's own number in the footer codes.
QString footer(const QString& productTitle, const char* separator, const QString& homePage)
{
    return productTitle + QString::fromLatin1(separator) + homePage + QStringLiteral(" 共&N页，第&P页");
}

ReportColumn column(const char* header, int width)
{
    const QString text = QString::fromUtf8(header);
    return {text, text, width};
}

ReportLayout titled(const QString& caption)
{
    ReportLayout layout;
    layout.caption = caption;
    layout.title = caption;
    return layout;
}

} // namespace

QString lastColumnLetter(int displayed)
{
    if (displayed >= 0 && displayed <= 24)
        return QString(QChar(u'A' + displayed));
    return QStringLiteral("Z");
}

ReportLayout cardListLayout(Query& displayedColumns)
{
    ReportLayout layout;
    layout.caption = QStringLiteral("名片表");
    // Each field is read back from the card list by its label, which the card query uses
    // as the column's name.
    for (displayedColumns.first(); !displayedColumns.eof(); displayedColumns.next()) {
        const QString label = displayedColumns.text(QStringLiteral("theV"));
        // Stored in pixels; a character is about ten (the remainder is dropped).
        const auto width = static_cast<int>(displayedColumns.integer(QStringLiteral("theWidth")) / 10);
        layout.columns.append({label, label, width});
    }
    layout.lastColumn = lastColumnLetter(displayedColumns.recordCount());
    layout.orientation = xl::Landscape;
    layout.footer = footer(QString::fromUtf8(kAppTitle), "  ", QString::fromLatin1(kHomePageHost));
    return layout;
}

ReportLayout visitListLayout(const QString& caption)
{
    ReportLayout layout = titled(caption);
    layout.columns = {column("拜访日期", 10), column("拜访方式", 10), column("拜访内容", 50)};
    layout.lastColumn = QStringLiteral("D");
    layout.orientation = xl::Portrait;
    // The shorter product name is what this report has always printed.
    layout.footer = footer(QStringLiteral("Ostrel名片管理"), " ", QString::fromLatin1(kHomePageUrl));
    return layout;
}

ReportLayout visitOverviewLayout()
{
    ReportLayout layout = titled(QStringLiteral("拜访表"));
    layout.columns = {column("拜访日期", 8), column("姓名", 12), column("性别", 4), column("拜访方式", 10),
                      column("拜访内容", 38)};
    layout.lastColumn = QStringLiteral("F");
    layout.footer = footer(QString::fromUtf8(kAppTitle), " ", QString::fromLatin1(kHomePageUrl));
    return layout;
}

ReportLayout anniversaryOverviewLayout()
{
    ReportLayout layout = titled(QStringLiteral("纪念表"));
    layout.columns = {column("纪念日期", 8), column("姓名", 12), column("性别", 4), column("纪念说明", 48)};
    layout.lastColumn = QStringLiteral("E");
    layout.footer = footer(QString::fromUtf8(kAppTitle), " ", QString::fromLatin1(kHomePageUrl));
    return layout;
}

} // namespace ostrel

#pragma once
// The statements the program runs for each benchmarked step, as the sqlcipher tool runs
// them for the reference figure beside the program's. Written out here rather than taken
// from the program, so that the reference stays the same while the program's own way of
// reading changes. The tool has no Mid(): substr() stands in (dates are ASCII text).
#include <QDate>
#include <QString>
#include <QStringList>

namespace ostrel::bench {

// The displayed columns of the card list: ",theType AS 分类,…" as the list builds them
// from the database's D_XS, and how many there are.
struct ListColumns {
    QString text;
    int count = 0;
};
ListColumns listColumns(const QString& database);

// A list refresh: the displayed columns, the card list, the visit and anniversary counters,
// narrowed by filter (clauses each beginning " AND (").
QStringList refreshStatements(const ListColumns& columns, const QString& filter = {});
// The name search's clause for name.
QString nameFilter(const QString& name);
// The card list ordered by the name: the tool's way to a list sorted by 姓名 (its order is
// the binary one; it knows no pinyin).
QStringList nameSortStatements(const ListColumns& columns);
// What the start of the program runs on day: a refresh, the anniversary reminder's count
// and its overview, the category, sex and province lookups.
QStringList startStatements(const ListColumns& columns, const QDate& day);
// The card list written as CSV to file: the tool's nearest to the card-list report.
QStringList reportLines(const ListColumns& columns, const QString& file);
// The import of rows (each the 24 card field values, in field order) on date: the highest
// card ID, then in one transaction each row's duplicate check and, for a row not seen
// before, its insert.
QStringList importStatements(const QList<QStringList>& rows, const QString& date);

} // namespace ostrel::bench

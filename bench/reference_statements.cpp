#include "reference_statements.h"

#include "core/card_fields.h"
#include "engine/sql_text.h"
#include "measure.h"

#include <QSet>

namespace ostrel::bench {

namespace {

const QString kDisplayedColumns = QStringLiteral("SELECT theName, theWidth, theV FROM D_XS WHERE (theXS = 1) ORDER BY theInt");

QString cardList(const ListColumns& columns, const QString& filter, const QString& order)
{
    return QStringLiteral("select ID ") + columns.text + QStringLiteral(" from D_B Where (theDel='否') ") + filter
        + QStringLiteral(" Order by ") + order;
}

QString liveCards(const QString& filter)
{
    return QStringLiteral("(select id from D_B Where (theDel='否') ") + filter + QStringLiteral(" )");
}

QString monthDay(const QDate& day)
{
    return day.toString(QStringLiteral("MM-dd"));
}

} // namespace

ListColumns listColumns(const QString& database)
{
    ListColumns columns;
    for (const QStringList& row : toolRows(database, kDisplayedColumns)) {
        columns.text += u',' + row.value(0) + QStringLiteral(" AS ") + row.value(2);
        ++columns.count;
    }
    return columns;
}

QStringList refreshStatements(const ListColumns& columns, const QString& filter)
{
    return {kDisplayedColumns, cardList(columns, filter, QStringLiteral("ID Desc")),
            QStringLiteral("Select ID from DList Where did in ") + liveCards(filter),
            QStringLiteral("Select ID from DJNR Where did in ") + liveCards(filter)};
}

QString nameFilter(const QString& name)
{
    return QStringLiteral(" AND (BName Like '%") + sqlQuote(name) + QStringLiteral("%')");
}

QStringList nameSortStatements(const ListColumns& columns)
{
    return {cardList(columns, {}, QStringLiteral("BName"))};
}

QStringList startStatements(const ListColumns& columns, const QDate& day)
{
    const QString coming = monthDayBetween(QStringLiteral("substr(JDate,6,5)"), monthDay(day), monthDay(day.addDays(7)));
    return refreshStatements(columns)
        + QStringList{QStringLiteral("Select ID from DJNR Where ") + coming,
                      QStringLiteral("SELECT JDate as 纪念日期, BName as 姓名, BSex as 性别, JMemo as 纪念说明, DJNR.DID as myID "
                                     "FROM DJNR INNER JOIN D_B ON DJNR.DID = D_B.ID WHERE (DJNR.ID > 0)  AND ")
                          + coming + QStringLiteral(" ORDER BY substr(JDate,6,5), BName, DJNR.ID DESC "),
                      QStringLiteral("select theName from D_Type"), QStringLiteral("select theName from D_Sex"),
                      QStringLiteral("select theName from D_P")};
}

QStringList reportLines(const ListColumns& columns, const QString& file)
{
    return {QStringLiteral(".mode csv"), QStringLiteral(".headers on"), QStringLiteral(".output ") + file,
            cardList(columns, {}, QStringLiteral("ID Desc"))};
}

QStringList importStatements(const QList<QStringList>& rows, const QString& date)
{
    QString columns;
    for (const CardField& field : cardFields())
        columns += field.columnName() + u',';
    QStringList statements{QStringLiteral("select max(ID) as LastID from D_B"), QStringLiteral("BEGIN")};
    QSet<QString> seen;
    for (const QStringList& values : rows) {
        const QString type = sqlQuote(values[kCategoryField]);
        const QString name = sqlQuote(values[kNameField]);
        const QString sex = sqlQuote(values[kSexField]);
        statements << QStringLiteral("select ID from D_B Where theType='%1' and BName='%2' and BSex='%3' and theDel='否'")
                          .arg(type, name, sex);
        const QString card = type + u'\n' + name + u'\n' + sex;
        if (!seen.contains(card)) {
            seen.insert(card);
            QString insert = QStringLiteral("Insert into D_B(theDate,") + columns + QStringLiteral("theDel) values('")
                + sqlQuote(date);
            for (const QString& value : values)
                insert += QStringLiteral("','") + sqlQuote(value);
            statements << insert + QStringLiteral("','否')");
        }
    }
    return statements << QStringLiteral("COMMIT");
}

} // namespace ostrel::bench

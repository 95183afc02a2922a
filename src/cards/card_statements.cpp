#include "card_statements.h"

#include "core/card_fields.h"
#include "core/schema_upgrade.h"
#include "engine/engine_error.h"
#include "engine/sql_text.h"

namespace ostrel {

namespace {

const QString& checkedId(const QString& cardId)
{
    if (!isCardId(cardId))
        throw EngineError(QStringLiteral("名片编号“%1”无效：编号只能由数字组成").arg(cardId));
    return cardId;
}

} // namespace

bool isCardId(const QString& text)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

QString updateCardSql(const QStringList& values, const QString& cardId)
{
    requireAllCardFields(values);
    QString sql = QStringLiteral("Update D_B set ");
    for (int i = 0; i < kCardFieldCount; ++i) {
        if (i > 0)
            sql += QStringLiteral("',");
        sql += cardFields()[static_cast<size_t>(i)].columnName() + QStringLiteral("='") + sqlQuote(values[i]);
    }
    return sql + QStringLiteral("' Where id=") + checkedId(cardId);
}

QString loadCardSql(const QString& cardId)
{
    return QStringLiteral("Select * from D_B Where ID=") + checkedId(cardId);
}

QString liveCardSql(const QString& cardId)
{
    return QStringLiteral("select ID from D_B Where ID=") + checkedId(cardId) + QStringLiteral(" and theDel='否'");
}

QString cardSearchFilter(const QStringList& values)
{
    requireAllCardFields(values);
    QString filter;
    for (int i = 0; i < kCardFieldCount; ++i) {
        const CardField& field = cardFields()[static_cast<size_t>(i)];
        if (!values[i].isEmpty())
            filter += field.searchOpeningText() + sqlQuote(values[i]) + field.searchClosingText();
    }
    return filter;
}

QString displayedColumnsSql()
{
    return QStringLiteral("SELECT theName, theWidth, theV FROM D_XS ") + QStringLiteral("WHERE (theXS = True) ")
        + QStringLiteral("ORDER BY theInt");
}

QString displayedColumnText(const QString& column, const QString& title)
{
    return u',' + column + QStringLiteral(" AS ") + title;
}

QString cardListSql(const QString& displayedColumns, const QString& filter)
{
    return QStringLiteral("select ID ") + displayedColumns + QStringLiteral(" from D_B Where (theDel='否') ") + filter
        + QStringLiteral(" Order by ID Desc");
}

QString visitAndAnniversaryCountSql()
{
    return QStringLiteral("Select (Select count(*) from DList Where DID between ?1 and ?2), ")
        + QStringLiteral("(Select count(*) from DJNR Where DID between ?1 and ?2)");
}

QString entryDateClause(const QString& from, const QString& to)
{
    return QStringLiteral(" AND (theDate Between '") + sqlQuote(from) + QStringLiteral("' AND '") + sqlQuote(to)
        + QStringLiteral("')");
}

QString categoryClause(const QString& category)
{
    return QStringLiteral(" AND (theType = '") + sqlQuote(category) + QStringLiteral("')");
}

QString nameClause(const QString& name)
{
    return QStringLiteral(" AND (BName Like '%") + sqlQuote(name) + QStringLiteral("%')");
}

QString sexClause(const QString& sex)
{
    return QStringLiteral(" AND (BSex = '") + sqlQuote(sex) + QStringLiteral("')");
}

QString provinceClause(const QString& province)
{
    return QStringLiteral(" AND (DArea = '") + sqlQuote(province) + QStringLiteral("')");
}

QString softDeleteSql(const QString& cardId)
{
    return QStringLiteral("Update D_B Set theDel='是'") + QStringLiteral(" where ID=") + cardId;
}

QString cardNameSql(const QString& cardId)
{
    return QStringLiteral("select BName from D_B where ID=") + cardId;
}

QString anniversaryReminderSql(const QString& from, const QString& to)
{
    return QStringLiteral("Select ID from DJNR ") + QStringLiteral("Where ")
        + monthDayBetween(anniversaryMonthDaySql(), from, to);
}

QString cardsByIdSql(int count)
{
    QString sql = QStringLiteral("select ID");
    for (const CardField& field : cardFields())
        sql += u',' + field.columnName();
    sql += QStringLiteral(" from D_B where ID in (");
    for (int i = 1; i <= count; ++i)
        sql += (i > 1 ? QStringLiteral(",?") : QStringLiteral("?")) + QString::number(i);
    return sql + u')';
}

QString categoryNamesSql()
{
    return QStringLiteral("select theName from D_Type");
}

QString provinceNamesSql()
{
    return QStringLiteral("select theName from D_P");
}

QString defaultCategorySql()
{
    return QStringLiteral("select theType from D_Mr");
}

} // namespace ostrel

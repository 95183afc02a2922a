#include "core/new_card_statements.h"

#include "core/card_fields.h"
#include "engine/engine_error.h"
#include "engine/sql_text.h"

namespace ostrel {

namespace {

// The statements below come in two forms: the values quoted into the text, or a `?` in
// place of each quoted value, bound when the prepared statement runs.
QString literal(const QString& value)
{
    return u'\'' + sqlQuote(value) + u'\'';
}

const QString kPlaceholder = QStringLiteral("?");

QString duplicateCheckText(const QString& type, const QString& name, const QString& sex)
{
    return QStringLiteral("select ID from D_B Where theType=") + type + QStringLiteral(" and BName=") + name
        + QStringLiteral(" and BSex=") + sex + QStringLiteral(" and theDel='否'");
}

QString insertCardText(const QString& date, const QStringList& values)
{
    QString sql = QStringLiteral("Insert into D_B(theDate,");
    for (const CardField& field : cardFields())
        sql += field.columnName() + u',';
    sql += QStringLiteral("theDel) values(") + date;
    for (const QString& value : values)
        sql += u',' + value;
    return sql + QStringLiteral(",'否')");
}

} // namespace

void requireAllCardFields(const QStringList& values)
{
    if (values.size() != kCardFieldCount)
        throw EngineError(QStringLiteral("名片字段数目不对：应为 %1 个，实为 %2 个").arg(kCardFieldCount).arg(values.size()));
}

QString duplicateCheckSql(const QString& type, const QString& name, const QString& sex)
{
    return duplicateCheckText(literal(type), literal(name), literal(sex));
}

QString duplicateCheckSql()
{
    return duplicateCheckText(kPlaceholder, kPlaceholder, kPlaceholder);
}

QString insertCardSql(const QString& date, const QStringList& values)
{
    requireAllCardFields(values);
    QStringList literals;
    for (const QString& value : values)
        literals << literal(value);
    return insertCardText(literal(date), literals);
}

QString insertCardSql()
{
    return insertCardText(kPlaceholder, QStringList(kCardFieldCount, kPlaceholder));
}

QString lastCardIdSql()
{
    return QStringLiteral("select max(ID) as LastID from D_B");
}

QString cardsAfterSql(qint64 lastId)
{
    return QStringLiteral("select ID from D_B where ID > %1").arg(lastId);
}

} // namespace ostrel

#include "settings_statements.h"

#include "engine/sql_text.h"

namespace ostrel {

QString categoryListSql()
{
    return QStringLiteral("Select theName as 名片分类, ID from D_Type order by id desc");
}

QString categoryByNameSql(const QString& name)
{
    return QStringLiteral("Select ID from D_Type Where (theName = '") + sqlQuote(name) + QStringLiteral("')");
}

QString categoryInsertSql(const QString& name)
{
    return QStringLiteral("Insert into D_Type(theName) Values('") + sqlQuote(name) + QStringLiteral("')");
}

QString categoryDeleteSql(qint64 id)
{
    return QStringLiteral("Delete * from D_Type Where (ID = ") + QString::number(id) + QStringLiteral(")");
}

QString defaultsSql()
{
    return QStringLiteral("select theType,theSex,theP from D_Mr");
}

QString defaultsRowSql()
{
    return QStringLiteral("select theType from D_Mr");
}

QString defaultsInsertSql(const QString& type, const QString& sex, const QString& province)
{
    return QStringLiteral("Insert into D_Mr(theType,theSex,theP) Values('") + sqlQuote(type) + QStringLiteral("','")
        + sqlQuote(sex) + QStringLiteral("','") + sqlQuote(province) + QStringLiteral("')");
}

QString defaultsUpdateSql(const QString& type, const QString& sex, const QString& province)
{
    return QStringLiteral("UPdate D_Mr Set theType='") + sqlQuote(type) + QStringLiteral("',theSex='") + sqlQuote(sex)
        + QStringLiteral("',theP='") + sqlQuote(province) + QStringLiteral("'");
}

QString columnSettingSql(const QString& id)
{
    return QStringLiteral("SELECT theWidth, theXS FROM D_XS ") + QStringLiteral("WHERE (ID = ") + id + QStringLiteral(") ");
}

QString columnSaveSql(const QString& width, const QString& shown, const QString& id)
{
    return QStringLiteral("UPDATE D_XS SET theWidth = ") + width + QStringLiteral(", theXS = ") + shown
        + QStringLiteral(" ") + QStringLiteral(" Where (ID = ") + id + QStringLiteral(")");
}

QString columnOrderSql()
{
    return QStringLiteral("SELECT theInt AS 序号, theV AS 项目 FROM D_XS ") + QStringLiteral("ORDER BY theInt");
}

QString columnPositionSql(int newPosition, int oldPosition)
{
    return QStringLiteral("UPDATE D_XS SET theInt=") + QString::number(newPosition) + QStringLiteral(" WHERE (theInt=")
        + QString::number(oldPosition) + QStringLiteral(")");
}

} // namespace ostrel

#pragma once
#include <QString>

namespace ostrel {

// The statements of the settings windows (categories, defaults, displayed columns and their
// order), as plain text. Every typed value goes through sqlQuote; row IDs, widths and
// positions are numbers the windows have read or made.

// The categories, newest first: 名片分类, ID.
QString categoryListSql();
// The category of that name, if there is one.
QString categoryByNameSql(const QString& name);
QString categoryInsertSql(const QString& name);
QString categoryDeleteSql(qint64 id);

// The one row of default category, sex and province.
QString defaultsSql();
// Whether the row of defaults is there.
QString defaultsRowSql();
QString defaultsInsertSql(const QString& type, const QString& sex, const QString& province);
QString defaultsUpdateSql(const QString& type, const QString& sex, const QString& province);

// One column's width and whether it is shown.
QString columnSettingSql(const QString& id);
// Saves one column's width (a number) and shown flag ("1" or "0").
QString columnSaveSql(const QString& width, const QString& shown, const QString& id);

// The columns in their displayed order: 序号, 项目.
QString columnOrderSql();
// Moves the column at one position to another.
QString columnPositionSql(int newPosition, int oldPosition);

} // namespace ostrel

#pragma once
#include <QHash>
#include <QString>
#include <QStringList>

namespace ostrel {

// Every value typed by the user or read from a file goes into a statement through this:
// a single quote is doubled, so it can never end the literal it stands in, and NUL
// characters (pasted or read from a file) are dropped.
QString sqlQuote(const QString& value);

// A table or column name as both engines read it whatever its spelling: in double quotes,
// a double quote in it doubled.
QString quotedName(QStringView name);

// Adapts statement text written for the original engine to SQLCipher, outside quoted
// literals only: True/False become 1/0 and "Delete * from" becomes "Delete from".
QString adaptSql(const QString& sql);

// Adapts the same statement text to a PostgreSQL server whose schema came from the same
// schema source, outside quoted literals only: True/False become 1/0, "Delete * from"
// becomes "Delete from", table and column names of the schema and the names given after AS
// (names: keyed by lower-case spelling) are quoted as the schema writes them (so their case holds), ? and ?N become $N (or the
// N-th of parameterNames), ifnull becomes coalesce, a LIKE pattern literal gets ESCAPE ''
// (a backslash is no escape, as in the file), "insert or replace" becomes an insert that
// updates the row of the same first column (the table's key), and "PRAGMA name(arg)" reads
// the server's function pragma_name('arg').
QString adaptServerSql(const QString& sql, const QHash<QString, QString>& names, const QStringList& parameterNames = {});

// The condition that a month-day expression lies between two "mm-dd" texts, both ends
// included. A range whose start sorts after its end runs over the year end: "12-28" to
// "01-04" takes 12-28..12-31 and 01-01..01-04. The texts are quoted here.
QString monthDayBetween(const QString& expression, const QString& from, const QString& to);

} // namespace ostrel

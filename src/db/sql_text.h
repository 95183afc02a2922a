#pragma once
#include <QString>

namespace ostrel {

// Every value typed by the user or read from a file goes into a statement through this:
// a single quote is doubled, so it can never end the literal it stands in, and NUL
// characters (pasted or read from a file) are dropped.
QString sqlQuote(const QString& value);

// Adapts statement text written for the original engine to SQLCipher, outside quoted
// literals only: True/False become 1/0 and "Delete * from" becomes "Delete from".
QString adaptSql(const QString& sql);

// The condition that a month-day expression lies between two "mm-dd" texts, both ends
// included. A range whose start sorts after its end runs over the year end: "12-28" to
// "01-04" takes 12-28..12-31 and 01-01..01-04. The texts are quoted here.
QString monthDayBetween(const QString& expression, const QString& from, const QString& to);

} // namespace ostrel

#pragma once
#include <QDate>
#include <QString>

namespace ostrel {

// Today from the local clock, or the day a test has set.
QDate today();
// Tests set the day; an invalid date goes back to the local clock.
void setToday(const QDate& day);

// "yyyy-mm-dd", month and day zero-padded: the form every stored date has.
QString dateText(const QDate& day);
// "mm-dd": characters 6 to 10 of a date text.
QString monthDayText(const QDate& day);
// The same day one month earlier; in a shorter month, its last day (31 March -> end of February).
QDate oneMonthEarlier(const QDate& day);
// The same day one month later, by the same rule.
QDate oneMonthLater(const QDate& day);

} // namespace ostrel

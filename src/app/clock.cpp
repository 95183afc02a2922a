#include "clock.h"

namespace ostrel {

namespace {
QDate fixedToday;
}

QDate today()
{
    return fixedToday.isValid() ? fixedToday : QDate::currentDate();
}

void setToday(const QDate& day)
{
    fixedToday = day;
}

QString dateText(const QDate& day)
{
    return QStringLiteral("%1-%2-%3")
        .arg(day.year(), 4, 10, QLatin1Char('0'))
        .arg(day.month(), 2, 10, QLatin1Char('0'))
        .arg(day.day(), 2, 10, QLatin1Char('0'));
}

QString monthDayText(const QDate& day)
{
    return dateText(day).mid(5, 5);
}

// QDate::addMonths keeps the day where the month has it and takes the month's last day
// where it does not.
QDate oneMonthEarlier(const QDate& day)
{
    return day.addMonths(-1);
}

QDate oneMonthLater(const QDate& day)
{
    return day.addMonths(1);
}

} // namespace ostrel

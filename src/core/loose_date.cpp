#include "core/loose_date.h"

#include <QDate>
#include <QRegularExpression>

namespace ostrel {

namespace {

// Year, month and day as typed, not yet checked against the calendar.
struct Parts {
    int year = 0; // 0: a month-day without a year
    int month = 0;
    int day = 0;
};

// Full-width digits and marks (an input method's "２０２４／６／５") read as their plain forms.
QString folded(const QString& typed)
{
    return typed.normalized(QString::NormalizationForm_KC).trimmed();
}

std::optional<Parts> dateParts(const QString& text)
{
    static const QRegularExpression separated(QStringLiteral("^([0-9]{4})([-/.])([0-9]{1,2})\\2([0-9]{1,2})$"));
    static const QRegularExpression compact(QStringLiteral("^([0-9]{4})([0-9]{2})([0-9]{2})$"));
    static const QRegularExpression chinese(QStringLiteral("^([0-9]{4})年([0-9]{1,2})月([0-9]{1,2})日?$"));
    if (const QRegularExpressionMatch m = separated.match(text); m.hasMatch())
        return Parts{m.captured(1).toInt(), m.captured(3).toInt(), m.captured(4).toInt()};
    for (const QRegularExpression* form : {&compact, &chinese})
        if (const QRegularExpressionMatch m = form->match(text); m.hasMatch())
            return Parts{m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()};
    return std::nullopt;
}

std::optional<Parts> monthDayParts(const QString& text)
{
    static const QRegularExpression separated(QStringLiteral("^([0-9]{1,2})[-/.]([0-9]{1,2})$"));
    static const QRegularExpression compact(QStringLiteral("^([0-9]{2})([0-9]{2})$"));
    static const QRegularExpression chinese(QStringLiteral("^([0-9]{1,2})月([0-9]{1,2})日?$"));
    for (const QRegularExpression* form : {&separated, &compact, &chinese})
        if (const QRegularExpressionMatch m = form->match(text); m.hasMatch())
            return Parts{0, m.captured(1).toInt(), m.captured(2).toInt()};
    return dateParts(text);
}

QString twoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

} // namespace

std::optional<QString> normalDate(const QString& typed)
{
    const std::optional<Parts> p = dateParts(folded(typed));
    if (!p || !QDate(p->year, p->month, p->day).isValid())
        return std::nullopt;
    return QStringLiteral("%1-%2-%3").arg(p->year, 4, 10, QLatin1Char('0')).arg(twoDigits(p->month), twoDigits(p->day));
}

std::optional<QString> normalMonthDay(const QString& typed)
{
    const std::optional<Parts> p = monthDayParts(folded(typed));
    // Without a year, 29 February is a day: 2000 was a leap year.
    if (!p || !QDate(p->year == 0 ? 2000 : p->year, p->month, p->day).isValid())
        return std::nullopt;
    return twoDigits(p->month) + u'-' + twoDigits(p->day);
}

bool looksLikeDate(const QString& typed)
{
    // Digits and date marks only: meant as a date, even when not in a form above.
    static const QRegularExpression shape(QStringLiteral("^[-/.年月日]*[0-9][-/.年月日0-9]*$"));
    return shape.match(folded(typed)).hasMatch();
}

bool looksLikeMonthDay(const QString& typed)
{
    return looksLikeDate(typed);
}

} // namespace ostrel

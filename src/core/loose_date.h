#pragma once
#include <QString>

#include <optional>

namespace ostrel {

// Dates as users type them, brought to the one form that is stored and compared as text.
// The month-day ranges of the anniversaries read characters 6 to 10 of a stored date, so
// "2024-6-5" kept as typed would never be found again.

// "yyyy-mm-dd" for a real day typed as year, month and day joined by "-", "/" or ".", as
// "yyyymmdd" or as "yyyy年m月d日" (full-width digits and marks count, blanks around are
// ignored); nothing for anything else, "2024-02-30" and "明天" alike.
std::optional<QString> normalDate(const QString& typed);

// "mm-dd" for a month and day typed as "m-d", "m/d", "m.d", "mmdd" or "m月d日" (29 February
// included), or for a whole date as normalDate takes it; nothing for anything else.
std::optional<QString> normalMonthDay(const QString& typed);

// Whether the text is meant as a date: digits and the marks between them only, whether or
// not it names a real day in a form above. "2024-02-30" and "2024-6/5" are, "明天" and a
// quote are not.
bool looksLikeDate(const QString& typed);
bool looksLikeMonthDay(const QString& typed);

} // namespace ostrel

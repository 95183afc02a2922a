#pragma once
#include <QString>

class QLineEdit;
class QWidget;

namespace ostrel {

// What a date box holds: a whole date ("yyyy-mm-dd") or a month and day ("mm-dd").
enum class DateForm { Date, MonthDay };

// A date about to be saved: the box's text is put into the stored form; one that is not a
// real day (or is empty) is refused with a message naming the box, which gets the focus.
// Returns whether the box now holds a date to save.
bool takeDate(QWidget* window, QLineEdit* box, const QString& boxName, DateForm form);

// A bound of a search range: as takeDate for text meant as a date (digits and date marks),
// so "2024-02-30" is refused rather than finding nothing; any other text goes to the search
// as typed. Returns whether the search may run.
bool takeDateBound(QWidget* window, QLineEdit* box, const QString& boxName, DateForm form);

} // namespace ostrel

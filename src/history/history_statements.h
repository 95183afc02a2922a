#pragma once
#include <QString>

namespace ostrel {

// The statements of the visit and anniversary windows, as plain text. Every typed value
// goes through sqlQuote; card and record IDs are numbers the windows have checked or read.

// Which records of a card a window keeps.
enum class CardRecords { Visits, Anniversaries };

// The records of one card, newest first: ID, the date, (the visit kind,) the memo.
QString cardRecordsSql(CardRecords records, const QString& cardId);
QString visitInsertSql(const QString& cardId, const QString& date, const QString& kind, const QString& memo);
QString anniversaryInsertSql(const QString& cardId, const QString& date, const QString& memo);
QString cardRecordDeleteSql(CardRecords records, const QString& id);

// The overviews of all records with their card's name and sex, narrowed to a range when
// ranged: entry dates ("yyyy-mm-dd") for visits, month-days ("mm-dd") for anniversaries.
QString visitOverviewSql(bool ranged, const QString& from, const QString& to);
QString anniversaryOverviewSql(bool ranged, const QString& from, const QString& to);

} // namespace ostrel

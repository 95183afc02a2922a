#pragma once
#include "core/new_card_statements.h"

#include <QString>
#include <QStringList>

namespace ostrel {

// The card statements of the main window, the editor and the advanced search, as plain text
// (those that add cards are core's, included above); the 24 card fields come from the field
// table. Every value goes through sqlQuote; a card ID must be a decimal number (EngineError
// otherwise), since it stands in the text unquoted.

// Whether text is a card ID the statements accept: 1 to 18 ASCII digits.
bool isCardId(const QString& text);

// The update of an existing card's 24 fields; theDate and theDel stay.
QString updateCardSql(const QStringList& values, const QString& cardId);
// One card by its ID, whatever its theDel.
QString loadCardSql(const QString& cardId);
// The card by its ID when it is live.
QString liveCardSql(const QString& cardId);
// The advanced search's filter: a clause per filled value, in field-table order.
QString cardSearchFilter(const QStringList& values);

// The main window's card list. Its card IDs come from the list itself (the engine's own
// numbers), so they are not checked again.

// The displayed columns (theName, theWidth, theV) in their order.
QString displayedColumnsSql();
// One displayed column of the card list: ",<column> AS <title>".
QString displayedColumnText(const QString& column, const QString& title);
// The live cards, newest first: ID, then the displayed columns, narrowed by the filter.
QString cardListSql(const QString& displayedColumns, const QString& filter);
// The visits and the anniversaries of the cards numbered ?1 to ?2. The counters add them up
// over the runs of consecutive IDs of the list, which holds exactly the live cards its
// filter leaves: the card indexes are counted, no visit or anniversary is read.
QString visitAndAnniversaryCountSql();
// The simple search's clauses, each beginning " AND (".
QString entryDateClause(const QString& from, const QString& to);
QString categoryClause(const QString& category);
QString nameClause(const QString& name);
QString sexClause(const QString& sex);
QString provinceClause(const QString& province);
// Marks the card deleted; the ID comes from the list.
QString softDeleteSql(const QString& cardId);
// The name of a card, by the ID from the list.
QString cardNameSql(const QString& cardId);
// The anniversaries whose month-day lies between from and to ("mm-dd").
QString anniversaryReminderSql(const QString& from, const QString& to);
// ID and the 24 fields of the cards whose IDs are bound to ?1 … ?count.
QString cardsByIdSql(int count);
// The lists a vCard's values are matched against: category names, province names, and the
// default category (D_Mr).
QString categoryNamesSql();
QString provinceNamesSql();
QString defaultCategorySql();

} // namespace ostrel

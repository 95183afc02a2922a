#pragma once
#include <QString>
#include <QStringList>

namespace ostrel {

// The card statements of the editor, the import and the advanced search, built from the
// field table as plain text. Every value goes through sqlQuote; a card ID must be a
// decimal number (EngineError otherwise), since it stands in the text unquoted.

// Whether text is a card ID the statements accept: 1 to 18 ASCII digits.
bool isCardId(const QString& text);

// "select ID from D_B Where theType='…' and BName='…' and BSex='…' and theDel='否'"
QString duplicateCheckSql(const QString& type, const QString& name, const QString& sex);
// The insert of a new card: theDate, the 24 fields in field-table order, theDel "否".
QString insertCardSql(const QString& date, const QStringList& values);
// The update of an existing card's 24 fields; theDate and theDel stay.
QString updateCardSql(const QStringList& values, const QString& cardId);
// One card by its ID, whatever its theDel.
QString loadCardSql(const QString& cardId);
// The card by its ID when it is live.
QString liveCardSql(const QString& cardId);
// The advanced search's filter: a clause per filled value, in field-table order.
QString cardSearchFilter(const QStringList& values);

} // namespace ostrel

#pragma once
#include <QString>
#include <QStringList>

namespace ostrel {

// The statements that add cards, as the editor and the import run them: the duplicate check,
// the insert, and the card numbers around an import. The 24 card fields come from the field
// table; every value goes through sqlQuote.

// Throws EngineError unless values holds one value per card field.
void requireAllCardFields(const QStringList& values);

// "select ID from D_B Where theType='…' and BName='…' and BSex='…' and theDel='否'"
QString duplicateCheckSql(const QString& type, const QString& name, const QString& sex);
// The same with a `?` for each value (category, name, sex), to prepare once and bind.
QString duplicateCheckSql();
// The insert of a new card: theDate, the 24 fields in field-table order, theDel "否".
QString insertCardSql(const QString& date, const QStringList& values);
// The same with a `?` for each value (the date, then the 24 fields), to prepare once and bind.
QString insertCardSql();
// The highest card ID so far: LastID. Cards added later are numbered above it.
QString lastCardIdSql();
// The cards numbered above lastId.
QString cardsAfterSql(qint64 lastId);

} // namespace ostrel

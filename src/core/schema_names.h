#pragma once
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace ostrel {

// The text of data/schema.sql, built into the program.
const char* schemaSql();

// A table of the card database and its columns, as written in the schema.
struct SchemaTable {
    QString name;
    QStringList columns;
};

// The tables of data/schema.sql followed by the search key table, in their order.
const std::vector<SchemaTable>& schemaTables();

// Every table and column name of schemaTables() plus the server's change counter column,
// keyed by its lower-case spelling, giving the spelling the schema writes.
const QHash<QString, QString>& schemaNames();

// The column of D_B that a server raises on every change of a card.
inline constexpr char kChangeCounterColumn[] = "theVer";

// The statements of a schema text, comments left out, each without its closing ';'.
QStringList splitStatements(const QString& sql);

} // namespace ostrel

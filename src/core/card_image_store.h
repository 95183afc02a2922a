#pragma once
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace ostrel {

class Database;

// The paper card a card was read from, kept beside it in the card database: one JPEG per
// side in the program-created table D_BImage (DID, theSide, theJpeg). An image stays as long
// as its card's row does (a deleted card keeps its row, so its image too); the database
// itself removes the images of a row that is removed, whoever removes it.
enum class CardSide { Front = 1, Back = 2 };

// The long side of a kept image at most, in pixels.
inline constexpr int kKeptImageSide = 1600;

// The file's table and the trigger that removes a removed card's images.
QStringList fileCardImageStatements();
// One row, 1 when the file has the table.
QString cardImageTableExistsSql();
// The server's table (bytea, removed with its card by the foreign key) and the hex() the
// shared reading statement calls, which the file's engine has built in.
QStringList serverCardImageStatements();

// Whether the database has the table: a file opened read-only before its upgrade, or a team
// server made by an older version, has not.
bool keepsCardImages(Database& db);

// The image as it is kept: scaled down to kKeptImageSide on its long side, JPEG. Empty for
// a null image.
QByteArray keptCardJpeg(const QImage& image);

// Writes (or replaces) a side of the card's image; inside the caller's transaction, so a
// card and its image are saved together or not at all.
void saveCardImage(Database& db, int64_t card, CardSide side, const QByteArray& jpeg);
// The kept JPEG of a side of the card; empty when there is none.
QByteArray cardImage(Database& db, int64_t card, CardSide side = CardSide::Front);

} // namespace ostrel

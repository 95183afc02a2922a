#pragma once
#include "core/card_vcard.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace ostrel {
class Database;
}

namespace ostrel::sync {

// The cards of the card database as the sync reads and writes them, and their vCard text.

struct LocalCard {
    int64_t id = 0;
    bool deleted = false;
    CardValues values;
};

// Every card, live or deleted, in ID order.
std::vector<LocalCard> loadLocalCards(Database& db);
std::optional<LocalCard> loadLocalCard(Database& db, int64_t id);
// Writes the values over the card (making it live again), or adds a card with them; its
// search key follows. Inside the caller's transaction.
void writeLocalCard(Database& db, int64_t id, const CardValues& values);
int64_t addLocalCard(Database& db, const CardValues& values, const QString& entryDate);
// Marks the card deleted, as the main window's delete does: it stays recoverable.
void deleteLocalCard(Database& db, int64_t id);

// The lists the vCard mapping needs, from the database.
VCardLists loadVCardLists(Database& db);

// The card as vCard 3.0 with its UID.
QByteArray cardText(const CardValues& values, const QString& uid);
// The first card of a text; none when the text holds no card.
std::optional<CardValues> readCardText(const QByteArray& text, const VCardLists& lists);

// The UID and the REV (as UTC "yyyy-MM-ddTHH:mm:ssZ", empty when absent or unreadable) of
// the first card of a text.
struct CardStamp {
    QString uid;
    QString revision;
};
CardStamp cardStamp(const QByteArray& text);

} // namespace ostrel::sync

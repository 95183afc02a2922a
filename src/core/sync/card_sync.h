#pragma once
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace ostrel {
class Database;
}

namespace ostrel::sync {

struct SyncAccount {
    QUrl book; // the address book's own URL
    QString user;
    QString password;
    QString trustedCertificate; // SHA-256 fingerprint the user confirmed, hex
    int timeoutSeconds = 60;
};

// The account kept in the card database (sync_state.h); an empty book when none is set.
SyncAccount loadSyncAccount(Database& db);
void saveSyncAccount(Database& db, const QString& url, const SyncAccount& account);

struct SyncReport {
    int uploaded = 0;
    int downloaded = 0;
    int deletedHere = 0;  // deleted on the server, marked deleted here
    int deletedThere = 0; // deleted here, removed from the server
    int conflicts = 0;    // fields changed on both sides; the other value kept in 补充信息
    bool full = false;    // every card compared (first sync, or a token the server forgot)
    QStringList refused;  // cards the server would not take, and cards from it that could not be read
    // What was done, in Chinese, one line per kind of change.
    QString summary() const;
};

// Told the step (in Chinese), how far it is, and of how many.
using SyncProgress = std::function<void(const QString& step, int done, int total)>;

// One sync of the card database with the address book, both ways. Each card's change is
// committed as it is done, so a sync stopped midway (a server gone, a timeout) keeps what it
// did and the next one goes on from there without adding a card twice. Throws SyncError
// (carddav_client.h) for what stops the whole sync, EngineError for the database's own.
SyncReport syncCards(Database& db, const SyncAccount& account, const SyncProgress& progress = {});

} // namespace ostrel::sync

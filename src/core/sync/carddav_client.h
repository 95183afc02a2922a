#pragma once
#include "core/sync/dav_xml.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <stdexcept>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

namespace ostrel::sync {

// A failure of the address-book server, with the sentence the user is shown.
class SyncError : public std::runtime_error {
public:
    enum Kind { Unreachable, Timeout, Unauthorized, Forbidden, NotCardDav, Untrusted, InvalidToken, Server, Malformed, Stopped };
    SyncError(Kind kind, const QString& message, int status = 0)
        : std::runtime_error(message.toStdString()), m_kind(kind), m_message(message), m_status(status) {}
    Kind kind() const { return m_kind; }
    const QString& message() const { return m_message; }
    int status() const { return m_status; }
    // The SHA-256 fingerprint (hex) of a certificate that was not trusted.
    QString fingerprint;

private:
    Kind m_kind;
    QString m_message;
    int m_status;
};

// A certificate fingerprint as it is shown or typed ("AB:CD:…", blanks, either case) in the
// form kept: 64 lower-case hex digits; empty when the text is not a SHA-256 fingerprint.
QString normalFingerprint(const QString& text);
// The kept form shown in pairs, "AB:CD:…", as browsers show it.
QString shownFingerprint(const QString& hex);

// The server address a user typed ("dav.example.com", "https://…/"); throws SyncError when
// it is not an http or https address.
QUrl serverUrl(const QString& typed);

struct AddressBook {
    QUrl url;
    QString name;
};

// A member of an address book: its address, its version and, once fetched, its text.
struct DavCard {
    QString href; // the path on the server (pathOf)
    QString etag;
    QByteArray data;
};

struct CollectionState {
    QString syncToken; // empty when the server keeps none
    QString ctag;
    bool syncCollection = false; // offers the sync-collection report
};

struct SyncChanges {
    std::vector<DavCard> changed; // etags only; fetch the texts with multiget
    QStringList removed;          // hrefs
    QString token;
};

// The outcome of a PUT or DELETE: done (with the new ETag when the server gave one), the
// card changed on the server meanwhile (412), or refused (the server's words kept).
struct WriteResult {
    enum Outcome { Done, Changed, Refused } outcome = Done;
    QString etag;
    int status = 0;
    QString reason;
};

// A CardDAV client for one account. Each call returns when the server has answered (a local
// event loop runs meanwhile), so a sync reads as a sequence of steps on its worker thread;
// the client belongs to the thread that made it. Throws SyncError.
class CardDavClient {
public:
    CardDavClient(const QString& user, const QString& password, int timeoutSeconds = 60);
    ~CardDavClient();
    CardDavClient(const CardDavClient&) = delete;
    CardDavClient& operator=(const CardDavClient&) = delete;

    // A certificate the user confirmed (SHA-256 fingerprint in hex) is trusted even though
    // no authority vouches for it.
    void trustCertificate(const QString& fingerprint) { m_trusted = normalFingerprint(fingerprint); }

    // The address books reachable from url: the book itself when url names one, else those
    // of the account found through /.well-known/carddav, current-user-principal and
    // addressbook-home-set.
    std::vector<AddressBook> discover(const QUrl& url);
    // Makes an address book named name in the account's home; returns its address.
    QUrl createAddressBook(const QUrl& url, const QString& name);

    CollectionState state(const QUrl& book);
    // The changes since token (everything when token is empty). An expired or unknown token
    // throws SyncError::InvalidToken.
    SyncChanges changesSince(const QUrl& book, const QString& token);
    // Every member with its ETag.
    std::vector<DavCard> list(const QUrl& book);
    // The texts of the members named; members the server no longer has are left out.
    std::vector<DavCard> fetch(const QUrl& book, const QStringList& hrefs);

    // Writes a card: over the version etag, or as a new card (If-None-Match: *) when etag is empty.
    WriteResult put(const QUrl& book, const QString& href, const QByteArray& vcard, const QString& etag);
    // Removes a card at version etag; a card already gone counts as done.
    WriteResult remove(const QUrl& book, const QString& href, const QString& etag);

    // The address of href on the server of book.
    static QUrl resolve(const QUrl& book, const QString& href);
    // The path of href on that server, encoded: the one form every href of a card is kept
    // and compared in, whichever form the server wrote.
    static QString pathOf(const QUrl& book, const QString& href);

private:
    struct Answer {
        int status = 0;
        QByteArray body;
        QString etag;
        QUrl location;
    };
    Answer send(const QByteArray& verb, const QUrl& url, const QByteArray& body,
                const QList<std::pair<QByteArray, QByteArray>>& headers = {});
    Answer sendFollowing(const QByteArray& verb, const QUrl& url, const QByteArray& body, const QByteArray& depth);
    MultiStatus multiStatus(const QByteArray& verb, const QUrl& url, const QByteArray& body, const QByteArray& depth);
    [[noreturn]] void fail(QNetworkReply& reply, bool timedOut, const QUrl& url);
    void requireSuccess(const Answer& answer, const QUrl& url);
    std::vector<AddressBook> booksAt(const QUrl& home);
    QUrl homeOf(const QUrl& url);

    std::unique_ptr<QNetworkAccessManager> m_network;
    QByteArray m_authorization;
    QString m_trusted;
    int m_timeoutMs;
};

} // namespace ostrel::sync

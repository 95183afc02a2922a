#include "core/sync/carddav_client.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUuid>

#include <cctype>
#if QT_CONFIG(ssl)
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#endif

namespace ostrel::sync {

namespace {

// A larger answer than this is refused rather than held: a multiget of a few hundred cards
// stays far below it.
constexpr qint64 kMaxAnswerBytes = 256LL * 1024 * 1024;
// Cards asked for in one multiget.
constexpr int kFetchBatch = 250;
constexpr int kMaxRedirects = 5;

const QByteArray kXmlType = "application/xml; charset=utf-8";

QByteArray propfindBody(const char* props)
{
    return QByteArrayLiteral(R"(<?xml version="1.0" encoding="utf-8"?>)"
                             R"(<D:propfind xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav" xmlns:CS="http://calendarserver.org/ns/">)"
                             "<D:prop>")
        + props + "</D:prop></D:propfind>";
}

QString hostOf(const QUrl& url)
{
    return url.toString(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

bool sameCollection(const QUrl& book, const QString& href)
{
    const QString path = CardDavClient::resolve(book, href).path();
    const QString own = book.path();
    return path == own || path + u'/' == own || path == own + u'/';
}

} // namespace

QString normalFingerprint(const QString& text)
{
    QString hex;
    for (const QChar c : text) {
        if (c.isSpace() || c == u':')
            continue;
        if (c.unicode() > 0x7f || !std::isxdigit(c.unicode()))
            return {};
        hex += c.toLower();
    }
    return hex.size() == 64 ? hex : QString();
}

QString shownFingerprint(const QString& hex)
{
    QStringList pairs;
    for (qsizetype i = 0; i + 1 < hex.size(); i += 2)
        pairs << hex.mid(i, 2).toUpper();
    return pairs.join(u':');
}

QUrl serverUrl(const QString& typed)
{
    const QUrl url = QUrl::fromUserInput(typed.trimmed());
    if (!url.isValid() || url.host().isEmpty() || (url.scheme() != QStringLiteral("http") && url.scheme() != QStringLiteral("https")))
        throw SyncError(SyncError::NotCardDav,
                        QStringLiteral("“%1”不是服务器地址，请写成 https://服务器/ 这样的网址。").arg(typed.trimmed().left(200)));
    return url;
}

CardDavClient::CardDavClient(const QString& user, const QString& password, int timeoutSeconds)
    : m_network(std::make_unique<QNetworkAccessManager>()), m_timeoutMs(timeoutSeconds * 1000)
{
    if (!user.isEmpty())
        m_authorization = "Basic " + (user + u':' + password).toUtf8().toBase64();
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

CardDavClient::~CardDavClient() = default;

QUrl CardDavClient::resolve(const QUrl& book, const QString& href)
{
    return book.resolved(QUrl::fromEncoded(href.toUtf8()));
}

QString CardDavClient::pathOf(const QUrl& book, const QString& href)
{
    return resolve(book, href).path(QUrl::FullyEncoded);
}

CardDavClient::Answer CardDavClient::send(const QByteArray& verb, const QUrl& url, const QByteArray& body,
                                          const QList<std::pair<QByteArray, QByteArray>>& headers)
{
    QNetworkRequest request(url);
    if (!m_authorization.isEmpty())
        request.setRawHeader("Authorization", m_authorization);
    for (const auto& [name, value] : headers)
        request.setRawHeader(name, value);
    std::unique_ptr<QNetworkReply> reply(m_network->sendCustomRequest(request, verb, body));
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool timedOut = false;
    bool tooLarge = false;
    QString fingerprint;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    // A slow but moving answer is not a dead server: each piece restarts the clock.
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64) {
        timer.start(m_timeoutMs);
        if (received > kMaxAnswerBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
#if QT_CONFIG(ssl)
    QObject::connect(reply.get(), &QNetworkReply::sslErrors, &loop, [&](const QList<QSslError>&) {
        const QSslCertificate peer = reply->sslConfiguration().peerCertificate();
        fingerprint = QString::fromLatin1(peer.digest(QCryptographicHash::Sha256).toHex());
        if (!m_trusted.isEmpty() && fingerprint == m_trusted)
            reply->ignoreSslErrors();
    });
#endif
    timer.start(m_timeoutMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (tooLarge)
        throw SyncError(SyncError::Malformed, QStringLiteral("同步服务器 %1 的回应过大（超过 %2 MB），已停止读取。")
                                                  .arg(hostOf(url)).arg(kMaxAnswerBytes >> 20));
    Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (answer.status == 0) {
        if (reply->error() == QNetworkReply::SslHandshakeFailedError || !fingerprint.isEmpty()) {
            SyncError error(SyncError::Untrusted,
                            QStringLiteral("同步服务器 %1 的证书不受信任（%2）。确认这是您的服务器后，可以信任此证书的指纹：%3")
                                .arg(hostOf(url), reply->errorString(), shownFingerprint(fingerprint)));
            error.fingerprint = fingerprint;
            throw error;
        }
        fail(*reply, timedOut, url);
    }
    answer.body = reply->readAll();
    answer.etag = QString::fromUtf8(reply->rawHeader("ETag"));
    const QByteArray location = reply->rawHeader("Location");
    if (!location.isEmpty())
        answer.location = url.resolved(QUrl::fromEncoded(location));
    return answer;
}

void CardDavClient::fail(QNetworkReply& reply, bool timedOut, const QUrl& url)
{
    if (timedOut)
        throw SyncError(SyncError::Timeout, QStringLiteral("同步服务器 %1 在 %2 秒内没有回应，同步已停止；已完成的部分保留，下次同步会接着完成。")
                                                .arg(hostOf(url)).arg(m_timeoutMs / 1000));
    throw SyncError(SyncError::Unreachable, QStringLiteral("无法连接同步服务器 %1（%2）。请检查服务器地址、网络，以及服务器是否在运行。")
                                                .arg(hostOf(url), reply.errorString()));
}

void CardDavClient::requireSuccess(const Answer& answer, const QUrl& url)
{
    if (answer.status >= 200 && answer.status < 300)
        return;
    if (answer.status == 401)
        throw SyncError(SyncError::Unauthorized, QStringLiteral("同步服务器 %1 拒绝了用户名或密码（401）。请在同步设置中检查用户名和密码。")
                                                     .arg(hostOf(url)), 401);
    if (answer.status == 403)
        throw SyncError(SyncError::Forbidden, QStringLiteral("同步服务器拒绝访问 %1（403）：此用户无权使用这个地址。")
                                                  .arg(url.toDisplayString()), 403);
    if (answer.status == 404 || answer.status == 405 || answer.status == 501)
        throw SyncError(SyncError::NotCardDav, QStringLiteral("%1 不是 CardDAV 通讯录服务器（HTTP %2）。请检查服务器地址。")
                                                   .arg(url.toDisplayString()).arg(answer.status), answer.status);
    throw SyncError(SyncError::Server, QStringLiteral("同步服务器 %1 出错（HTTP %2）：%3")
                                           .arg(url.toDisplayString()).arg(answer.status)
                                           .arg(QString::fromUtf8(answer.body.left(200)).simplified()), answer.status);
}

CardDavClient::Answer CardDavClient::sendFollowing(const QByteArray& verb, const QUrl& start, const QByteArray& body,
                                                   const QByteArray& depth)
{
    QUrl url = start;
    for (int hop = 0;; ++hop) {
        Answer answer = send(verb, url, body, {{"Content-Type", kXmlType}, {"Depth", depth}});
        const bool moved = answer.status == 301 || answer.status == 302 || answer.status == 303 || answer.status == 307
            || answer.status == 308;
        if (!moved || answer.location.isEmpty() || hop == kMaxRedirects)
            return answer;
        url = answer.location;
    }
}

MultiStatus CardDavClient::multiStatus(const QByteArray& verb, const QUrl& url, const QByteArray& body, const QByteArray& depth)
{
    const Answer answer = sendFollowing(verb, url, body, depth);
    requireSuccess(answer, url);
    MultiStatus result;
    QString why;
    if (answer.status != 207 || !parseMultiStatus(answer.body, result, why))
        throw SyncError(SyncError::NotCardDav, QStringLiteral("%1 的回应不是 WebDAV 的（HTTP %2%3）：这不是 CardDAV 通讯录服务器。")
                                                   .arg(url.toDisplayString()).arg(answer.status)
                                                   .arg(why.isEmpty() ? QString() : QStringLiteral("，") + why));
    return result;
}

std::vector<AddressBook> CardDavClient::booksAt(const QUrl& home)
{
    const MultiStatus listing = multiStatus("PROPFIND", home, propfindBody("<D:resourcetype/><D:displayname/>"), "1");
    std::vector<AddressBook> books;
    for (const DavResponse& response : listing.responses)
        if (response.has("resourcetype", "addressbook"))
            books.push_back({resolve(home, response.href), response.prop("displayname")});
    return books;
}

QUrl CardDavClient::homeOf(const QUrl& url)
{
    const QByteArray principalProps = propfindBody("<D:current-user-principal/><C:addressbook-home-set/>");
    auto principalAt = [&](const QUrl& at) -> std::pair<QUrl, QUrl> {
        const MultiStatus found = multiStatus("PROPFIND", at, principalProps, "0");
        for (const DavResponse& response : found.responses) {
            const QString home = response.prop("addressbook-home-set");
            if (!home.isEmpty())
                return {QUrl(), resolve(at, home)};
            const QString principal = response.prop("current-user-principal");
            if (!principal.isEmpty())
                return {resolve(at, principal), QUrl()};
        }
        return {};
    };
    auto [principal, home] = principalAt(url);
    if (principal.isEmpty() && home.isEmpty())
        std::tie(principal, home) = principalAt(url.resolved(QUrl(QStringLiteral("/.well-known/carddav"))));
    if (home.isEmpty() && !principal.isEmpty())
        home = principalAt(principal).second;
    if (home.isEmpty())
        throw SyncError(SyncError::NotCardDav, QStringLiteral("在 %1 找不到通讯录（服务器没有给出 addressbook-home-set）：这不是 CardDAV 通讯录服务器，或地址不对。")
                                                   .arg(url.toDisplayString()));
    return home;
}

std::vector<AddressBook> CardDavClient::discover(const QUrl& url)
{
    const MultiStatus self = multiStatus("PROPFIND", url, propfindBody("<D:resourcetype/><D:displayname/>"), "0");
    for (const DavResponse& response : self.responses)
        if (response.has("resourcetype", "addressbook"))
            return {{url, response.prop("displayname")}};
    return booksAt(homeOf(url));
}

QUrl CardDavClient::createAddressBook(const QUrl& url, const QString& name)
{
    const QUrl home = homeOf(url);
    QUrl book = home.resolved(QUrl(QUuid::createUuid().toString(QUuid::WithoutBraces) + u'/'));
    const QByteArray body = QByteArrayLiteral(R"(<?xml version="1.0" encoding="utf-8"?>)"
                                              R"(<D:mkcol xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav"><D:set><D:prop>)"
                                              "<D:resourcetype><D:collection/><C:addressbook/></D:resourcetype><D:displayname>")
        + xmlEscaped(name).toUtf8() + "</D:displayname></D:prop></D:set></D:mkcol>";
    requireSuccess(send("MKCOL", book, body, {{"Content-Type", kXmlType}}), book);
    return book;
}

CollectionState CardDavClient::state(const QUrl& book)
{
    const MultiStatus found =
        multiStatus("PROPFIND", book, propfindBody("<D:sync-token/><CS:getctag/><D:supported-report-set/><D:resourcetype/>"), "0");
    CollectionState state;
    for (const DavResponse& response : found.responses) {
        if (!sameCollection(book, response.href))
            continue;
        if (!response.has("resourcetype", "addressbook"))
            throw SyncError(SyncError::NotCardDav, QStringLiteral("%1 不是通讯录。请在同步设置中重新选择通讯录。").arg(book.toDisplayString()));
        state.syncToken = response.prop("sync-token");
        state.ctag = response.prop("getctag");
        state.syncCollection = response.has("supported-report-set", "sync-collection");
    }
    return state;
}

SyncChanges CardDavClient::changesSince(const QUrl& book, const QString& token)
{
    const QByteArray body = QByteArrayLiteral(R"(<?xml version="1.0" encoding="utf-8"?><D:sync-collection xmlns:D="DAV:"><D:sync-token>)")
        + xmlEscaped(token).toUtf8() + "</D:sync-token><D:sync-level>1</D:sync-level><D:prop><D:getetag/></D:prop></D:sync-collection>";
    const Answer answer = send("REPORT", book, body, {{"Content-Type", kXmlType}, {"Depth", "0"}});
    // Servers answer an expired or unknown token differently (403 or 409 with
    // valid-sync-token, some 500): with a token, any refusal but the password's asks for a full sync.
    if (!token.isEmpty() && answer.status >= 400 && answer.status != 401)
        throw SyncError(SyncError::InvalidToken, QStringLiteral("同步服务器不再认得上次同步的标记（HTTP %1），改为完整同步。").arg(answer.status),
                        answer.status);
    requireSuccess(answer, book);
    MultiStatus found;
    QString why;
    if (!parseMultiStatus(answer.body, found, why))
        throw SyncError(SyncError::Malformed, QStringLiteral("同步服务器 %1 的变更列表无法读懂：%2").arg(book.toDisplayString(), why));
    SyncChanges changes;
    changes.token = found.syncToken;
    for (const DavResponse& response : found.responses) {
        if (sameCollection(book, response.href))
            continue;
        // A removed member comes as a 404, in the response or (Xandikos) only in its propstat.
        if (response.status == 404 || !response.props.contains(QStringLiteral("getetag")))
            changes.removed << pathOf(book, response.href);
        else
            changes.changed.push_back({pathOf(book, response.href), response.prop("getetag"), {}});
    }
    return changes;
}

std::vector<DavCard> CardDavClient::list(const QUrl& book)
{
    const MultiStatus found = multiStatus("PROPFIND", book, propfindBody("<D:getetag/><D:resourcetype/>"), "1");
    std::vector<DavCard> cards;
    for (const DavResponse& response : found.responses)
        if (!sameCollection(book, response.href) && !response.has("resourcetype", "collection"))
            cards.push_back({pathOf(book, response.href), response.prop("getetag"), {}});
    return cards;
}

std::vector<DavCard> CardDavClient::fetch(const QUrl& book, const QStringList& hrefs)
{
    std::vector<DavCard> cards;
    for (qsizetype from = 0; from < hrefs.size(); from += kFetchBatch) {
        QByteArray body = QByteArrayLiteral(R"(<?xml version="1.0" encoding="utf-8"?>)"
                                            R"(<C:addressbook-multiget xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">)"
                                            "<D:prop><D:getetag/><C:address-data/></D:prop>");
        for (const QString& href : hrefs.mid(from, kFetchBatch))
            body += "<D:href>" + xmlEscaped(href).toUtf8() + "</D:href>";
        body += "</C:addressbook-multiget>";
        const MultiStatus found = multiStatus("REPORT", book, body, "1");
        for (const DavResponse& response : found.responses)
            if (response.props.contains(QStringLiteral("address-data")))
                cards.push_back({pathOf(book, response.href), response.prop("getetag"), response.prop("address-data").toUtf8()});
    }
    return cards;
}

WriteResult CardDavClient::put(const QUrl& book, const QString& href, const QByteArray& vcard, const QString& etag)
{
    const QUrl url = resolve(book, href);
    const std::pair<QByteArray, QByteArray> condition =
        etag.isEmpty() ? std::pair<QByteArray, QByteArray>{"If-None-Match", "*"} : std::pair<QByteArray, QByteArray>{"If-Match", etag.toUtf8()};
    const Answer answer = send("PUT", url, vcard, {{"Content-Type", "text/vcard; charset=utf-8"}, condition});
    if (answer.status == 412)
        return {WriteResult::Changed, {}, 412, {}};
    if (answer.status == 401)
        requireSuccess(answer, url);
    if (answer.status >= 200 && answer.status < 300)
        return {WriteResult::Done, answer.etag, answer.status, {}};
    return {WriteResult::Refused, {}, answer.status, QString::fromUtf8(answer.body.left(300)).simplified()};
}

WriteResult CardDavClient::remove(const QUrl& book, const QString& href, const QString& etag)
{
    const QUrl url = resolve(book, href);
    QList<std::pair<QByteArray, QByteArray>> headers;
    if (!etag.isEmpty())
        headers.append({"If-Match", etag.toUtf8()});
    const Answer answer = send("DELETE", url, {}, headers);
    if (answer.status == 412)
        return {WriteResult::Changed, {}, 412, {}};
    if (answer.status == 401)
        requireSuccess(answer, url);
    if ((answer.status >= 200 && answer.status < 300) || answer.status == 404)
        return {WriteResult::Done, {}, answer.status, {}};
    return {WriteResult::Refused, {}, answer.status, QString::fromUtf8(answer.body.left(300)).simplified()};
}

} // namespace ostrel::sync

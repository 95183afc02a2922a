#include "core/sync/card_sync.h"

#include "core/sync/card_merge.h"
#include "core/sync/carddav_client.h"
#include "core/sync/sync_cards.h"
#include "core/sync/sync_state.h"
#include "engine/database.h"
#include "engine/transaction.h"

#include <QDate>
#include <QDateTime>
#include <QSet>
#include <QUuid>

namespace ostrel::sync {

namespace {

// Rounds of fetch, merge and write for one card whose server copy keeps changing under it.
constexpr int kMaxRetries = 3;
// A number of our own for the team server's advisory lock, paired with the database's: one
// sync at a time per database, while other databases on the same server sync freely.
constexpr int kSyncLockKey = 0x6f737472;

QString nowText()
{
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + u'Z';
}

// Holds the team server's sync lock for the life of a sync.
class ServerLock {
public:
    explicit ServerLock(Database& db) : m_db(db)
    {
        if (db.has(Capability::LocalFile))
            return;
        bool got = false;
        db.runBound(QStringLiteral("select pg_try_advisory_lock(?1, hashtext(current_database()))"), {kSyncLockKey},
                    [&](const Database::Row& row) { got = row.text(0) == QStringLiteral("t") || row.integer(0) == 1; });
        if (!got)
            throw SyncError(SyncError::Server, QStringLiteral("另一台电脑正在与通讯录服务器同步这个团队数据库，请稍后再同步。"));
        m_held = true;
    }
    ~ServerLock()
    {
        try {
            if (m_held)
                m_db.runBound(QStringLiteral("select pg_advisory_unlock(?1, hashtext(current_database()))"), {kSyncLockKey});
        } catch (...) {
            // The lock goes with the server session in any case.
        }
    }

private:
    Database& m_db;
    bool m_held = false;
};

class CardSync {
public:
    CardSync(Database& db, const SyncAccount& account, const SyncProgress& progress)
        : m_db(db), m_dav(account.user, account.password, account.timeoutSeconds), m_book(account.book), m_progress(progress)
    {
        if (!account.trustedCertificate.isEmpty())
            m_dav.trustCertificate(account.trustedCertificate);
    }

    SyncReport run();

private:
    struct Remote {
        std::vector<DavCard> changed;
        QStringList removed;
        QString token;
        QString ctag;
    };
    Remote remoteChanges();
    void fullListing(Remote& remote, const std::vector<DavCard>& all);
    void takeRemote(const Remote& remote);
    void applyRemoval(const QString& href);
    void applyRemote(const DavCard& card);
    void addRemote(const DavCard& card, const CardValues& values);
    void mergeRemote(SyncRecord record, const DavCard& card, const CardValues& remote);
    void pushLocal();
    void nameNewCards(const std::vector<LocalCard>& cards);
    void pushCard(const LocalCard& card, SyncRecord record);
    void removeCard(const LocalCard& card, const SyncRecord& record);
    bool refetch(const QString& href);
    void upload(const CardValues& values, SyncRecord record, const QString& name, int round = 0);
    // Lists the card as refused; one never stored there gets a new name for the next sync.
    void refuse(SyncRecord record, const QString& name, int status, const QString& reason);
    bool agreed(const CardValues& values, const SyncRecord& record) const;
    void tell(const QString& step, int done, int total) const
    {
        if (m_progress)
            m_progress(step, done, total);
    }

    Database& m_db;
    CardDavClient m_dav;
    QUrl m_book;
    SyncProgress m_progress;
    VCardLists m_lists;
    SyncRecords m_records;
    QHash<QString, int64_t> m_byHref;
    QSet<int64_t> m_done; // cards this run has settled
    SyncReport m_report;
};

void CardSync::takeRemote(const Remote& remote)
{
    QStringList wanted;
    for (const DavCard& card : remote.changed) {
        const auto known = m_byHref.constFind(card.href);
        if (known == m_byHref.constEnd() || m_records[*known].etag != card.etag)
            wanted << card.href;
    }
    tell(QStringLiteral("下载名片"), 0, static_cast<int>(wanted.size()));
    const std::vector<DavCard> fetched = m_dav.fetch(m_book, wanted);
    int done = 0;
    for (const DavCard& card : fetched) {
        applyRemote(card);
        tell(QStringLiteral("下载名片"), ++done, static_cast<int>(fetched.size()));
    }
}

SyncReport CardSync::run()
{
    ServerLock lock(m_db);
    m_lists = loadVCardLists(m_db);
    m_records = loadSyncRecords(m_db);
    for (const auto& [card, record] : m_records)
        if (!record.href.isEmpty())
            m_byHref.insert(record.href, card);
    // The token read before this side's writes does not cover them: a second pass brings it
    // past them, and takes in what the phone changed meanwhile.
    for (int pass = 0; pass < 2; ++pass) {
        const int wrote = m_report.uploaded + m_report.deletedThere;
        tell(QStringLiteral("查询服务器上的变更"), 0, 0);
        const Remote remote = remoteChanges();
        for (const QString& href : remote.removed)
            applyRemoval(href);
        takeRemote(remote);
        if (pass == 0)
            pushLocal();
        // Only a pass that went through to the end moves the marks on.
        Transaction transaction(m_db);
        setSyncSetting(m_db, setting::kToken, remote.token);
        setSyncSetting(m_db, setting::kCtag, remote.ctag);
        transaction.commit();
        if (m_report.uploaded + m_report.deletedThere == wrote)
            break;
    }
    return m_report;
}

CardSync::Remote CardSync::remoteChanges()
{
    Remote remote;
    const CollectionState state = m_dav.state(m_book);
    remote.ctag = state.ctag;
    if (state.syncCollection) {
        const QString token = syncSetting(m_db, setting::kToken);
        SyncChanges changes;
        // Whether this listing is complete: the report's flag says so of any pass, and a
        // second pass after a complete first one lists only what changed since.
        bool full = token.isEmpty();
        try {
            changes = m_dav.changesSince(m_book, token);
        } catch (const SyncError& error) {
            if (error.kind() != SyncError::InvalidToken)
                throw;
            changes = m_dav.changesSince(m_book, {});
            full = true;
        }
        m_report.full = m_report.full || full;
        remote.token = changes.token;
        if (full)
            fullListing(remote, changes.changed);
        else
            remote = {std::move(changes.changed), std::move(changes.removed), changes.token, state.ctag};
        return remote;
    }
    if (!state.ctag.isEmpty() && state.ctag == syncSetting(m_db, setting::kCtag))
        return remote; // nothing changed there
    m_report.full = true;
    fullListing(remote, m_dav.list(m_book));
    return remote;
}

// A complete listing: what it lacks of the cards the server had confirmed is gone there.
void CardSync::fullListing(Remote& remote, const std::vector<DavCard>& all)
{
    QSet<QString> present;
    for (const DavCard& card : all)
        present.insert(card.href);
    for (const auto& [card, record] : m_records)
        if (!record.href.isEmpty() && !record.etag.isEmpty() && !present.contains(record.href))
            remote.removed << record.href;
    remote.changed = all;
}

bool CardSync::agreed(const CardValues& values, const SyncRecord& record) const
{
    if (record.text.isEmpty())
        return false;
    if (cardText(values, record.uid) == record.text.toUtf8())
        return true;
    const std::optional<CardValues> base = readCardText(record.text.toUtf8(), m_lists);
    return base && *base == values;
}

void CardSync::applyRemoval(const QString& href)
{
    const auto known = m_byHref.constFind(href);
    if (known == m_byHref.constEnd())
        return;
    const int64_t id = *known;
    SyncRecord record = m_records[id];
    const std::optional<LocalCard> local = loadLocalCard(m_db, id);
    Transaction transaction(m_db);
    if (local && !local->deleted && !agreed(local->values, record)) {
        // Changed here since: kept, and sent again as a new card.
        record.href = CardDavClient::pathOf(m_book, QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".vcf"));
        record.etag.clear();
        record.text.clear();
        saveSyncRecord(m_db, record);
        m_records[id] = record;
    } else {
        if (local && !local->deleted) {
            deleteLocalCard(m_db, id);
            ++m_report.deletedHere;
        }
        deleteSyncRecord(m_db, id);
        m_records.erase(id);
        m_done.insert(id);
    }
    transaction.commit();
}

void CardSync::applyRemote(const DavCard& card)
{
    const std::optional<CardValues> remote = readCardText(card.data, m_lists);
    if (!remote) {
        m_report.refused << QStringLiteral("服务器上的 %1：不是可读的 vCard，未导入").arg(card.href);
        return;
    }
    const auto known = m_byHref.constFind(card.href);
    if (known == m_byHref.constEnd()) {
        addRemote(card, *remote);
        return;
    }
    mergeRemote(m_records[*known], card, *remote);
}

void CardSync::addRemote(const DavCard& card, const CardValues& values)
{
    Transaction transaction(m_db);
    const int64_t id = addLocalCard(m_db, values, QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    QString uid = cardStamp(card.data).uid;
    if (uid.isEmpty())
        uid = card.href;
    SyncRecord record{id, uid, card.href, card.etag, QString::fromUtf8(card.data), {}};
    saveSyncRecord(m_db, record);
    transaction.commit();
    m_records[id] = record;
    m_byHref.insert(card.href, id);
    m_done.insert(id);
    ++m_report.downloaded;
}

// The server's copy changed: taken as it is where this side did not change the card, merged
// field by field where it did, and the merge sent back when it differs from the server's.
void CardSync::mergeRemote(SyncRecord record, const DavCard& card, const CardValues& remote)
{
    const std::optional<LocalCard> local = loadLocalCard(m_db, record.card);
    const std::optional<CardValues> base =
        record.text.isEmpty() ? std::nullopt : readCardText(record.text.toUtf8(), m_lists);
    if (local && local->deleted && base && *base == remote) {
        m_records[record.card].etag = card.etag; // only the version moved: the delete goes on
        return;
    }
    m_done.insert(record.card);
    const bool changedHere = local && !local->deleted && !(base && *base == local->values);
    MergedCard merged{remote, 0};
    if (changedHere) {
        QString remoteTime = cardStamp(card.data).revision;
        if (remoteTime.isEmpty())
            remoteTime = nowText(); // no REV: seen changed now
        merged = mergeCard(base ? &*base : nullptr, local->values, remote, record.changed > remoteTime);
        m_report.conflicts += merged.conflicts;
    }
    Transaction transaction(m_db);
    // A card deleted here but changed on the phone comes back: the phone's edit is kept.
    const bool written = !local || local->deleted || local->values != merged.values;
    if (written)
        writeLocalCard(m_db, record.card, merged.values);
    record.etag = card.etag;
    if (merged.values == remote) {
        record.text = QString::fromUtf8(card.data);
        saveSyncRecord(m_db, record);
    }
    if (written)
        ++m_report.downloaded;
    transaction.commit();
    m_records[record.card] = record;
    if (merged.values != remote)
        upload(merged.values, record, merged.values[kNameField]);
}

void CardSync::pushLocal()
{
    const std::vector<LocalCard> cards = loadLocalCards(m_db);
    nameNewCards(cards);
    int done = 0;
    for (const LocalCard& card : cards) {
        tell(QStringLiteral("上传本机的变更"), done++, static_cast<int>(cards.size()));
        if (m_done.contains(card.id))
            continue;
        const auto found = m_records.find(card.id);
        if (found == m_records.end())
            continue;
        if (card.deleted)
            removeCard(card, found->second);
        else
            pushCard(card, found->second);
    }
    tell(QStringLiteral("上传本机的变更"), done, done);
}

// Every live card new to the sync gets its UID and address before any is sent, so a sync
// stopped after a PUT finds the card there again; in one commit.
void CardSync::nameNewCards(const std::vector<LocalCard>& cards)
{
    Transaction transaction(m_db);
    for (const LocalCard& card : cards) {
        if (card.deleted || m_done.contains(card.id) || m_records.count(card.id) > 0)
            continue;
        SyncRecord record;
        record.card = card.id;
        record.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        record.href = CardDavClient::pathOf(m_book, record.uid + QStringLiteral(".vcf"));
        saveSyncRecord(m_db, record);
        m_records[card.id] = record;
    }
    transaction.commit();
}

void CardSync::pushCard(const LocalCard& card, SyncRecord record)
{
    // The change stamp is set by every change of the card here and cleared when a text is
    // agreed: without one, the card is as agreed, and writing its text to compare is spared.
    if (record.changed.isEmpty() && !record.etag.isEmpty() && !record.text.isEmpty())
        return;
    if (agreed(card.values, record))
        return;
    upload(card.values, record, card.values[kNameField]);
}

void CardSync::upload(const CardValues& values, SyncRecord record, const QString& name, int round)
{
    const QByteArray text = cardText(values, record.uid);
    const WriteResult result = m_dav.put(m_book, record.href, text, record.etag);
    if (result.outcome == WriteResult::Done) {
        record.etag = result.etag; // none given: the next listing brings it, and the merge finds no change
        record.text = QString::fromUtf8(text);
        saveSyncRecord(m_db, record);
        m_records[record.card] = record;
        m_byHref.insert(record.href, record.card);
        ++m_report.uploaded;
    } else if (result.outcome == WriteResult::Changed && round < kMaxRetries) {
        // Changed on the server since it was read: fetch, merge, and write again.
        m_byHref.insert(record.href, record.card);
        if (refetch(record.href))
            return;
        if (record.etag.isEmpty()) {
            // Nothing at that address, yet a new card's condition failed: the server keeps
            // another card with the same UID (CardDAV's no-uid-conflict).
            refuse(record, name, result.status, QStringLiteral("服务器上已有 UID 相同的另一张名片"));
            return;
        }
        upload(values, SyncRecord{record.card, record.uid, record.href, {}, {}, record.changed}, name, round + 1);
    } else {
        refuse(record, name, result.status, result.reason);
    }
}

void CardSync::refuse(SyncRecord record, const QString& name, int status, const QString& reason)
{
    m_report.refused << QStringLiteral("%1：服务器拒收（HTTP %2）%3").arg(name).arg(status).arg(reason);
    if (record.etag.isEmpty() && record.text.isEmpty()) {
        // Never stored there: the next sync sends it under a new name, in case this one
        // clashed with a card of the phone's.
        record.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        record.href = CardDavClient::pathOf(m_book, record.uid + QStringLiteral(".vcf"));
        saveSyncRecord(m_db, record);
        m_records[record.card] = record;
    }
}

// The server's current copy of href, merged in; false when the server no longer has it.
bool CardSync::refetch(const QString& href)
{
    const std::vector<DavCard> fresh = m_dav.fetch(m_book, {href});
    if (fresh.empty())
        return false;
    const int64_t id = m_byHref.value(href);
    m_done.remove(id);
    applyRemote(fresh.front());
    return true;
}

void CardSync::removeCard(const LocalCard& card, const SyncRecord& record)
{
    if (!record.href.isEmpty() && !record.etag.isEmpty()) {
        const WriteResult result = m_dav.remove(m_book, record.href, record.etag);
        if (result.outcome == WriteResult::Changed) {
            refetch(record.href); // changed on the phone after the delete here: it comes back
            return;
        }
        if (result.outcome == WriteResult::Refused) {
            m_report.refused << QStringLiteral("%1：服务器拒绝删除（HTTP %2）%3").arg(card.values[kNameField]).arg(result.status).arg(result.reason);
            return;
        }
        ++m_report.deletedThere;
    }
    deleteSyncRecord(m_db, card.id);
    m_records.erase(card.id);
}

} // namespace

QString SyncReport::summary() const
{
    QStringList lines;
    lines << QStringLiteral("上传 %1 张名片，下载 %2 张名片。").arg(uploaded).arg(downloaded);
    lines << QStringLiteral("服务器上删除 %1 张，本机删除 %2 张（可恢复）。").arg(deletedThere).arg(deletedHere);
    if (conflicts > 0)
        lines << QStringLiteral("两边都改过的字段 %1 处：较晚的修改生效，另一值记在补充信息的“同步冲突”下。").arg(conflicts);
    if (!refused.isEmpty())
        lines << QStringLiteral("未能同步的名片 %1 张：").arg(refused.size()) << refused;
    return lines.join(u'\n');
}

SyncAccount loadSyncAccount(Database& db)
{
    SyncAccount account;
    account.book = QUrl(syncSetting(db, setting::kBook));
    account.user = syncSetting(db, setting::kUser);
    account.password = syncSetting(db, setting::kPassword);
    account.trustedCertificate = syncSetting(db, setting::kTrusted);
    return account;
}

void saveSyncAccount(Database& db, const QString& url, const SyncAccount& account)
{
    Transaction transaction(db);
    const bool sameBook = syncSetting(db, setting::kBook) == account.book.toString();
    setSyncSetting(db, setting::kUrl, url);
    setSyncSetting(db, setting::kBook, account.book.toString());
    setSyncSetting(db, setting::kUser, account.user);
    setSyncSetting(db, setting::kPassword, account.password);
    setSyncSetting(db, setting::kTrusted, account.trustedCertificate);
    if (!sameBook) {
        // Another address book: nothing agreed with the old one holds there.
        setSyncSetting(db, setting::kToken, {});
        setSyncSetting(db, setting::kCtag, {});
        db.runBound(QStringLiteral("delete from D_Sync"), {});
    }
    transaction.commit();
}

SyncReport syncCards(Database& db, const SyncAccount& account, const SyncProgress& progress)
{
    if (account.book.isEmpty())
        throw SyncError(SyncError::NotCardDav, QStringLiteral("还没有设置同步的通讯录，请先在“同步设置…”中设置。"));
    CardSync sync(db, account, progress);
    return sync.run();
}

} // namespace ostrel::sync

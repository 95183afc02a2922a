#include "core/server_quick_find.h"

#include "core/search_key_statements.h"
#include "core/search_keys.h"
#include "engine/engine_error.h"
#include "engine/postgres/pg_connection.h"

#include <algorithm>

namespace ostrel {

namespace {

const auto byId = [](const auto& card, int64_t id) { return card.id < id; };

// Matches kept with their keys for the next keystroke; more are matched by the server again.
// A few hundred thousand keys fit in some 20 MB and turn the second keystroke of a million
// cards into a pass over memory.
constexpr int64_t kKeptKeys = 200000;
// More cards changed since the previous keystroke than this: the server matches them all.
constexpr int64_t kMostCaughtUp = 5000;

// The trigram index only serves texts of three letters or digits or more; other characters
// (CJK among them, in a server of the C locale) may give it no trigram at all.
bool gramsServe(const QString& text)
{
    return text.size() >= 3 && std::all_of(text.begin(), text.end(), [](QChar c) {
               return c.unicode() < 0x80 && (c.isLetterOrNumber());
           });
}

// The matches of text and the server's moment, in one statement (m, read twice, is worked
// out once). A row (0) carries the moment, the number of matches and their visits and
// anniversaries added up; a row (1) per match (card, class, key, visits, anniversaries, as
// catchUpSql gives them), its key and counts only while the matches are few enough to keep.
// Unsorted: sorting a long list of matches would spill it to disk.
QString scanSql(bool grams)
{
    return QStringLiteral(
               "with m as (select k.ID as card, QuickFind(k.theKey, ?1) as hit, "
               "case when row_number() over () <= ?2 then k.theKey end as kept, "
               "coalesce(c.visits, 0) as visits, coalesce(c.anniversaries, 0) as anniversaries "
               "from D_BKey as k left join D_CardCount as c on c.card = k.ID where %1QuickFind(k.theKey, ?1) > 0) "
               "select 0 as at, pg_current_snapshot()::text, count(*), coalesce(sum(visits), 0)::bigint, null, "
               "coalesce(sum(anniversaries), 0)::bigint, 0 from m "
               "union all (select 1, null, card, hit, case when t.n <= ?2 then kept end, case when t.n <= ?2 then visits end, "
               "case when t.n <= ?2 then anniversaries end from m, (select count(*) as n from m) as t)")
        .arg(grams ? QStringLiteral("k.theKey like ?3 and ") : QString());
}

} // namespace

QString changedCardKeysSql()
{
    return QStringLiteral(
        "with since as (select distinct card from D_CardLog "
        "where tx >= pg_snapshot_xmin(?1::pg_snapshot) and not pg_visible_in_snapshot(tx, ?1::pg_snapshot)) "
        "select 0 as at, pg_current_snapshot()::text, (select count(*) from since), "
        "(select count(*) from since where card is null), null, 0, 0 union all "
        "(select 1, null, s.card, case when k.ID is null then 0 else 1 end, k.theKey, "
        "coalesce(c.visits, 0), coalesce(c.anniversaries, 0) "
        "from since as s left join D_BKey as k on k.ID = s.card left join D_CardCount as c on c.card = s.card "
        "where s.card is not null limit ?2) order by 1");
}

void ServerQuickFinder::forget()
{
    m_text.clear();
    m_snapshot.clear();
    m_keysKept = false;
    m_keys.clear();
    m_keys.shrink_to_fit();
    m_arena.clear();
    m_arena.shrink_to_fit();
}

ServerQuickFinder::Card ServerQuickFinder::card(const Database::Row& row, int key, bool keep)
{
    Card card{row.integer(2), 0, 0, row.integer(5), row.integer(6), static_cast<int>(row.integer(3))};
    if (keep) {
        const std::string_view text = row.utf8(key);
        card.keyAt = static_cast<uint32_t>(m_arena.size());
        card.keyLength = static_cast<uint32_t>(text.size());
        m_arena.append(text);
    }
    return card;
}

bool ServerQuickFinder::catchUp(Database& db)
{
    bool known = true;
    std::vector<Card> changed;
    db.runBound(changedCardKeysSql(), {m_snapshot, QVariant::fromValue<qint64>(kMostCaughtUp)}, [&](const Database::Row& row) {
        if (row.integer(0) == 0) {
            m_snapshot = row.text(1);
            known = row.integer(2) <= kMostCaughtUp && row.integer(3) == 0;
        } else {
            // A card without a key any more (deleted) keeps an empty one: it matches nothing.
            changed.push_back(card(row, 4, row.integer(3) != 0));
        }
    });
    if (!known)
        return false;
    // The changed cards replace or join the kept ones; whether they match is decided by the caller.
    for (Card& card : changed) {
        const auto at = std::lower_bound(m_keys.begin(), m_keys.end(), card.id, byId);
        if (at != m_keys.end() && at->id == card.id)
            *at = card;
        else
            m_keys.insert(at, card);
    }
    return true;
}

std::vector<ServerQuickFinder::Card> ServerQuickFinder::scan(Database& db, const QString& text)
{
    if (m_grams < 0)
        m_grams = db.firstInteger(schemaObjectExistsSql(), {QStringLiteral("D_BKey_Grams")}) > 0 ? 1 : 0;
    const bool grams = m_grams == 1 && gramsServe(text);
    QVariantList values{text, QVariant::fromValue<qint64>(kKeptKeys)};
    if (grams)
        values << u'%' + text + u'%'; // letters and digits alone: nothing to escape
    std::vector<Card> matches;
    m_arena.clear();
    db.runBound(scanSql(grams), values, [&](const Database::Row& row) {
        if (row.integer(0) == 0) {
            m_snapshot = row.text(1);
            m_keysKept = row.integer(2) <= kKeptKeys;
            m_allVisits = row.integer(3);
            m_allAnniversaries = row.integer(5);
        } else {
            matches.push_back(card(row, 4, !row.utf8(4).empty()));
        }
    });
    std::sort(matches.begin(), matches.end(), [](const Card& a, const Card& b) { return a.id < b.id; });
    return matches;
}

std::vector<int64_t> ServerQuickFinder::find(Database& db, const QString& text, const std::vector<int64_t>& list,
                                             uint64_t listPrint)
{
    // Every key holding the new text holds the old one too.
    const bool narrowing = m_keysKept && !m_text.isEmpty() && text.contains(m_text) && listPrint == m_list && catchUp(db);
    std::vector<Card> matches;
    if (narrowing) {
        const QByteArray utf8 = text.toUtf8();
        const std::string_view typed(utf8.constData(), static_cast<size_t>(utf8.size()));
        const std::string_view keys(m_arena);
        for (Card& card : m_keys) {
            card.found = card.keyLength == 0 ? 0 : quickFindClass(keys.substr(card.keyAt, card.keyLength), typed);
            if (card.found > 0)
                matches.push_back(card);
        }
    } else {
        matches = scan(db, text);
    }
    std::vector<std::pair<int64_t, int>> classes;
    classes.reserve(matches.size());
    for (const Card& card : matches)
        classes.emplace_back(card.id, card.found);
    std::vector<int64_t> found = matchesInListOrder(std::move(classes), list);
    m_counted = m_keysKept || found.size() == matches.size();
    m_visits = m_anniversaries = 0;
    if (m_keysKept) {
        for (int64_t id : found) {
            const Card& card = *std::lower_bound(matches.begin(), matches.end(), id, byId);
            m_visits += card.visits;
            m_anniversaries += card.anniversaries;
        }
    } else if (m_counted) {
        // Every match is listed: the server's sums are the list's.
        m_visits = m_allVisits;
        m_anniversaries = m_allAnniversaries;
    }
    m_keys = m_keysKept ? std::move(matches) : std::vector<Card>();
    if (!m_keysKept)
        m_arena.clear();
    m_text = text;
    m_list = listPrint;
    return found;
}

void addServerKeyGrams(PgConnection& server)
{
    if (server.firstInteger(schemaObjectExistsSql(), {QStringLiteral("D_BKey_Grams")}) > 0)
        return;
    try {
        // pg_trgm is a trusted extension: a database owner may add it.
        server.runServerSql(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm;\n"
                                           "CREATE INDEX D_BKey_Grams ON \"D_BKey\" USING gin (\"theKey\" gin_trgm_ops)"));
    } catch (const EngineError&) {
        // Not installed on the server, or an account that may not: the keys are scanned whole.
    }
}

} // namespace ostrel

#include "core/visit_stats.h"

#include "core/visit_summary.h"
#include "engine/database.h"
#include "engine/transaction.h"

#include <algorithm>
#include <map>
#include <utility>

namespace ostrel {

namespace {

QString dayText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

QString monthText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM"));
}

QVariant number(int64_t value)
{
    return QVariant::fromValue<qint64>(value);
}

// The cards are handed to the engine as ranges of consecutive IDs, written in statements
// of many rows each. A list of most cards (the whole list of a million) is counted as every
// visit less those of the cards left out, which are the few ranges between the list's
// runs (the deleted cards, IDs no card has): the engine then reads its indexes in order and
// never looks a listed card up. A shorter list is counted from its own runs.
const char* const kRangesTable = "create temp table StatRanges (RangeFrom %1, RangeTo BIGINT NOT NULL)";
constexpr int kRangesPerStatement = 500;
// Below and above every card ID a range may hold.
constexpr int64_t kLowestId = -(int64_t{1} << 62);
constexpr int64_t kHighestId = int64_t{1} << 62;

// Per card with visits: its visits in the period and its last visit before it, in one
// pass over the visits in card order (the DList_Card_Date index), no sort.
const char* const kByCardTable =
    "create temp table StatByCard (ID %1, Visits INTEGER NOT NULL, LastBefore VARCHAR(10))";
const char* const kByCardColumns =
    "insert into StatByCard (ID, Visits, LastBefore) "
    "select v.DID, sum(case when v.LDate between ?1 and ?2 then 1 else 0 end), "
    "max(case when v.LDate < ?1 then v.LDate end) from ";
const char* const kByCardOfAll = "DList v group by v.DID";
const char* const kByCardOfRanges =
    "StatRanges r cross join DList v where v.DID between r.RangeFrom and r.RangeTo group by v.DID";
const char* const kDropLeftOut =
    "delete from StatByCard where ID in (select s.ID from StatRanges r cross join StatByCard s "
    "where s.ID between r.RangeFrom and r.RangeTo)";
// Visits per month of the cards in the ranges, read range by range on the DList_Card_Date
// index (the date as an expression, so that the file's engine does not read the date index
// once per range instead).
const char* const kMonthsOfRanges =
    "select substr(v.LDate, 1, 7), count(*) from StatRanges r cross join DList v "
    "where v.DID between r.RangeFrom and r.RangeTo and (v.LDate || '') between ?1 and ?2 group by substr(v.LDate, 1, 7)";
const char* const kTopCards =
    "select s.ID, c.BName, c.DName, s.Visits from (select ID, Visits from StatByCard where Visits > 0 "
    "order by Visits desc, ID limit ?1) s join D_B c on c.ID = s.ID order by s.Visits desc, s.ID";
// Category by province in one grouping; each chart adds up its own side. Over most cards the
// D_B_Kind index is read whole, in its order; over a few the counted cards are looked up.
const char* const kKindsOfMost =
    "select c.theType, c.DArea, sum(s.Visits) from D_B c cross join StatByCard s "
    "where s.ID = c.ID and s.Visits > 0 group by c.theType, c.DArea";
const char* const kKindsOfFew =
    "select c.theType, c.DArea, sum(s.Visits) from StatByCard s join D_B c on c.ID = s.ID "
    "where s.Visits > 0 group by c.theType, c.DArea";
const char* const kUnvisitedCount = "select count(*) from StatByCard where Visits = 0 and LastBefore is not null";
const char* const kUnvisited =
    "select s.ID, c.BName, c.DName, s.LastBefore from (select ID, LastBefore from StatByCard "
    "where Visits = 0 and LastBefore is not null order by LastBefore, ID limit ?1) s "
    "join D_B c on c.ID = s.ID order by s.LastBefore, s.ID";

const char* const kCardSpan = "select max(ID) - min(ID) + 1 from D_B";

// A 64-bit key: in the file only "INTEGER PRIMARY KEY" is the row's own number (looked up
// without an index of its own); a server's INTEGER has 32 bits.
QString integerKey(const Database& db)
{
    return db.has(Capability::LocalFile) ? QStringLiteral("INTEGER PRIMARY KEY") : QStringLiteral("BIGINT PRIMARY KEY");
}

struct Range {
    int64_t from, to;
};

// The runs of consecutive IDs of the list, and the ranges between them (from below the
// lowest ID to above the highest).
struct CardRanges {
    std::vector<Range> runs;
    std::vector<Range> gaps;
    std::vector<int64_t> ids; // sorted, once each
    size_t listed = 0;
    // Whether counting every visit less the gaps' reads less than counting the runs': when
    // the list holds more than half of the card IDs there are (cardSpan).
    bool byGaps(int64_t cardSpan) const { return !runs.empty() && static_cast<int64_t>(listed) * 2 > cardSpan; }
};

// Sorts ids and drops repeats; IDs as close together as a list's are marked in a bitmap
// instead, in one pass (a million in a few milliseconds rather than a sort's tens).
void sortOnce(std::vector<int64_t>& ids)
{
    if (ids.empty())
        return;
    const auto [low, high] = std::minmax_element(ids.begin(), ids.end());
    const int64_t first = *low;
    const uint64_t span = static_cast<uint64_t>(*high - first) + 1;
    if (span > ids.size() * 8 + 1024) {
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        return;
    }
    std::vector<bool> seen(span);
    for (int64_t id : ids)
        seen[static_cast<size_t>(id - first)] = true;
    ids.clear();
    for (size_t i = 0; i < seen.size(); ++i)
        if (seen[i])
            ids.push_back(first + static_cast<int64_t>(i));
}

CardRanges cardRanges(std::vector<int64_t> ids)
{
    sortOnce(ids);
    CardRanges ranges;
    ranges.listed = ids.size();
    int64_t next = kLowestId;
    for (size_t first = 0; first < ids.size();) {
        size_t last = first;
        while (last + 1 < ids.size() && ids[last + 1] == ids[last] + 1)
            ++last;
        if (ids[first] > next)
            ranges.gaps.push_back({next, ids[first] - 1});
        ranges.runs.push_back({ids[first], ids[last]});
        next = ids[last] + 1;
        first = last + 1;
    }
    ranges.gaps.push_back({next, kHighestId});
    ranges.ids = std::move(ids);
    return ranges;
}

void writeRanges(Database& db, const std::vector<Range>& ranges)
{
    QString sql;
    int rows = 0;
    for (const Range& range : ranges) {
        sql += (rows == 0 ? QStringLiteral("insert into StatRanges (RangeFrom, RangeTo) values (") : QStringLiteral(",("))
            + QString::number(range.from) + u',' + QString::number(range.to) + u')';
        if (++rows == kRangesPerStatement || &range == &ranges.back()) {
            db.execute(sql);
            sql.clear();
            rows = 0;
        }
    }
}

std::vector<LabelVisits> sortedLabels(const std::map<QString, int64_t>& sums)
{
    std::vector<LabelVisits> labels;
    for (const auto& [label, visits] : sums)
        labels.push_back({label, visits});
    std::stable_sort(labels.begin(), labels.end(), [](const LabelVisits& a, const LabelVisits& b) { return a.visits > b.visits; });
    return labels;
}

// Every visit of each day range, counted on the date index alone: rows of counts, a few
// hundred at a time (a statement's row has a limited number of columns).
std::vector<int64_t> allVisitsIn(Database& db, const std::vector<std::pair<QDate, QDate>>& ranges)
{
    constexpr size_t kPerStatement = 200;
    std::vector<int64_t> values;
    for (size_t first = 0; first < ranges.size(); first += kPerStatement) {
        QStringList counts;
        for (size_t i = first; i < std::min(ranges.size(), first + kPerStatement); ++i)
            counts << QStringLiteral("(select count(*) from DList where LDate between '%1' and '%2')")
                          .arg(dayText(ranges[i].first), dayText(ranges[i].second));
        db.runBound(QStringLiteral("select ") + counts.join(u','), {}, [&](const Database::Row& row) {
            for (int i = 0; i < counts.size(); ++i)
                values.push_back(row.integer(i));
        });
    }
    return values;
}

// The period's days month by month (the first and last month cut to the period), and the
// same days of the previous period.
std::vector<std::pair<QDate, QDate>> monthDays(const VisitPeriod& period)
{
    std::vector<std::pair<QDate, QDate>> days;
    const QDate first(period.from.year(), period.from.month(), 1);
    for (int i = 0; i < period.months(); ++i) {
        const QDate month = first.addMonths(i);
        days.push_back({std::max(month, period.from), std::min(month.addMonths(1).addDays(-1), period.to)});
    }
    return days;
}

QDate monthsBefore(const QDate& day, int months)
{
    const QDate shifted = day.addMonths(-months);
    // The last day of a month stays the last: 30 April a month back is 31 March.
    return day.day() == day.daysInMonth() ? QDate(shifted.year(), shifted.month(), shifted.daysInMonth()) : shifted;
}

// The listed cards' visits per month between two days, counted over the ranges.
std::map<QString, int64_t> rangeMonths(Database& db, const QDate& from, const QDate& to)
{
    std::map<QString, int64_t> months;
    db.runBound(QString::fromLatin1(kMonthsOfRanges), {dayText(from), dayText(to)},
                [&](const Database::Row& row) { months[row.text(0)] = row.integer(1); });
    return months;
}

// The listed cards' visits in each of days, ranges of days of one month each between from and
// to. Over most cards: every visit (the date index alone) less those of the cards left out;
// else the cards' own.
std::vector<int64_t> listedMonthVisits(Database& db, const std::vector<std::pair<QDate, QDate>>& days, const VisitPeriod& within,
                                       bool byGaps)
{
    std::vector<int64_t> visits = byGaps ? allVisitsIn(db, days) : std::vector<int64_t>(days.size(), 0);
    const std::map<QString, int64_t> months = rangeMonths(db, within.from, within.to);
    for (size_t i = 0; i < days.size(); ++i) {
        const auto found = months.find(monthText(days[i].first));
        visits[i] += (byGaps ? -1 : 1) * (found == months.end() ? 0 : found->second);
    }
    return visits;
}

// The month bars: the period's visits and those of the same days of the previous period.
void fillMonths(VisitStatistics& stats, const std::vector<int64_t>& current, Database& db, bool byGaps)
{
    const std::vector<std::pair<QDate, QDate>> days = monthDays(stats.period);
    std::vector<std::pair<QDate, QDate>> shifted;
    for (const auto& day : days)
        shifted.push_back({monthsBefore(day.first, static_cast<int>(days.size())), monthsBefore(day.second, static_cast<int>(days.size()))});
    const std::vector<int64_t> before = listedMonthVisits(db, shifted, stats.period.previous(), byGaps);
    for (size_t i = 0; i < days.size(); ++i) {
        const MonthVisits m{monthText(days[i].first), current[i], before[i]};
        stats.visits += m.visits;
        stats.previousVisits += m.previous;
        stats.months.push_back(m);
    }
}

void readMonths(Database& db, VisitStatistics& stats, bool byGaps)
{
    fillMonths(stats, listedMonthVisits(db, monthDays(stats.period), stats.period, byGaps), db, byGaps);
}

void readKinds(Database& db, VisitStatistics& stats, bool byGaps)
{
    std::map<QString, int64_t> categories, provinces;
    db.runBound(QString::fromLatin1(byGaps ? kKindsOfMost : kKindsOfFew), {}, [&](const Database::Row& row) {
        categories[row.text(0)] += row.integer(2);
        provinces[row.text(1)] += row.integer(2);
    });
    stats.categories = sortedLabels(categories);
    stats.provinces = sortedLabels(provinces);
}

void readCards(Database& db, VisitStatistics& stats)
{
    db.runBound(QString::fromLatin1(kTopCards), {number(VisitStatistics::kTopCards)}, [&](const Database::Row& row) {
        stats.topCards.push_back({row.integer(0), row.text(1), row.text(2), row.integer(3)});
    });
    stats.unvisitedCount = db.firstInteger(QString::fromLatin1(kUnvisitedCount));
    db.runBound(QString::fromLatin1(kUnvisited), {number(VisitStatistics::kUnvisitedShown)}, [&](const Database::Row& row) {
        const QString last = row.text(3);
        const QDate day = QDate::fromString(last, QStringLiteral("yyyy-MM-dd"));
        stats.unvisited.push_back({row.integer(0), row.text(1), row.text(2), last,
                                   day.isValid() ? day.daysTo(stats.period.to) : 0});
    });
}

// From the tables the triggers keep (D_VisitMonths, D_VisitLast): the months, categories and
// provinces of whole months, less the days of the first and last month outside the period;
// over most cards less the visits of the cards left out, over a few the cards' own. The most
// visited cards and those not visited are read in order and the first listed ones kept.
const char* const kSummedMonths = "select YearMonth, Kind, Area, Visits from D_VisitMonths where YearMonth between ?1 and ?2";
// The days cut off, from ?1 (%1: ">=" with it, ">" without) to before ?2.
const char* const kCutDays =
    "select substr(v.LDate, 1, 7), c.theType, c.DArea, count(*) from DList v join D_B c on c.ID = v.DID "
    "where v.LDate %1 ?1 and v.LDate < ?2 group by 1, 2, 3";
// Range by range, only the cards visited since the period began (D_VisitLast), their visits on
// the DList_Card_Date index; only the visits found look their card up.
const char* const kRangeKinds =
    "select substr(v.LDate, 1, 7), c.theType, c.DArea, count(*) from StatRanges r cross join D_VisitLast l cross join DList v "
    "cross join D_B c where l.Card between r.RangeFrom and r.RangeTo and l.LastDate >= ?1 and v.DID = l.Card "
    "and v.LDate between ?1 and ?2 and c.ID = v.DID group by 1, 2, 3";
const char* const kTopOfAll =
    "select DID, count(*) from DList where LDate between ?1 and ?2 group by DID order by 2 desc, DID limit ?3";
const char* const kTopOfRanges =
    "select v.DID, count(*) from StatRanges r cross join DList v where v.DID between r.RangeFrom and r.RangeTo "
    "and v.LDate between ?1 and ?2 group by v.DID order by 2 desc, v.DID limit ?3";
const char* const kLastOfAll = "select Card, LastDate from D_VisitLast where LastDate < ?1 order by LastDate, Card limit ?2";
const char* const kLastOfRanges =
    "select l.Card, l.LastDate from StatRanges r cross join D_VisitLast l where l.Card between r.RangeFrom and r.RangeTo "
    "and l.LastDate < ?1 order by l.LastDate, l.Card limit ?2";
// The whole months before the period's from the kept counts, its first month's days on the index.
const char* const kLastMonthsBefore = "select Cards from D_VisitLastMonths where YearMonth < ?1";
const char* const kLastInFirstMonth = "select count(*) from D_VisitLast where LastDate >= ?2 and LastDate < ?1";
const char* const kLastCountOfRanges =
    "select count(*) from StatRanges r cross join D_VisitLast l where l.Card between r.RangeFrom and r.RangeTo and l.LastDate < ?1";
// Cards last visited after the period: those with none within it and one before it count too.
const char* const kVisitedAfter =
    "select l.Card, (select max(v.LDate) from DList v where v.DID = l.Card and v.LDate < ?1) from D_VisitLast l "
    "where l.LastDate > ?2 and not exists (select 1 from DList v where v.DID = l.Card and v.LDate between ?1 and ?2)";
const char* const kCardName = "select BName, DName from D_B where ID = ?1";

struct Listed {
    std::vector<int64_t> ids; // sorted, once each
    bool byGaps = false;
    bool has(int64_t id) const { return std::binary_search(ids.begin(), ids.end(), id); }
};

using KindKey = std::pair<QString, QString>;

// The period's visits per month and per category and province.
struct PeriodCounts {
    std::map<QString, int64_t> months;
    std::map<KindKey, int64_t> kinds;

    void add(const Database::Row& row, int64_t sign)
    {
        const int64_t visits = sign * row.integer(3);
        months[row.text(0)] += visits;
        kinds[{row.text(1), row.text(2)}] += visits;
    }
};

// The first month after yyyy-mm in the order of texts: every date of that month sorts below it.
QString textAfterMonth(const QDate& day)
{
    QString month = monthText(day);
    month.back() = QChar(month.back().unicode() + 1);
    return month;
}

void countPeriod(Database& db, const VisitPeriod& period, bool byGaps, PeriodCounts& counts)
{
    const QVariantList days{dayText(period.from), dayText(period.to)};
    const auto add = [&counts](int64_t sign) { return [&counts, sign](const Database::Row& row) { counts.add(row, sign); }; };
    if (byGaps) {
        db.runBound(QString::fromLatin1(kSummedMonths), {monthText(period.from), monthText(period.to)}, add(1));
        if (period.from.day() != 1)
            db.runBound(QString::fromLatin1(kCutDays).arg(QStringLiteral(">=")), {monthText(period.from), dayText(period.from)}, add(-1));
        db.runBound(QString::fromLatin1(kCutDays).arg(QStringLiteral(">")), {dayText(period.to), textAfterMonth(period.to)}, add(-1));
    }
    db.runBound(QString::fromLatin1(kRangeKinds), days, add(byGaps ? -1 : 1));
}

void readSummedMonths(Database& db, VisitStatistics& stats, bool byGaps, PeriodCounts& counts)
{
    countPeriod(db, stats.period, byGaps, counts);
    std::vector<int64_t> current;
    for (const auto& day : monthDays(stats.period))
        current.push_back(counts.months[monthText(day.first)]);
    // The previous period needs no categories: its months are counted on the date index.
    fillMonths(stats, current, db, byGaps);
}

void readSummedKinds(const std::map<KindKey, int64_t>& kinds, VisitStatistics& stats)
{
    std::map<QString, int64_t> categories, provinces;
    for (const auto& [kind, visits] : kinds) {
        if (visits == 0)
            continue;
        categories[kind.first] += visits;
        provinces[kind.second] += visits;
    }
    for (auto* sums : {&categories, &provinces})
        std::erase_if(*sums, [](const auto& sum) { return sum.second == 0; });
    stats.categories = sortedLabels(categories);
    stats.provinces = sortedLabels(provinces);
}

// The first wanted listed cards of a statement giving (card, value) in order, its LIMIT (?3 or
// ?2) raised until enough are listed or the rows end.
std::vector<std::pair<int64_t, QVariant>> firstListed(Database& db, const QString& sql, QVariantList values, const Listed& listed,
                                                      size_t wanted)
{
    std::vector<std::pair<int64_t, QVariant>> found;
    for (int64_t limit = static_cast<int64_t>(wanted) * 2 + 16;; limit *= 8) {
        found.clear();
        int64_t rows = 0;
        QVariantList bound = values;
        bound << number(limit);
        db.runBound(sql, bound, [&](const Database::Row& row) {
            ++rows;
            if (found.size() < wanted && listed.has(row.integer(0)))
                found.emplace_back(row.integer(0), row.text(1).isNull() ? QVariant() : QVariant(row.text(1)));
        });
        if (found.size() >= wanted || rows < limit)
            return found;
    }
}

std::pair<QString, QString> cardName(Database& db, int64_t card)
{
    std::pair<QString, QString> name;
    db.runBound(QString::fromLatin1(kCardName), {number(card)}, [&](const Database::Row& row) { name = {row.text(0), row.text(1)}; });
    return name;
}

// The cards, listed or not, last visited before day.
int64_t lastVisitedBefore(Database& db, const QDate& day)
{
    int64_t cards = db.firstInteger(QString::fromLatin1(kLastInFirstMonth), {dayText(day), monthText(day)});
    db.runBound(QString::fromLatin1(kLastMonthsBefore), {monthText(day)}, [&](const Database::Row& row) { cards += row.integer(0); });
    return cards;
}

void readSummedCards(Database& db, VisitStatistics& stats, const Listed& listed)
{
    const QVariantList days{dayText(stats.period.from), dayText(stats.period.to)};
    const auto top = firstListed(db, QString::fromLatin1(listed.byGaps ? kTopOfAll : kTopOfRanges), days, listed,
                                 VisitStatistics::kTopCards);
    for (const auto& [card, visits] : top) {
        const auto name = cardName(db, card);
        stats.topCards.push_back({card, name.first, name.second, visits.toLongLong()});
    }

    const QVariantList from{dayText(stats.period.from)};
    stats.unvisitedCount = db.firstInteger(QString::fromLatin1(kLastCountOfRanges), from);
    if (listed.byGaps)
        stats.unvisitedCount = lastVisitedBefore(db, stats.period.from) - stats.unvisitedCount;
    auto last = firstListed(db, QString::fromLatin1(listed.byGaps ? kLastOfAll : kLastOfRanges), from, listed,
                            VisitStatistics::kUnvisitedShown);
    db.runBound(QString::fromLatin1(kVisitedAfter), days, [&](const Database::Row& row) {
        if (!row.text(1).isEmpty() && listed.has(row.integer(0))) {
            ++stats.unvisitedCount;
            last.emplace_back(row.integer(0), row.text(1));
        }
    });
    std::sort(last.begin(), last.end(), [](const auto& a, const auto& b) {
        const QString x = a.second.toString(), y = b.second.toString();
        return x != y ? x < y : a.first < b.first;
    });
    if (last.size() > static_cast<size_t>(VisitStatistics::kUnvisitedShown))
        last.resize(VisitStatistics::kUnvisitedShown);
    for (const auto& [card, date] : last) {
        const auto name = cardName(db, card);
        const QDate day = QDate::fromString(date.toString(), QStringLiteral("yyyy-MM-dd"));
        stats.unvisited.push_back({card, name.first, name.second, date.toString(), day.isValid() ? day.daysTo(stats.period.to) : 0});
    }
}

} // namespace

std::vector<std::pair<QString, QString>> visitStatsIndexes()
{
    return {{QStringLiteral("DList_Card_Date"), QStringLiteral("CREATE INDEX DList_Card_Date ON DList (DID, LDate)")},
            {QStringLiteral("DList_Date_Card"), QStringLiteral("CREATE INDEX DList_Date_Card ON DList (LDate, DID)")},
            {QStringLiteral("D_B_Kind"), QStringLiteral("CREATE INDEX D_B_Kind ON D_B (theType, DArea)")}};
}

QString shownLabel(const QString& label)
{
    return label.trimmed().isEmpty() ? QStringLiteral("未填") : label;
}

int VisitPeriod::months() const
{
    if (!isValid())
        return 1;
    return (to.year() - from.year()) * 12 + to.month() - from.month() + 1;
}

VisitPeriod VisitPeriod::previous() const
{
    return {monthsBefore(from, months()), monthsBefore(to, months())};
}

VisitPeriod lastTwelveMonths(const QDate& day)
{
    return {QDate(day.year(), day.month(), 1).addMonths(-11), day};
}

VisitStatistics visitStatistics(Database& db, const std::vector<int64_t>& cards, const VisitPeriod& period)
{
    VisitStatistics stats;
    stats.period = period;
    // Everything is read in one transaction that is never committed: the temporary tables
    // go with its rollback, whatever happens on the way.
    Transaction transaction(db);
    CardRanges ranges = cardRanges(cards);
    const bool byGaps = ranges.byGaps(db.firstInteger(QString::fromLatin1(kCardSpan)));
    db.execute(QString::fromLatin1(kRangesTable).arg(integerKey(db)));
    writeRanges(db, byGaps ? ranges.gaps : ranges.runs);
    if (hasVisitSummaries(db)) {
        const Listed listed{std::move(ranges.ids), byGaps};
        PeriodCounts counts;
        readSummedMonths(db, stats, byGaps, counts);
        readSummedKinds(counts.kinds, stats);
        readSummedCards(db, stats, listed);
        return stats;
    }
    // Without the kept tables (a file of an older version that cannot be written): one pass
    // over every visit of the listed cards.
    db.execute(QString::fromLatin1(kByCardTable).arg(integerKey(db)));
    const QVariantList bounds{dayText(period.from), dayText(period.to)};
    if (byGaps) {
        db.runBound(QString::fromLatin1(kByCardColumns) + QString::fromLatin1(kByCardOfAll), bounds);
        db.runBound(QString::fromLatin1(kDropLeftOut), {});
    } else if (!ranges.runs.empty()) {
        db.runBound(QString::fromLatin1(kByCardColumns) + QString::fromLatin1(kByCardOfRanges), bounds);
    }
    readMonths(db, stats, byGaps);
    readKinds(db, stats, byGaps);
    readCards(db, stats);
    return stats;
}

} // namespace ostrel

#include "core/visit_stats.h"

#include "engine/database.h"
#include "engine/transaction.h"

#include <algorithm>
#include <map>

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

// The cards are handed to the engine as runs of consecutive IDs: a list of a million live
// cards is a few tens of thousands of runs, written in statements of many rows each.
const char* const kRunsTable = "create temp table StatRuns (RunFrom INTEGER PRIMARY KEY, RunTo INTEGER NOT NULL)";
constexpr int kRunsPerStatement = 500;

// Per card of the list that has visits at all: its visits in the period and its last visit
// before it. One pass over the visits in card order (the DList_Card_Date index), no sort;
// a card counts when its ID lies in the run that begins at or before it.
const char* const kByCardTable =
    "create temp table StatByCard (ID INTEGER PRIMARY KEY, Visits INTEGER NOT NULL, LastBefore VARCHAR(10))";
const char* const kByCardFill =
    "insert into StatByCard (ID, Visits, LastBefore) "
    "select v.DID, sum(case when v.LDate between ?1 and ?2 then 1 else 0 end), "
    "max(case when v.LDate < ?1 then v.LDate end) from DList v group by v.DID "
    "having (select r.RunTo from StatRuns r where r.RunFrom <= v.DID order by r.RunFrom desc limit 1) >= v.DID";
// Visits of the listed cards per month, the previous period's months included.
const char* const kMonths =
    "select substr(v.LDate, 1, 7), count(*) from DList v where v.LDate between ?1 and ?2 "
    "and exists (select 1 from StatByCard s where s.ID = v.DID) group by substr(v.LDate, 1, 7)";
const char* const kTopCards =
    "select s.ID, c.BName, c.DName, s.Visits from (select ID, Visits from StatByCard where Visits > 0 "
    "order by Visits desc, ID limit ?1) s join D_B c on c.ID = s.ID order by s.Visits desc, s.ID";
// Category by province in one grouping; each chart adds up its own side.
const char* const kKinds =
    "select c.theType, c.DArea, sum(s.Visits) from StatByCard s join D_B c on c.ID = s.ID "
    "where s.Visits > 0 group by c.theType, c.DArea";
const char* const kUnvisitedCount = "select count(*) from StatByCard where Visits = 0 and LastBefore is not null";
const char* const kUnvisited =
    "select s.ID, c.BName, c.DName, s.LastBefore from (select ID, LastBefore from StatByCard "
    "where Visits = 0 and LastBefore is not null order by LastBefore, ID limit ?1) s "
    "join D_B c on c.ID = s.ID order by s.LastBefore, s.ID";

void writeRuns(Database& db, std::vector<int64_t> ids)
{
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    QString sql;
    int rows = 0;
    auto flush = [&] {
        if (rows > 0)
            db.execute(sql);
        sql.clear();
        rows = 0;
    };
    for (size_t first = 0; first < ids.size();) {
        size_t last = first;
        while (last + 1 < ids.size() && ids[last + 1] == ids[last] + 1)
            ++last;
        sql += (rows == 0 ? QStringLiteral("insert into StatRuns (RunFrom, RunTo) values (") : QStringLiteral(",("))
            + QString::number(ids[first]) + u',' + QString::number(ids[last]) + u')';
        if (++rows == kRunsPerStatement)
            flush();
        first = last + 1;
    }
    flush();
}

std::vector<LabelVisits> sortedLabels(const std::map<QString, int64_t>& sums)
{
    std::vector<LabelVisits> labels;
    for (const auto& [label, visits] : sums)
        labels.push_back({label, visits});
    std::stable_sort(labels.begin(), labels.end(), [](const LabelVisits& a, const LabelVisits& b) { return a.visits > b.visits; });
    return labels;
}

void readMonths(Database& db, VisitStatistics& stats)
{
    const VisitPeriod previous = stats.period.previous();
    std::map<QString, int64_t> byMonth;
    db.runBound(QString::fromLatin1(kMonths), {dayText(previous.from), dayText(stats.period.to)},
                [&](const Database::Row& row) { byMonth[row.text(0)] = row.integer(1); });
    const int count = stats.period.months();
    const QDate first(stats.period.from.year(), stats.period.from.month(), 1);
    // The previous period's months fall outside the period only at its ends, where a period
    // begins or ends within a month: those days are counted by the dates, not the month.
    const int64_t previousTotal = db.firstInteger(
        QStringLiteral("select count(*) from DList v where v.LDate between ?1 and ?2 "
                       "and exists (select 1 from StatByCard s where s.ID = v.DID)"),
        {dayText(previous.from), dayText(previous.to)});
    for (int i = 0; i < count; ++i) {
        const QDate month = first.addMonths(i);
        MonthVisits m{monthText(month), byMonth[monthText(month)], byMonth[monthText(month.addMonths(-count))]};
        stats.visits += m.visits;
        stats.months.push_back(m);
    }
    stats.previousVisits = previousTotal;
}

void readKinds(Database& db, VisitStatistics& stats)
{
    std::map<QString, int64_t> categories, provinces;
    db.runBound(QString::fromLatin1(kKinds), {}, [&](const Database::Row& row) {
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

} // namespace

QStringList visitStatsIndexStatements()
{
    return {QStringLiteral("CREATE INDEX IF NOT EXISTS DList_Card_Date ON DList (DID, LDate)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS DList_Date_Card ON DList (LDate, DID)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS D_B_Kind ON D_B (ID, theType, DArea)")};
}

QString visitStatsIndexCountSql()
{
    return QStringLiteral("select count(*) from sqlite_master where type = 'index' "
                          "and name in ('DList_Card_Date', 'DList_Date_Card', 'D_B_Kind')");
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
    return {from.addMonths(-months()), from.addDays(-1)};
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
    db.execute(QString::fromLatin1(kRunsTable));
    db.execute(QString::fromLatin1(kByCardTable));
    writeRuns(db, cards);
    db.runBound(QString::fromLatin1(kByCardFill), {dayText(period.from), dayText(period.to)});
    readMonths(db, stats);
    readKinds(db, stats);
    readCards(db, stats);
    return stats;
}

} // namespace ostrel

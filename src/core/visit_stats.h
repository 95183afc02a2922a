#pragma once
#include <QDate>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace ostrel {

class Database;

// The visit statistics of a set of cards (the main window's list) over a range of days,
// counted by the engine in grouped statements: visits per month against the period before,
// the most visited cards, visits by category and by province, and the cards visited before
// the range but not within it. Only the cards given count, so visits of deleted cards and
// visits whose card is gone never do.

// Both ends included.
struct VisitPeriod {
    QDate from;
    QDate to;

    // The calendar months the period touches, at least 1.
    int months() const;
    // The same days as many months earlier as the period has months (the last 12 months:
    // the same days a year before): each month bar is compared with the same days then.
    VisitPeriod previous() const;
    bool isValid() const { return from.isValid() && to.isValid() && from <= to; }
};

// The last 12 months up to day: from the first of the month 11 months back.
VisitPeriod lastTwelveMonths(const QDate& day);

struct MonthVisits {
    QString month; // "yyyy-mm"
    int64_t visits = 0;
    int64_t previous = 0; // in the same month of the previous period
};

struct CardVisits {
    int64_t card = 0;
    QString name;
    QString company;
    int64_t visits = 0;
};

struct LabelVisits {
    QString label; // the category or province as stored; empty when the card has none
    int64_t visits = 0;
};

struct UnvisitedCard {
    int64_t card = 0;
    QString name;
    QString company;
    QString lastVisit; // "yyyy-mm-dd", the last before the period
    int64_t days = 0;  // from the last visit to the period's end
};

struct VisitStatistics {
    VisitPeriod period;
    std::vector<MonthVisits> months; // every month of the period, in order
    std::vector<CardVisits> topCards;     // most visits first, at most kTopCards
    std::vector<LabelVisits> categories;  // most visits first
    std::vector<LabelVisits> provinces;   // most visits first
    std::vector<UnvisitedCard> unvisited; // longest gap first, at most kUnvisitedShown
    int64_t unvisitedCount = 0;           // all of them
    int64_t visits = 0;                   // in the period
    int64_t previousVisits = 0;           // in the previous period

    static constexpr int kTopCards = 10;
    static constexpr int kUnvisitedShown = 500;
};

// The indexes the counting reads instead of the tables, each by its name, made by the schema
// upgrade on the file and the server: visits by card and date, visits by date and card, and
// the cards by category and province.
std::vector<std::pair<QString, QString>> visitStatsIndexes();

// A category or province as the charts and tables show it: "未填" for a card without one.
QString shownLabel(const QString& label);

// Counts the visits of cards (card IDs, in any order) in period. Runs in one transaction on
// temporary tables of the connection's own. Throws EngineError.
VisitStatistics visitStatistics(Database& db, const std::vector<int64_t>& cards, const VisitPeriod& period);

} // namespace ostrel

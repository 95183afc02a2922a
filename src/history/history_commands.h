#pragma once
#include "history_windows.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <vector>

class QWidget;

namespace ostrel {

class TfrmDM;

// Opens the visit and anniversary windows over their owner, each with the data module,
// and the overviews with the card opener. What those windows change is announced by
// cardsChanged.
class HistoryCommands : public QObject {
    Q_OBJECT
public:
    HistoryCommands(TfrmDM& dm, QWidget* owner, CardOpener openCard);

    // The visits or anniversaries of one card, captioned with the holder's name.
    void openVisits(const QString& cardId, const QString& name);
    void openAnniversaries(const QString& cardId, const QString& name);
    // All visits / all anniversaries, unfiltered at first.
    void openVisitOverview();
    void openAnniversaryOverview();
    // The anniversaries between two month-days ("mm-dd"), range switched on.
    void openAnniversaryReminder(const QString& from, const QString& to);
    // 拜访统计 over owner (the opener when null): the charts of the listed cards' visits.
    void openVisitStats(QWidget* owner = nullptr);
    // Where the statistics take the listed cards from: the main window's list.
    void setListedCards(std::function<std::vector<int64_t>()> listedCards) { m_listedCards = std::move(listedCards); }

signals:
    void cardsChanged();

private:
    template <typename Window>
    void openCardRecords(QWidget* owner, const QString& cardId, const QString& caption);

    TfrmDM& m_dm;
    QWidget* m_owner;
    CardOpener m_openCard;
    std::function<std::vector<int64_t>()> m_listedCards;
};

} // namespace ostrel

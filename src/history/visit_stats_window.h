#pragma once
#include "core/visit_stats.h"
#include "history_windows.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <vector>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ostrel {

class GbkEdit;
class TfrmDM;
class VisitChart;

// What the statistics window asks of its opener: the cards of the main window's list as
// it stands (its conditions, advanced filter and quick find applied), and the windows a
// chart opens.
struct VisitStatsLinks {
    std::function<std::vector<int64_t>()> listedCards;
    // The visit records of one card, captioned with the holder's name.
    std::function<void(QWidget* owner, const QString& cardId, const QString& name)> openVisits;
    CardOpener openCard;
};

// 拜访统计: the visits of the listed cards in a range of days (the last 12 months at first)
// as charts: per month against the period before, the 10 most visited cards, by category
// and by province, and the cards visited before the range but not within it. A card's bar
// opens its visit records; a double click on an unvisited card opens the card.
class VisitStatsWindow : public QDialog {
    Q_OBJECT
public:
    VisitStatsWindow(TfrmDM& dm, QWidget* parent, VisitStatsLinks links);

    // 统计: counts the listed cards' visits in the range of the two boxes.
    void refresh();
    // 保存图片…: the charts and the list as a PNG at twice the screen's resolution.
    void savePicture();
    // 导出: the tables behind the charts with native charts of them, as a report workbook.
    void exportWorkbook();
    // The charts and the list drawn into an image at the scale given.
    QImage picture(qreal scale) const;
    const VisitStatistics& statistics() const { return m_stats; }

    GbkEdit* Edit1; // from
    GbkEdit* Edit2; // to
    QPushButton* BitBtn1;   // 统计
    QPushButton* SaveButton;   // 保存图片…
    QPushButton* ExportButton; // 导出
    QPushButton* BitBtn3;      // 退出
    VisitChart* MonthChart;
    VisitChart* TopChart;
    VisitChart* CategoryChart;
    VisitChart* ProvinceChart;
    QTreeWidget* UnvisitedList;
    QLabel* UnvisitedLabel;
    QLabel* SummaryLabel;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QHBoxLayout* makeTopRow();
    void makeChartPanel();
    void showStatistics();
    void openTopCard(int index);
    void openUnvisitedCard(QTreeWidgetItem* item);

    TfrmDM& m_dm;
    VisitStatsLinks m_links;
    VisitStatistics m_stats;
    QWidget* m_panel; // what the picture shows
    bool m_loaded = false;
};

} // namespace ostrel

#include "visit_stats_window.h"

#include "app/application.h"
#include "app/clock.h"
#include "app/data_module.h"
#include "app/date_box.h"
#include "app/dialogs.h"
#include "export/report_folder.h"
#include "export/visit_stats_workbook.h"
#include "ui/common/gbk_edit.h"
#include "ui/common/wait_cursor.h"
#include "ui/common/window_parts.h"
#include "visit_chart.h"

#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>

namespace ostrel {

namespace {

// The ring and the province bars show this many and put the rest together as 其它.
constexpr size_t kRingPieces = 7;
constexpr size_t kProvinceBars = 10;
// Beyond ten years the month bars are too thin to read.
constexpr int kMostMonths = 120;

QString dayText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

// The first labels, and what the rest add up to (their number and visits).
struct ShownLabels {
    std::vector<ChartValue> values;
    int restCount = 0;
    double rest = 0;
};

ShownLabels labelValues(const std::vector<LabelVisits>& labels, size_t shown)
{
    ShownLabels result;
    for (size_t i = 0; i < labels.size(); ++i) {
        if (i < shown || labels.size() == shown + 1) {
            result.values.push_back({shownLabel(labels[i].label), {}, static_cast<double>(labels[i].visits)});
        } else {
            ++result.restCount;
            result.rest += static_cast<double>(labels[i].visits);
        }
    }
    return result;
}

std::vector<ChartValue> monthValues(const VisitStatistics& stats)
{
    std::vector<ChartValue> values;
    for (size_t i = 0; i < stats.months.size(); ++i) {
        const MonthVisits& m = stats.months[i];
        const int month = m.month.mid(5, 2).toInt();
        // The year under the first month and under each January.
        QString label = QStringLiteral("%1月").arg(month);
        if (i == 0 || month == 1)
            label += u'\n' + m.month.left(4);
        const QString tip = QStringLiteral("%1：%2 次（上期 %3 次）").arg(m.month).arg(m.visits).arg(m.previous);
        values.push_back({label, tip, static_cast<double>(m.visits), static_cast<double>(m.previous)});
    }
    return values;
}

} // namespace

VisitStatsWindow::VisitStatsWindow(TfrmDM& dm, QWidget* parent, VisitStatsLinks links)
    : QDialog(parent), m_dm(dm), m_links(std::move(links))
{
    setObjectName(QStringLiteral("frmVisitStats"));
    setWindowTitle(QStringLiteral("拜访统计"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    resize(1100, 760);

    QHBoxLayout* top = makeTopRow();
    makeChartPanel();

    SummaryLabel = named(new QLabel(this), "SummaryLabel");
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_panel, 1);
    layout->addWidget(SummaryLabel);

    connectGuarded(BitBtn1, &QPushButton::clicked, this, &VisitStatsWindow::refresh);
    connectGuarded(SaveButton, &QPushButton::clicked, this, &VisitStatsWindow::savePicture);
    connectGuarded(ExportButton, &QPushButton::clicked, this, &VisitStatsWindow::exportWorkbook);
    connectGuarded(BitBtn3, &QPushButton::clicked, this, &QDialog::reject);
    connectGuarded(TopChart, &VisitChart::valueClicked, this, &VisitStatsWindow::openTopCard);
    connectGuarded(UnvisitedList, &QTreeWidget::itemDoubleClicked, this,
                   [this](QTreeWidgetItem* item, int) { openUnvisitedCard(item); });
}

// The date range and the buttons.
QHBoxLayout* VisitStatsWindow::makeTopRow()
{
    auto* range = named(new QGroupBox(QStringLiteral("统计范围"), this), "GroupBox1");
    Edit1 = named(new GbkEdit(10, range), "Edit1");
    Edit2 = named(new GbkEdit(10, range), "Edit2");
    for (GbkEdit* edit : {Edit1, Edit2})
        edit->setFixedWidth(100);
    const VisitPeriod period = lastTwelveMonths(today());
    Edit1->setText(dayText(period.from));
    Edit2->setText(dayText(period.to));
    auto* rangeRow = new QHBoxLayout(range);
    rangeRow->addWidget(new QLabel(QStringLiteral("拜访日期"), range));
    rangeRow->addWidget(Edit1);
    rangeRow->addWidget(new QLabel(QStringLiteral("至"), range));
    rangeRow->addWidget(Edit2);
    rangeRow->addStretch(1);

    BitBtn1 = named(new QPushButton(QStringLiteral("统计"), this), "BitBtn1");
    SaveButton = named(new QPushButton(QStringLiteral("保存图片…"), this), "SaveButton");
    ExportButton = named(new QPushButton(QStringLiteral("导出"), this), "ExportButton");
    BitBtn3 = named(new QPushButton(QStringLiteral("退出"), this), "BitBtn3");
    BitBtn1->setDefault(true); // Enter in a date box counts again
    for (QPushButton* button : {SaveButton, ExportButton, BitBtn3})
        button->setAutoDefault(false);
    auto* top = new QHBoxLayout;
    top->addWidget(range, 1);
    for (QPushButton* button : {BitBtn1, SaveButton, ExportButton, BitBtn3})
        top->addWidget(button);
    return top;
}

// The charts and the list of cards not visited, on the panel the picture shows.
void VisitStatsWindow::makeChartPanel()
{
    m_panel = new QWidget(this);
    m_panel->setAutoFillBackground(true);
    m_panel->setBackgroundRole(QPalette::Base);
    MonthChart = named(new VisitChart(VisitChart::Kind::Columns, QStringLiteral("每月拜访次数（虚线框为上期）"), m_panel), "MonthChart");
    TopChart = named(new VisitChart(VisitChart::Kind::Bars, QStringLiteral("拜访最多的 10 张名片（点击查看拜访记录）"), m_panel), "TopChart");
    CategoryChart = named(new VisitChart(VisitChart::Kind::Ring, QStringLiteral("按分类"), m_panel), "CategoryChart");
    ProvinceChart = named(new VisitChart(VisitChart::Kind::Bars, QStringLiteral("按省份"), m_panel), "ProvinceChart");
    UnvisitedLabel = named(new QLabel(QStringLiteral("久未拜访"), m_panel), "UnvisitedLabel");
    QFont bold = UnvisitedLabel->font();
    bold.setBold(true);
    UnvisitedLabel->setFont(bold);
    UnvisitedList = named(new QTreeWidget(m_panel), "UnvisitedList");
    UnvisitedList->setRootIsDecorated(false);
    UnvisitedList->setUniformRowHeights(true);
    UnvisitedList->setHeaderLabels({QStringLiteral("姓名"), QStringLiteral("单位名称"), QStringLiteral("最近拜访"), QStringLiteral("间隔天数")});
    UnvisitedList->setToolTip(QStringLiteral("范围之前拜访过、范围之内没有拜访的名片，间隔最久的在前；双击打开名片"));
    UnvisitedList->header()->setStretchLastSection(false);
    for (int column : {0, 2, 3})
        UnvisitedList->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    UnvisitedList->header()->setSectionResizeMode(1, QHeaderView::Stretch);

    auto* grid = new QGridLayout(m_panel);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->addWidget(MonthChart, 0, 0, 1, 2);
    grid->addWidget(TopChart, 0, 2);
    grid->addWidget(CategoryChart, 1, 0);
    grid->addWidget(ProvinceChart, 1, 1);
    auto* unvisited = new QVBoxLayout;
    unvisited->addWidget(UnvisitedLabel);
    unvisited->addWidget(UnvisitedList, 1);
    grid->addLayout(unvisited, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(0, 1);
    grid->setRowStretch(1, 1);
}

void VisitStatsWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous() && !m_loaded)
        runGuarded([this] { refresh(); });
}

void VisitStatsWindow::refresh()
{
    for (GbkEdit* bound : {Edit1, Edit2})
        if (!takeDate(this, bound, QStringLiteral("拜访日期"), DateForm::Date))
            return;
    const VisitPeriod period{QDate::fromString(Edit1->text(), QStringLiteral("yyyy-MM-dd")),
                             QDate::fromString(Edit2->text(), QStringLiteral("yyyy-MM-dd"))};
    if (!period.isValid() || period.months() > kMostMonths) {
        showInfo(this, period.isValid() ? QStringLiteral("统计范围最多 %1 个月（10 年）。").arg(kMostMonths)
                                        : QStringLiteral("起始日期不能晚于结束日期。"));
        Edit1->setFocus();
        return;
    }
    m_loaded = true;
    {
        WaitCursor wait;
        const std::vector<int64_t> cards = m_links.listedCards ? m_links.listedCards() : std::vector<int64_t>{};
        m_stats = visitStatistics(m_dm.ADOConnection1, cards, period);
    }
    showStatistics();
}

void VisitStatsWindow::showStatistics()
{
    MonthChart->setValues(monthValues(m_stats));
    std::vector<ChartValue> top;
    for (const CardVisits& c : m_stats.topCards) {
        const QString who = c.company.isEmpty() ? c.name : c.name + QStringLiteral("（") + c.company + QStringLiteral("）");
        top.push_back({c.name, QStringLiteral("%1：%2 次，点击查看拜访记录").arg(who).arg(c.visits), static_cast<double>(c.visits)});
    }
    TopChart->setValues(std::move(top));
    // The ring is whole: the rest is one piece. A bar of the rest would dwarf the provinces
    // shown, so the title tells it instead.
    ShownLabels categories = labelValues(m_stats.categories, kRingPieces);
    if (categories.restCount > 0)
        categories.values.push_back({QStringLiteral("其它"), {}, categories.rest});
    CategoryChart->setValues(std::move(categories.values));
    ShownLabels provinces = labelValues(m_stats.provinces, kProvinceBars);
    ProvinceChart->setTitle(provinces.restCount > 0 ? QStringLiteral("按省份（其余 %1 个共 %2 次）").arg(provinces.restCount).arg(provinces.rest)
                                                    : QStringLiteral("按省份"));
    ProvinceChart->setValues(std::move(provinces.values));

    UnvisitedList->clear();
    QList<QTreeWidgetItem*> items;
    for (const UnvisitedCard& u : m_stats.unvisited) {
        auto* item = new QTreeWidgetItem({u.name, u.company, u.lastVisit, QString::number(u.days)});
        item->setData(0, Qt::UserRole, QString::number(u.card));
        item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        items << item;
    }
    UnvisitedList->addTopLevelItems(items);
    QString unvisited = QStringLiteral("久未拜访：%1 张名片").arg(m_stats.unvisitedCount);
    if (m_stats.unvisitedCount > static_cast<int64_t>(m_stats.unvisited.size()))
        unvisited += QStringLiteral("，列出间隔最久的 %1 张").arg(m_stats.unvisited.size());
    if (m_stats.unvisitedCount == 0)
        unvisited = QStringLiteral("久未拜访：没有这样的名片");
    UnvisitedLabel->setText(unvisited);

    QString summary = QStringLiteral("%1 至 %2：拜访 %3 次；上期（%4 至 %5）%6 次")
                          .arg(dayText(m_stats.period.from), dayText(m_stats.period.to))
                          .arg(m_stats.visits)
                          .arg(dayText(m_stats.period.previous().from), dayText(m_stats.period.previous().to))
                          .arg(m_stats.previousVisits);
    if (m_stats.visits == 0)
        summary = QStringLiteral("%1 至 %2：没有拜访记录").arg(dayText(m_stats.period.from), dayText(m_stats.period.to));
    SummaryLabel->setText(summary);
}

void VisitStatsWindow::openTopCard(int index)
{
    if (index < 0 || index >= static_cast<int>(m_stats.topCards.size()) || !m_links.openVisits)
        return;
    const CardVisits& card = m_stats.topCards[static_cast<size_t>(index)];
    m_links.openVisits(this, QString::number(card.card), card.name);
}

void VisitStatsWindow::openUnvisitedCard(QTreeWidgetItem* item)
{
    if (item && m_links.openCard)
        m_links.openCard(this, item->data(0, Qt::UserRole).toString());
}

QImage VisitStatsWindow::picture(qreal scale) const
{
    QImage image(m_panel->size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(m_panel->palette().color(QPalette::Base));
    QPainter painter(&image);
    m_panel->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

void VisitStatsWindow::savePicture()
{
    const QString suggested = QDir(reportFolder()).filePath(QStringLiteral("拜访统计 %1.png").arg(dayText(today())));
    QString path = chooseSaveFile(this, QStringLiteral("保存图片"), suggested, QStringLiteral("PNG 图片 (*.png)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        path += QStringLiteral(".png");
    if (!picture(2).save(path, "PNG"))
        showInfo(this, QStringLiteral("图片没有保存：无法写入 %1").arg(QDir::toNativeSeparators(path)));
}

void VisitStatsWindow::exportWorkbook()
{
    // Nothing counted yet (the count ended in an error): no workbook of nothing.
    if (!m_stats.period.isValid()) {
        showInfo(this, QStringLiteral("还没有统计结果，请先点“统计”。"));
        return;
    }
    exportVisitStats(this, m_stats);
}

} // namespace ostrel

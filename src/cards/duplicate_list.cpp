// 查找重复名片…: the search with its progress, and the list of the groups it found.
#include "duplicate_windows.h"

#include "app/application.h"
#include "app/dialogs.h"
#include "core/duplicates/not_duplicates.h"
#include "engine/database.h"
#include "ui/common/window_parts.h"

#include <QAbstractTableModel>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace ostrel {

namespace {

constexpr int kSteps = 1000;
const QString kTitle = QStringLiteral("查找重复名片");

// The grouping on a thread of its own: only the hashes of the cards, no database, is handed over.
std::optional<std::vector<DuplicateGroup>> groupOnThread(DuplicateSearch& search, const CardPairs& notDuplicates,
                                                         QProgressDialog& progress)
{
    std::atomic<int64_t> done{0};
    std::atomic<bool> cancelled{false}, finished{false};
    std::vector<DuplicateGroup> groups;
    std::string failure;
    std::thread worker([&] {
        try {
            groups = search.groups(notDuplicates, [&](int64_t d, int64_t total) {
                done = total > 0 ? d * kSteps / total : kSteps;
                return !cancelled.load();
            });
        } catch (const std::exception& error) {
            failure = error.what();
        }
        finished = true;
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished)
            loop.quit();
        else
            progress.setValue(kSteps + static_cast<int>(done.load()));
    });
    const QMetaObject::Connection cancel = QObject::connect(&progress, &QProgressDialog::canceled, [&] { cancelled = true; });
    poll.start(50);
    if (!finished)
        loop.exec();
    worker.join();
    QObject::disconnect(cancel);
    if (!failure.empty())
        throw std::runtime_error(failure);
    if (cancelled)
        return std::nullopt;
    return groups;
}

QString cardLabel(const CardTitle& card)
{
    const QString name = card.name.isEmpty() ? QStringLiteral("（无姓名）") : card.name;
    return card.company.isEmpty() ? name : QStringLiteral("%1（%2）").arg(name, card.company);
}

QString reasonsText(const std::vector<DuplicateReason>& reasons)
{
    QStringList texts;
    for (DuplicateReason reason : reasons)
        texts << duplicateReasonText(reason);
    return texts.join(QStringLiteral("、"));
}

} // namespace

std::optional<FoundDuplicates> searchDuplicates(Database& db, QWidget* parent)
{
    // Reading the cards and making their keys take the first half of the bar, grouping the
    // second; the keys are made as the pages are read, so the cards' texts are never all held.
    auto progress = cancellableProgress(parent, kTitle, QStringLiteral("正在读取名片……"), 2 * kSteps);
    bool cancelled = false;
    QObject::connect(progress.get(), &QProgressDialog::canceled, [&] { cancelled = true; });
    DuplicateSearch search(static_cast<size_t>(liveCardCount(db)));
    const bool read = addLiveCards(db, search, [&](int64_t done, int64_t total) {
        progress->setValue(static_cast<int>(done * kSteps / total));
        return !cancelled;
    });
    if (!read || cancelled)
        return std::nullopt;
    const CardPairs notDuplicates = loadNotDuplicates(db);
    progress->setLabelText(QStringLiteral("正在比较 %1 张名片……").arg(search.size()));
    std::optional<std::vector<DuplicateGroup>> groups = groupOnThread(search, notDuplicates, *progress);
    if (!groups)
        return std::nullopt;
    FoundDuplicates found{std::move(*groups), {}, static_cast<int64_t>(search.size())};
    std::vector<int64_t> ids;
    for (const DuplicateGroup& group : found.groups)
        ids.insert(ids.end(), group.cards.begin(), group.cards.end());
    for (const auto& [id, title] : cardTitles(db, std::move(ids)))
        found.labels.insert(id, cardLabel(title));
    progress->close();
    return found;
}

// The groups as rows: number, cards, count, reasons.
class DuplicateGroupModel : public QAbstractTableModel {
public:
    DuplicateGroupModel(FoundDuplicates found, QObject* parent) : QAbstractTableModel(parent), m_found(std::move(found)) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : static_cast<int>(m_found.groups.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 3; }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role != Qt::DisplayRole)
            return {};
        if (orientation == Qt::Vertical)
            return section + 1;
        static const QStringList titles = {QStringLiteral("名片"), QStringLiteral("张数"), QStringLiteral("原因")};
        return titles.value(section);
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
            return {};
        const DuplicateGroup& group = m_found.groups[static_cast<size_t>(index.row())];
        switch (index.column()) {
        case 0: {
            QStringList names;
            for (int64_t id : group.cards)
                names << m_found.labels.value(id);
            return names.join(role == Qt::ToolTipRole ? QStringLiteral("\n") : QStringLiteral("、"));
        }
        case 1:
            return static_cast<int>(group.cards.size());
        default:
            return reasonsText(group.reasons);
        }
    }
    const DuplicateGroup& group(int row) const { return m_found.groups[static_cast<size_t>(row)]; }
    void removeGroup(int row)
    {
        beginRemoveRows({}, row, row);
        m_found.groups.erase(m_found.groups.begin() + row);
        endRemoveRows();
    }

private:
    FoundDuplicates m_found;
};

TfrmDupList::TfrmDupList(Database& db, FoundDuplicates found, QWidget* parent)
    : QDialog(parent), m_db(db), m_cards(found.cards)
{
    setCloseBoxOnly(this);
    setWindowTitle(kTitle);
    resize(860, 520);
    auto* column = new QVBoxLayout(this);
    SummaryLabel = named(new QLabel(this), "SummaryLabel");
    SummaryLabel->setWordWrap(true);
    column->addWidget(SummaryLabel);
    m_model = new DuplicateGroupModel(std::move(found), this);
    GroupTable = named(new QTableView(this), "GroupTable");
    GroupTable->setModel(m_model);
    GroupTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    GroupTable->setSelectionMode(QAbstractItemView::SingleSelection);
    GroupTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GroupTable->setWordWrap(false);
    GroupTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    GroupTable->setColumnWidth(0, 470);
    GroupTable->setColumnWidth(1, 50);
    GroupTable->horizontalHeader()->setStretchLastSection(true);
    column->addWidget(GroupTable, 1);
    auto* row = new QHBoxLayout;
    MergeButton = named(new QPushButton(QStringLiteral("合并…"), this), "MergeButton");
    NotDuplicateButton = named(new QPushButton(QStringLiteral("不是重复"), this), "NotDuplicateButton");
    NotDuplicateButton->setToolTip(QStringLiteral("记住这组名片不是同一个人，以后不再列出"));
    CloseButton = named(new QPushButton(QStringLiteral("关闭"), this), "CloseButton");
    row->addWidget(MergeButton);
    row->addWidget(NotDuplicateButton);
    row->addStretch();
    row->addWidget(CloseButton);
    column->addLayout(row);
    connectGuarded(MergeButton, &QPushButton::clicked, this, &TfrmDupList::mergeSelected);
    connectGuarded(GroupTable, &QTableView::doubleClicked, this, &TfrmDupList::mergeSelected);
    connectGuarded(NotDuplicateButton, &QPushButton::clicked, this, &TfrmDupList::notDuplicateSelected);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);
    if (m_model->rowCount() > 0)
        GroupTable->selectRow(0);
    showCount();
}

TfrmDupList::~TfrmDupList() = default;

int TfrmDupList::selectedRow() const
{
    const QModelIndexList rows = GroupTable->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void TfrmDupList::showCount()
{
    const int groups = m_model->rowCount();
    SummaryLabel->setText(groups == 0 ? QStringLiteral("在 %1 张名片中没有找到可能重复的名片。").arg(m_cards)
                                      : QStringLiteral("在 %1 张名片中找到 %2 组可能重复的名片，最可能重复的在前。"
                                                       "选中一组后点“合并…”逐项核对后合并，或点“不是重复”以后不再列出。")
                                            .arg(m_cards).arg(groups));
    MergeButton->setEnabled(groups > 0);
    NotDuplicateButton->setEnabled(groups > 0);
}

void TfrmDupList::mergeSelected()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    std::vector<MergeCard> cards = loadMergeCards(m_db, m_model->group(row).cards);
    std::erase_if(cards, [](const MergeCard& card) { return !card.live; });
    if (cards.size() < 2) {
        showInfo(this, QStringLiteral("这组名片在列出之后已被删除（可能是另一台电脑），不再需要合并。"));
        m_model->removeGroup(row);
        showCount();
        return;
    }
    TfrmDupMerge merge(m_db, std::move(cards), this);
    if (showModal(&merge) != QDialog::Accepted)
        return;
    m_model->removeGroup(row);
    showCount();
    emit cardsChanged();
}

void TfrmDupList::notDuplicateSelected()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    std::vector<CardPair> pairs;
    for (const DuplicatePair& pair : m_model->group(row).pairs)
        pairs.push_back({pair.first, pair.second});
    rememberNotDuplicates(m_db, pairs);
    m_model->removeGroup(row);
    showCount();
}

} // namespace ostrel

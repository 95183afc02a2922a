#include "scan_review.h"

#include "app/application.h"
#include "app/dialogs.h"
#include "core/card_fields.h"
#include "core/scan/card_sides.h"
#include "formats/gbk.h"
#include "ui/common/window_parts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace ostrel {

namespace {

enum Column { Tick, Thumbnail, Name, Company, Mobile, Source, Columns };
constexpr int kThumbHeight = kScanThumbHeight / 2;

QString shortCaption(const CardField& field)
{
    return field.captionText().remove(u' ').remove(u'：');
}

bool problemOf(const ScannedCard& card);

} // namespace

QString scannedCardProblem(const QStringList& values)
{
    if (values[kNameField].isEmpty())
        return QStringLiteral("没有识别出姓名");
    for (int i = 0; i < kCardFieldCount; ++i) {
        const CardField& f = cardFields()[static_cast<size_t>(i)];
        if (!f.isLookup() && gbkLength(values[i]) > f.inputLimit)
            return QStringLiteral("%1 超过 %2 个字节").arg(shortCaption(f)).arg(f.inputLimit);
    }
    return {};
}

namespace {

bool problemOf(const ScannedCard& card)
{
    return !scannedCardProblem(QStringList(card.values.begin(), card.values.end())).isEmpty();
}

} // namespace

TfrmScanList::TfrmScanList(std::vector<ScannedPage> pages, OpenCard open, SaveCard save, QWidget* parent)
    : QDialog(parent), m_pages(std::move(pages)), m_saved(m_pages.size(), 0), m_open(std::move(open)),
      m_save(std::move(save))
{
    setCloseBoxOnly(this);
    setWindowTitle(QStringLiteral("扫描名片 - 核对识别结果"));
    resize(820, 520);
    auto* column = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setWordWrap(true);
    column->addWidget(m_summary);
    showSummary();
    ScanTable = named(new QTableWidget(static_cast<int>(m_pages.size()), Columns, this), "ScanTable");
    ScanTable->setHorizontalHeaderLabels({QStringLiteral("保存"), QStringLiteral("图像"), QStringLiteral("姓名"),
                                          QStringLiteral("单位名称"), QStringLiteral("移动电话"), QStringLiteral("来源")});
    ScanTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    ScanTable->setSelectionMode(QAbstractItemView::SingleSelection);
    ScanTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ScanTable->verticalHeader()->setDefaultSectionSize(kThumbHeight + 6);
    ScanTable->setIconSize(QSize(kThumbHeight * 16 / 9, kThumbHeight));
    ScanTable->horizontalHeader()->setStretchLastSection(true);
    for (int r = 0; r < static_cast<int>(m_pages.size()); ++r) {
        const ScannedPage& page = m_pages[static_cast<size_t>(r)];
        auto* thumb = new QTableWidgetItem;
        thumb->setIcon(QPixmap::fromImage(page.thumbnail));
        ScanTable->setItem(r, Thumbnail, thumb);
        ScanTable->setItem(r, Source, new QTableWidgetItem(page.source));
        showRow(r);
    }
    ScanTable->setColumnWidth(Tick, 40);
    ScanTable->setColumnWidth(Thumbnail, kThumbHeight * 16 / 9 + 12);
    ScanTable->setColumnWidth(Name, 90);
    ScanTable->setColumnWidth(Company, 230);
    ScanTable->setColumnWidth(Mobile, 120);
    column->addWidget(ScanTable, 1);
    BackOfPreviousButton = named(new QPushButton(QStringLiteral("设为上一张的背面"), this), "BackOfPreviousButton");
    auto* buttons = new QHBoxLayout;
    // Set apart: it changes the list rather than saving from it.
    RemoveButton = named(new QPushButton(QStringLiteral("移除"), this), "RemoveButton");
    for (QPushButton* b : {BackOfPreviousButton, RemoveButton}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    OpenButton = named(new QPushButton(QStringLiteral("打开"), this), "OpenButton");
    SaveAllButton = named(new QPushButton(QStringLiteral("全部保存"), this), "SaveAllButton");
    CloseButton = named(new QPushButton(QStringLiteral("退出"), this), "CloseButton");
    for (QPushButton* b : {OpenButton, SaveAllButton, CloseButton}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    column->addLayout(buttons);
    connectGuarded(OpenButton, &QPushButton::clicked, this, [this] { openRow(ScanTable->currentRow()); });
    connectGuarded(ScanTable, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { openRow(row); });
    connectGuarded(BackOfPreviousButton, &QPushButton::clicked, this,
                   [this] { makeBackOfPrevious(ScanTable->currentRow()); });
    connectGuarded(RemoveButton, &QPushButton::clicked, this, [this] { removeRow(ScanTable->currentRow()); });
    connectGuarded(SaveAllButton, &QPushButton::clicked, this, &TfrmScanList::saveTicked);
    connectGuarded(CloseButton, &QPushButton::clicked, this, &QDialog::close);
}

void TfrmScanList::showSummary()
{
    const auto unread = std::count_if(m_pages.begin(), m_pages.end(), [](const ScannedPage& p) { return !p.isCard(); });
    QString text = QStringLiteral("共识别 %1 张名片。勾选要保存的名片后点“全部保存”，或双击一张在编辑窗口中核对后保存。")
                       .arg(static_cast<qsizetype>(m_pages.size()) - unread);
    if (unread > 0)
        text += QStringLiteral("\n另有 %1 张图像未识别到文字（如只有图案的背面）：可选中后点“设为上一张的背面”，或点“移除”。").arg(unread);
    m_summary->setText(text);
}

void TfrmScanList::showRow(int row)
{
    const ScannedPage& page = m_pages[static_cast<size_t>(row)];
    auto* tick = new QTableWidgetItem;
    if (page.isCard()) {
        tick->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        tick->setCheckState(problemOf(page.card) ? Qt::Unchecked : Qt::Checked);
    } else {
        // No tick to set: 全部保存 never saves an image without text as a card.
        tick->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }
    ScanTable->setItem(row, Tick, tick);
    auto* name = new QTableWidgetItem(page.isCard() ? page.card.value("BName") : QStringLiteral("（未识别到文字）"));
    if (!page.isCard()) {
        name->setForeground(Qt::darkGray);
        name->setToolTip(page.unread);
    }
    ScanTable->setItem(row, Name, name);
    ScanTable->setItem(row, Company, new QTableWidgetItem(page.card.value("DName")));
    ScanTable->setItem(row, Mobile, new QTableWidgetItem(page.card.value("BMob")));
}

void TfrmScanList::markSaved(int row, int64_t card)
{
    m_saved[static_cast<size_t>(row)] = card;
    QTableWidgetItem* tick = ScanTable->item(row, Tick);
    tick->setCheckState(Qt::Unchecked);
    tick->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    QTableWidgetItem* source = ScanTable->item(row, Source);
    source->setText(QStringLiteral("已保存 - ") + source->text()); // with the back it was given
    emit cardsChanged();
}

void TfrmScanList::openRow(int row)
{
    if (row < 0 || row >= static_cast<int>(m_pages.size()))
        return;
    if (m_saved[static_cast<size_t>(row)] != 0) {
        showInfo(this, QStringLiteral("这张名片已经保存，可在名片列表中修改。"));
        return;
    }
    if (!m_pages[static_cast<size_t>(row)].isCard()) {
        showInfo(this, QStringLiteral("这张图像上未识别到文字，不能作为名片打开。可点“设为上一张的背面”，或点“移除”。"));
        return;
    }
    if (const int64_t card = m_open(m_pages[static_cast<size_t>(row)]))
        markSaved(row, card);
}

void TfrmScanList::makeBackOfPrevious(int row)
{
    if (row < 1 || row >= static_cast<int>(m_pages.size())) {
        showInfo(this, QStringLiteral("请先选中第二张及以后的一张名片，它的图像将作为上一张名片的背面。"));
        return;
    }
    const auto at = static_cast<size_t>(row);
    if (m_saved[at] != 0 || m_saved[at - 1] != 0) {
        showInfo(this, QStringLiteral("已经保存的名片不能再合并正反面，可在名片列表中打开后添加背面。"));
        return;
    }
    ScannedPage& front = m_pages[at - 1];
    if (!front.isCard()) {
        showInfo(this, QStringLiteral("上一张图像未识别到文字，不能作为名片的正面。"));
        return;
    }
    if (!front.backJpeg.isEmpty()) {
        showInfo(this, QStringLiteral("上一张名片已经有背面。"));
        return;
    }
    const ScannedPage& back = m_pages[at];
    const bool untickedByUser = ScanTable->item(row - 1, Tick)->checkState() != Qt::Checked && !problemOf(front.card);
    front.backJpeg = back.jpeg;
    front.card = withBackSide(front.card, back.card);
    showRow(row - 1);
    if (untickedByUser)
        ScanTable->item(row - 1, Tick)->setCheckState(Qt::Unchecked);
    ScanTable->item(row - 1, Source)->setText(front.source + QStringLiteral("（背面：") + back.source + u'）');
    removeRow(row);
    ScanTable->selectRow(row - 1);
}

void TfrmScanList::removeRow(int row)
{
    if (row < 0 || row >= static_cast<int>(m_pages.size())) {
        showInfo(this, QStringLiteral("请先选中要移除的一张。"));
        return;
    }
    m_pages.erase(m_pages.begin() + row);
    m_saved.erase(m_saved.begin() + row);
    ScanTable->removeRow(row);
    showSummary();
}

void TfrmScanList::saveTicked()
{
    QStringList saved, skipped;
    for (int r = 0; r < ScanTable->rowCount(); ++r) {
        const ScannedPage& page = m_pages[static_cast<size_t>(r)];
        if (ScanTable->item(r, Tick)->checkState() != Qt::Checked || !page.isCard())
            continue;
        QString why;
        // An engine error stops here; the cards saved before it are marked and stay saved.
        const int64_t card = m_save(page, why);
        if (card == 0) {
            skipped << QStringLiteral("%1（%2）：%3").arg(page.source, page.card.value("BName"), why);
            continue;
        }
        markSaved(r, card);
        saved << page.card.value("BName");
    }
    if (saved.isEmpty() && skipped.isEmpty()) {
        showInfo(this, QStringLiteral("没有勾选要保存的名片。"));
        return;
    }
    QString text = QStringLiteral("已保存 %1 张名片。").arg(saved.size());
    if (!skipped.isEmpty())
        text += QStringLiteral("\n以下名片没有保存，请打开核对：\n") + skipped.join(u'\n');
    showInfo(this, text);
}

} // namespace ostrel

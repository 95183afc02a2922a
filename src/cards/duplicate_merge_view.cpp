// The merge of one group of duplicate cards: the cards side by side, the user's choices, and
// what the card rules answer.
#include "duplicate_windows.h"

#include "app/application.h"
#include "app/dialogs.h"
#include "engine/engine_error.h"
#include "formats/gbk.h"
#include "ui/common/window_parts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

namespace ostrel {

namespace {

constexpr int kNoteField = kCardFieldCount - 1;
const QColor kDiffers(255, 243, 196);
const QColor kChosen(198, 239, 206);

QString fieldTitle(const CardField& field)
{
    return field.captionText().remove(u' ').remove(u'：');
}

} // namespace

TfrmDupMerge::TfrmDupMerge(Database& db, std::vector<MergeCard> cards, QWidget* parent)
    : QDialog(parent), m_db(db), m_cards(std::move(cards)), m_kept(defaultKeptCard(m_cards)),
      m_choice(defaultChoice(m_cards, m_kept))
{
    setCloseBoxOnly(this);
    setWindowTitle(QStringLiteral("合并重复名片"));
    resize(std::min(260 + 230 * static_cast<int>(m_cards.size()), 1200), 800);
    auto* column = new QVBoxLayout(this);
    column->addWidget(new QLabel(QStringLiteral("勾选要保留的名片，以及不同之处（黄色）各保留哪一个值。没有保留的值写进补充信息，什么也不会丢；"
                                                "其余名片的拜访记录和纪念日都移到保留的名片，其余名片随后删除。"),
                                 this));
    column->itemAt(0)->widget()->setProperty("wordWrap", true);
    FieldTable = named(new QTableWidget(kCardFieldCount + 3, static_cast<int>(m_cards.size()), this), "FieldTable");
    FieldTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FieldTable->setSelectionMode(QAbstractItemView::NoSelection);
    FieldTable->setWordWrap(false);
    FieldTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    FieldTable->verticalHeader()->setDefaultSectionSize(22);
    // Every row in sight at once: the user compares the whole card.
    FieldTable->setMinimumHeight(FieldTable->rowCount() * 22 + 30);
    FieldTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    column->addWidget(FieldTable, 1);
    NoteBytesLabel = named(new QLabel(this), "NoteBytesLabel");
    column->addWidget(NoteBytesLabel);
    NoteEdit = named(new QPlainTextEdit(this), "NoteEdit");
    NoteEdit->setFixedHeight(64);
    NoteEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // the text wraps
    column->addWidget(NoteEdit);
    auto* row = new QHBoxLayout;
    MergeButton = named(new QPushButton(QStringLiteral("合并"), this), "MergeButton");
    CancelButton = named(new QPushButton(QStringLiteral("取消"), this), "CancelButton");
    MergeButton->setAutoDefault(false);
    row->addStretch();
    row->addWidget(MergeButton);
    row->addWidget(CancelButton);
    column->addLayout(row);
    fill();
    showChoices();
    connect(FieldTable, &QTableWidget::cellClicked, this, &TfrmDupMerge::choose);
    connect(FieldTable, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { choose(item->row(), item->column()); });
    connect(NoteEdit, &QPlainTextEdit::textChanged, this, &TfrmDupMerge::showNoteBytes);
    connectGuarded(MergeButton, &QPushButton::clicked, this, &TfrmDupMerge::merge);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmDupMerge::fill()
{
    QStringList rows{QStringLiteral("保留的名片")};
    for (const CardField& field : cardFields())
        rows << fieldTitle(field);
    rows << QStringLiteral("拜访记录") << QStringLiteral("纪念日");
    FieldTable->setVerticalHeaderLabels(rows);
    QStringList columns;
    for (size_t c = 0; c < m_cards.size(); ++c) {
        const MergeCard& card = m_cards[c];
        columns << QStringLiteral("名片 %1（编号 %2）").arg(c + 1).arg(card.id);
        const int col = static_cast<int>(c);
        auto* kept = new QTableWidgetItem(QStringLiteral("保留这张"));
        kept->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        FieldTable->setItem(kKeptRow, col, kept);
        for (int f = 0; f < kCardFieldCount; ++f) {
            auto* item = new QTableWidgetItem(card.values[static_cast<size_t>(f)]);
            item->setToolTip(item->text());
            const bool differs = fieldDiffers(m_cards, f);
            item->setFlags(differs ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::ItemIsEnabled);
            if (differs)
                item->setBackground(kDiffers);
            FieldTable->setItem(fieldRow(f), col, item);
        }
        FieldTable->setItem(fieldRow(kCardFieldCount), col, new QTableWidgetItem(QStringLiteral("%1 条").arg(card.visits)));
        FieldTable->setItem(fieldRow(kCardFieldCount) + 1, col, new QTableWidgetItem(QStringLiteral("%1 条").arg(card.anniversaries)));
    }
    FieldTable->setHorizontalHeaderLabels(columns);
}

// The ticks and colours of the choices, and the merged 补充信息 they give.
void TfrmDupMerge::showChoices()
{
    {
        const QSignalBlocker quiet(FieldTable);
        for (int c = 0; c < FieldTable->columnCount(); ++c) {
            const auto col = static_cast<size_t>(c);
            QTableWidgetItem* kept = FieldTable->item(kKeptRow, c);
            kept->setCheckState(col == m_kept ? Qt::Checked : Qt::Unchecked);
            kept->setBackground(col == m_kept ? kChosen : QColor(Qt::transparent));
            for (int f = 0; f < kCardFieldCount; ++f) {
                QTableWidgetItem* item = FieldTable->item(fieldRow(f), c);
                if (!(item->flags() & Qt::ItemIsUserCheckable))
                    continue;
                const bool chosen = m_choice[static_cast<size_t>(f)] == col;
                item->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
                item->setBackground(chosen ? kChosen : kDiffers);
            }
        }
    }
    // A 补充信息 the user has edited is replaced only when they agree: the regenerated text
    // would drop what they typed.
    const QString merged = mergedValues(m_cards, m_choice)[kNoteField];
    const QString shown = NoteEdit->toPlainText();
    if (shown != m_generatedNote && shown != merged
        && !askYesNo(this, QStringLiteral("合并重复名片"),
                     QStringLiteral("合并后的补充信息已被修改。要按新的选择重新生成吗？（选“否”保留修改过的文字）"))) {
        m_generatedNote = merged;
        return;
    }
    m_generatedNote = merged;
    NoteEdit->setPlainText(merged);
    showNoteBytes();
}

void TfrmDupMerge::showNoteBytes()
{
    const int bytes = gbkLength(NoteEdit->toPlainText());
    const bool over = bytes > noteByteLimit();
    NoteBytesLabel->setText(QStringLiteral("合并后的补充信息（可修改；%1/%2 字节%3）：")
                                .arg(bytes).arg(noteByteLimit())
                                .arg(over ? QStringLiteral("，超出上限，请删减") : QString()));
    NoteBytesLabel->setStyleSheet(over ? QStringLiteral("color: #c00000;") : QString());
}

void TfrmDupMerge::choose(int row, int column)
{
    if (column < 0 || column >= static_cast<int>(m_cards.size()))
        return;
    const auto card = static_cast<size_t>(column);
    if (row == kKeptRow) {
        m_kept = card;
        m_choice = defaultChoice(m_cards, m_kept);
    } else if (row >= fieldRow(0) && row < fieldRow(kCardFieldCount)) {
        if (!(FieldTable->item(row, column)->flags() & Qt::ItemIsUserCheckable))
            return;
        m_choice[static_cast<size_t>(row - fieldRow(0))] = card;
    } else {
        return;
    }
    showChoices();
}

void TfrmDupMerge::merge()
{
    CardValues values = mergedValues(m_cards, m_choice);
    values[kNoteField] = NoteEdit->toPlainText();
    const int bytes = gbkLength(values[kNoteField]);
    if (bytes > noteByteLimit()) {
        showInfo(this, QStringLiteral("合并后的补充信息有 %1 个字节，超过了 %2 个字节的上限，没有合并。请在补充信息框中删减后再合并。")
                           .arg(bytes).arg(noteByteLimit()));
        NoteEdit->setFocus();
        return;
    }
    if (!askYesNo(this, QStringLiteral("合并重复名片"),
                  QStringLiteral("确认把这 %1 张名片合并到“名片 %2”吗？其余名片的拜访记录和纪念日移到它名下，其余名片随后删除。")
                      .arg(m_cards.size()).arg(m_kept + 1)))
        return;
    MergeOutcome outcome;
    try {
        outcome = mergeCards(m_db, m_cards, m_kept, values);
    } catch (const EngineError& error) {
        tellAfterError(error.message(), values);
        return;
    }
    switch (outcome) {
    case MergeOutcome::Merged:
        accept();
        return;
    case MergeOutcome::Changed:
        showInfo(this, QStringLiteral("在列出这些名片之后，其中有名片被修改或删除了（可能是另一台电脑），没有合并。"
                                      "请关闭本窗口，重新打开这一组核对后再合并。"));
        reject();
        return;
    case MergeOutcome::TooLong:
        showInfo(this, QStringLiteral("合并后有字段超过了它的字节上限，没有合并。请删减补充信息后再合并。"));
        return;
    }
}

// An engine error: what the database holds now is asked before the user is told.
void TfrmDupMerge::tellAfterError(const QString& message, const CardValues& values)
{
    MergeState state = MergeState::Other;
    try {
        state = mergeStateAfterError(m_db, m_cards, m_kept, values);
    } catch (const EngineError&) {
        // Nothing can be read either: the user is told that it is not known.
    }
    const QString what = state == MergeState::Unchanged ? QStringLiteral("合并没有完成，所有名片都保持原样。")
                       : state == MergeState::Merged    ? QStringLiteral("不过合并已经完成。")
                                                        : QStringLiteral("无法确认这些名片现在的状态，请重新查找重复名片后核对。");
    showErrorBox(message + u'\n' + what);
    if (state == MergeState::Merged)
        accept();
}

} // namespace ostrel

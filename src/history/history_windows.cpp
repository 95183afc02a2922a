#include "history_windows.h"

#include "app/application.h"
#include "app/clock.h"
#include "export/report_export.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "engine/engine_error.h"
#include "engine/query.h"
#include "app/date_box.h"
#include "ui/common/db_grid.h"
#include "ui/common/gbk_edit.h"
#include "ui/common/window_parts.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace ostrel {

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

QPushButton* exportButton(QWidget* parent, const char* name)
{
    auto* button = named(new QPushButton(QStringLiteral("Excel"), parent), name);
    button->setIcon(button->style()->standardIcon(QStyle::SP_DialogSaveButton));
    return button;
}

const CardRecordsTexts kVisitTexts{
    "拜访记录", "拜访信息", "拜访日期：", "拜访内容：", "注销拜访记录 &D", CardRecords::Visits, "拜访内容 不能为空！",
    "恭喜！恭喜！ 拜访信息 保存成功！", "确认要注销拜访信息吗？该注销将不可恢复！", 850, 410, 0, true};

const CardRecordsTexts kAnniversaryTexts{
    "纪念日记录", "纪念日信息", "纪念日期：", "纪念说明：", "注销 &D", CardRecords::Anniversaries, "纪念说明 不能为空！",
    "恭喜！恭喜！ 纪念日信息 保存成功！", "确认要注销纪念日信息吗？该注销将不可恢复！", 850, 380, 680, false};

const OverviewTexts kVisitOverviewTexts{"拜访记录", "录入日期", "拜访记录：", DateForm::Date};
const OverviewTexts kAnniversaryOverviewTexts{"纪念日记录", "纪念日期", "纪念日记录：", DateForm::MonthDay};

} // namespace

// ---- records of one card ----

CardRecordsWindow::CardRecordsWindow(const CardRecordsTexts& texts, TfrmDM& dm, QWidget* parent)
    : QDialog(parent), m_texts(texts)
{
    setCloseBoxOnly(this);
    resize(texts.width, texts.height);

    ADOQuery1 = dm.newQuery(this, "ADOQuery1");
    ADOQuery2 = dm.newQuery(this, "ADOQuery2");

    GroupBox1 = named(new QGroupBox(u8(texts.caption), this), "GroupBox1");
    DBGrid1 = named(new DBGrid(GroupBox1), "DBGrid1");
    DBGrid1->setQuery(ADOQuery1);
    auto* listLayout = new QVBoxLayout(GroupBox1);
    listLayout->addWidget(DBGrid1);

    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    D1 = named(PopupMenu1->addAction(u8(texts.removeItem)), "D1");
    connectGuarded(D1, &QAction::triggered, this, &CardRecordsWindow::D1Click);
    DBGrid1->setPopupMenu(PopupMenu1);

    GroupBox2 = named(new QGroupBox(u8(texts.entryCaption), this), "GroupBox2");
    Lab_ID = named(new QLabel(GroupBox2), "Lab_ID");
    Lab_ID->hide();
    Label1 = named(new QLabel(u8(texts.dateLabel), GroupBox2), "Label1");
    Edit1 = named(new GbkEdit(10, GroupBox2), "Edit1");
    Edit1->setText(dateText(today()));
    Edit1->setFixedWidth(110);
    Label4 = named(new QLabel(u8(texts.memoLabel), GroupBox2), "Label4");
    Edit2 = named(new GbkEdit(100, GroupBox2), "Edit2");
    BitBtn1 = named(new QPushButton(QStringLiteral("保存"), GroupBox2), "BitBtn1");
    BitBtn2 = named(new QPushButton(QStringLiteral("退出"), GroupBox2), "BitBtn2");
    // Enter in an entry box must not save half-typed content.
    for (QPushButton* button : {BitBtn1, BitBtn2}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &CardRecordsWindow::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    auto* entryLayout = new QVBoxLayout(GroupBox2);
    m_entryRow = new QHBoxLayout;
    m_entryRow->addWidget(Label1);
    m_entryRow->addWidget(Edit1);
    m_entryRow->addStretch(1);
    entryLayout->addLayout(m_entryRow);
    m_buttonRow = new QHBoxLayout;
    m_buttonRow->addWidget(Label4);
    m_buttonRow->addWidget(Edit2, 1);
    m_buttonRow->addWidget(BitBtn1);
    m_buttonRow->addWidget(BitBtn2);
    entryLayout->addLayout(m_buttonRow);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1, 1);
    layout->addWidget(GroupBox2);
}

QString CardRecordsWindow::cardId() const
{
    const QString id = Lab_ID->text();
    bool digitsOnly = !id.isEmpty();
    for (QChar ch : id)
        digitsOnly = digitsOnly && ch >= u'0' && ch <= u'9';
    if (!digitsOnly)
        throw EngineError(QStringLiteral("名片编号无效：“%1”").arg(id));
    return id;
}

void CardRecordsWindow::Ref()
{
    ADOQuery1->run(cardRecordsSql(m_texts.records, cardId()));
    DBGrid1->setColumnHidden(0, true);
    if (m_texts.memoWidth > 0)
        DBGrid1->setColumnWidth(2, m_texts.memoWidth);
}

void CardRecordsWindow::BitBtn1Click()
{
    if (Edit2->text().isEmpty()) {
        showInfo(this, u8(m_texts.emptyMessage));
        Edit2->setFocus();
        return;
    }
    // Stored as "yyyy-mm-dd", or the month-day ranges of the reminder never find it.
    if (!takeDate(this, Edit1, u8(m_texts.dateLabel).remove(u'：'), DateForm::Date))
        return;
    ADOQuery1->exec(insertSql());
    showInfo(this, u8(m_texts.savedMessage));
    Edit2->clear();
    Edit2->setFocus();
    Ref();
}

void CardRecordsWindow::D1Click()
{
    if (!ADOQuery1->isActive() || ADOQuery1->recordCount() == 0)
        return;
    const QString id = ADOQuery1->text(QStringLiteral("ID"));
    if (id.isEmpty())
        return;
    if (!askYesNo(this, QStringLiteral("注销名片"), u8(m_texts.removeQuestion)))
        return;
    ADOQuery2->exec(cardRecordDeleteSql(m_texts.records, id));
    Ref();
}

void CardRecordsWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    runGuarded([this] {
        Ref();
        Edit2->setFocus();
    });
}

void CardRecordsWindow::done(int result)
{
    QDialog::done(result);
    // Every way out (退出, close box, Escape) ends here: the counters follow the changes.
    emit cardsChanged();
}

TfrmList::TfrmList(TfrmDM& dm, QWidget* parent) : CardRecordsWindow(kVisitTexts, dm, parent)
{
    setObjectName(QStringLiteral("frmList"));
    // The content would otherwise be cut at the default width beside an empty band.
    DBGrid1->horizontalHeader()->setStretchLastSection(true);
    Label3 = named(new QLabel(QStringLiteral("拜访方式："), GroupBox2), "Label3");
    ComboBox1 = named(new QComboBox(GroupBox2), "ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->addItems({QStringLiteral("电话"), QStringLiteral("上门"), QStringLiteral("吃饭"),
                         QStringLiteral("娱乐"), QStringLiteral("其它")});
    ComboBox1->setEditText(QStringLiteral("电话"));
    limitGbkBytes(ComboBox1->lineEdit(), 10);
    ComboBox1->setFixedWidth(110);
    Label2 = named(new QLabel(QStringLiteral("可以选择，也可以直接修改"), GroupBox2), "Label2");
    // Before the stretch at the end of the date row.
    m_entryRow->insertSpacing(2, 20);
    m_entryRow->insertWidget(3, Label3);
    m_entryRow->insertWidget(4, ComboBox1);
    m_entryRow->insertWidget(5, Label2);

    BitBtn3 = exportButton(GroupBox2, "BitBtn3");
    BitBtn3->setAutoDefault(false);
    m_buttonRow->insertWidget(m_buttonRow->indexOf(BitBtn2), BitBtn3);
    connectGuarded(BitBtn3, &QPushButton::clicked, this, &TfrmList::BitBtn3Click);
    setTabOrder(Edit1, ComboBox1);
    setTabOrder(ComboBox1, Edit2);
}

QString TfrmList::insertSql() const
{
    return visitInsertSql(cardId(), Edit1->text(), ComboBox1->currentText(), Edit2->text());
}

TfrmJNR::TfrmJNR(TfrmDM& dm, QWidget* parent) : CardRecordsWindow(kAnniversaryTexts, dm, parent)
{
    setObjectName(QStringLiteral("frmJNR"));
}

QString TfrmJNR::insertSql() const
{
    return anniversaryInsertSql(cardId(), Edit1->text(), Edit2->text());
}

// ---- overviews ----

OverviewWindow::OverviewWindow(const OverviewTexts& texts, TfrmDM& dm, QWidget* parent, CardOpener openCard)
    : QDialog(parent), m_texts(texts), m_openCard(std::move(openCard))
{
    setCloseBoxOnly(this);
    setSizeGripEnabled(true);
    setWindowTitle(u8(texts.caption));
    resize(720, 480);

    ADOQuery1 = dm.newQuery(this, "ADOQuery1");

    auto* top = new QWidget(this);
    top->setFixedHeight(73);
    GroupBox1 = named(new QGroupBox(QStringLiteral("查询条件"), top), "GroupBox1");
    CheckBox1 = named(new QCheckBox(u8(texts.checkCaption), GroupBox1), "CheckBox1");
    CheckBox1->setFocusPolicy(Qt::ClickFocus);
    Edit1 = named(new GbkEdit(10, GroupBox1), "Edit1");
    Label3 = named(new QLabel(QStringLiteral("至"), GroupBox1), "Label3");
    Edit2 = named(new GbkEdit(10, GroupBox1), "Edit2");
    for (GbkEdit* edit : {Edit1, Edit2})
        edit->setFixedWidth(100);
    auto* range = new QHBoxLayout(GroupBox1);
    range->addWidget(CheckBox1);
    range->addWidget(Edit1);
    range->addWidget(Label3);
    range->addWidget(Edit2);
    range->addStretch(1);

    BitBtn1 = named(new QPushButton(QStringLiteral("查询"), top), "BitBtn1");
    BitBtn2 = exportButton(top, "BitBtn2");
    BitBtn3 = named(new QPushButton(QStringLiteral("退出"), top), "BitBtn3");
    BitBtn2->setAutoDefault(false);
    BitBtn3->setAutoDefault(false);
    // Enter in a range box runs the query.
    BitBtn1->setDefault(true);
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &OverviewWindow::myRef);
    connectGuarded(BitBtn3, &QPushButton::clicked, this, &QDialog::reject);

    auto* topLayout = new QHBoxLayout(top);
    topLayout->setContentsMargins(6, 4, 6, 4);
    topLayout->addWidget(GroupBox1, 1);
    topLayout->addWidget(BitBtn1);
    topLayout->addWidget(BitBtn2);
    topLayout->addWidget(BitBtn3);

    DBGrid1 = named(new DBGrid(this), "DBGrid1");
    DBGrid1->setQuery(ADOQuery1);
    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    V1 = named(PopupMenu1->addAction(QStringLiteral("查看名片信息 &V")), "V1");
    connectGuarded(V1, &QAction::triggered, this, &OverviewWindow::V1Click);
    DBGrid1->setPopupMenu(PopupMenu1);
    connectGuarded(DBGrid1, &DBGrid::rowDoubleClicked, this, &OverviewWindow::V1Click);

    auto* bottom = new QWidget(this);
    bottom->setFixedHeight(33);
    Label1 = named(new QLabel(bottom), "Label1");
    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(8, 0, 8, 0);
    bottomLayout->addWidget(Label1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(top);
    layout->addWidget(DBGrid1, 1);
    layout->addWidget(bottom);
}

void OverviewWindow::myRef()
{
    // A bound that is no day at all would give an empty or a wrong list without a word.
    if (CheckBox1->isChecked()) {
        for (GbkEdit* bound : {Edit1, Edit2})
            if (!takeDateBound(this, bound, u8(m_texts.checkCaption), m_texts.form))
                return;
    }
    const QString sql = statement();
    ADOQuery1->run(sql);
    arrangeColumns();
    Label1->setText(u8(m_texts.countCaption) + QString::number(ADOQuery1->recordCount()));
    // Read for a window about to be shown (the reminder's opener): nothing can change the
    // cards before the next event, so the showing reads them again only after one.
    m_readBeforeShow = isVisible() ? QString() : sql;
    if (!m_readBeforeShow.isEmpty())
        QTimer::singleShot(0, this, [this] { m_readBeforeShow.clear(); });
}

void OverviewWindow::V1Click()
{
    if (!ADOQuery1->isActive() || ADOQuery1->recordCount() == 0)
        return;
    const QString cardId = ADOQuery1->text(QStringLiteral("myID"));
    if (cardId.isEmpty() || !m_openCard)
        return;
    m_openCard(this, cardId);
}

void OverviewWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (std::exchange(m_readBeforeShow, QString()) == statement() && ADOQuery1->isActive())
        return;
    runGuarded([this] { myRef(); });
}

void TfrmList::BitBtn3Click()
{
    exportReport(this, visitListLayout(GroupBox1->title()), *ADOQuery1);
}

TfrmListV::TfrmListV(TfrmDM& dm, QWidget* parent, CardOpener openCard)
    : OverviewWindow(kVisitOverviewTexts, dm, parent, std::move(openCard))
{
    setObjectName(QStringLiteral("frmListV"));
    connectGuarded(BitBtn2, &QPushButton::clicked, this, [this] { exportReport(this, visitOverviewLayout(), *ADOQuery1); });
    StatsButton = named(new QPushButton(QStringLiteral("拜访统计"), BitBtn2->parentWidget()), "StatsButton");
    StatsButton->setAutoDefault(false);
    auto* buttons = static_cast<QBoxLayout*>(BitBtn2->parentWidget()->layout());
    buttons->insertWidget(buttons->indexOf(BitBtn2) + 1, StatsButton);
    connect(StatsButton, &QPushButton::clicked, this, &TfrmListV::statsRequested);
    Edit1->setText(dateText(oneMonthEarlier(today())));
    Edit2->setText(dateText(today()));
}

QString TfrmListV::statement() const
{
    return visitOverviewSql(CheckBox1->isChecked(), Edit1->text(), Edit2->text());
}

void TfrmListV::arrangeColumns()
{
    DBGrid1->setColumnWidth(4, 380);
    DBGrid1->setColumnHidden(5, true);
}

TfrmJNRV::TfrmJNRV(TfrmDM& dm, QWidget* parent, CardOpener openCard)
    : OverviewWindow(kAnniversaryOverviewTexts, dm, parent, std::move(openCard))
{
    setObjectName(QStringLiteral("frmJNRV"));
    connectGuarded(BitBtn2, &QPushButton::clicked, this, [this] { exportReport(this, anniversaryOverviewLayout(), *ADOQuery1); });
    Edit1->setText(monthDayText(today()));
    Edit2->setText(monthDayText(oneMonthLater(today())));
}

QString TfrmJNRV::statement() const
{
    return anniversaryOverviewSql(CheckBox1->isChecked(), Edit1->text(), Edit2->text());
}

void TfrmJNRV::arrangeColumns()
{
    DBGrid1->setColumnWidth(3, 440);
    DBGrid1->setColumnHidden(4, true);
}

} // namespace ostrel

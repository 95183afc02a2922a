#include "columns_window.h"

#include "app/application.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "core/card_fields.h"
#include "engine/query.h"
#include "settings_statements.h"
#include "engine/transaction.h"
#include "ui/common/window_parts.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace ostrel {

namespace {

// The entry date is listed after the 24 card fields; it has no card field of its own.
constexpr int kDateRowId = 26;
constexpr const char* kDateLabel = "录入日期";
constexpr int kDateGroup = 2;

// Offered widths of the fields not shown, by D_B column.
struct OfferedWidth {
    const char* column;
    int width;
};
constexpr OfferedWidth kOfferedWidths[] = {
    {"theType", 80}, {"BName", 100}, {"BSex", 40},   {"BPho", 100},  {"BMob", 100},  {"BMail", 100}, {"BQQ", 100},
    {"BMSN", 100},   {"BWW", 100},   {"BDes", 200},  {"DArea", 80},  {"DCity", 80},  {"DName", 150}, {"DPart", 80},
    {"DJob", 80},    {"DAdd", 100},  {"DPho", 100},  {"DFax", 200},  {"DPos", 60},   {"DWWW", 100},  {"FAdd", 200},
    {"FPho", 100},   {"FPro", 100},  {"FDes", 200},  {"theDate", 80},
};

const char* columnOf(int n)
{
    return n <= kCardFieldCount ? cardFields()[static_cast<size_t>(n - 1)].column : "theDate";
}

QString labelOf(int n)
{
    return n <= kCardFieldCount ? cardFields()[static_cast<size_t>(n - 1)].importTitleText() : QString::fromUtf8(kDateLabel);
}

int groupOf(int n)
{
    return n <= kCardFieldCount ? cardFields()[static_cast<size_t>(n - 1)].group : kDateGroup;
}

bool passesKeyFilter(QChar ch)
{
    return ch == QChar(8) || ch == QChar(13) || (ch >= u'0' && ch <= u'9');
}

bool isWholeNumber(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar ch) { return ch >= u'0' && ch <= u'9'; });
}

} // namespace

int TfrmXS::rowId(int n)
{
    return n <= kCardFieldCount ? n : kDateRowId;
}

int TfrmXS::offeredWidth(int n)
{
    const char* column = columnOf(n);
    for (const OfferedWidth& offered : kOfferedWidths)
        if (std::strcmp(offered.column, column) == 0)
            return offered.width;
    return 0;
}

TfrmXS::TfrmXS(TfrmDM& dm, QWidget* parent) : QDialog(parent), ADOQuery1(dm.newQuery(this, "ADOQuery1")), m_dm(dm)
{
    setObjectName(QStringLiteral("frmXS"));
    setWindowTitle(QStringLiteral("设置显示项"));
    setCloseBoxOnly(this);
    setFixedSize(870, 360);

    auto* layout = new QVBoxLayout(this);
    QList<QGridLayout*> grids;
    for (size_t g = 0; g < kCardGroups.size(); ++g) {
        auto* box = new QGroupBox(QString::fromUtf8(kCardGroups[g]), this);
        box->setObjectName(QStringLiteral("GroupBox%1").arg(g + 1));
        auto* grid = new QGridLayout(box);
        grid->setHorizontalSpacing(12);
        grids << grid;
        layout->addWidget(box);
    }
    // Digits only, also for what a paste or an input method brings in.
    const auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    int placed[3] = {0, 0, 0};
    for (int n = 1; n <= kFieldCount; ++n) {
        const int g = groupOf(n);
        QWidget* box = grids[g]->parentWidget();
        auto* check = new QCheckBox(labelOf(n), box);
        check->setObjectName(QStringLiteral("CheckBox%1").arg(n));
        check->setFixedWidth(73);
        auto* edit = new QLineEdit(QString::number(offeredWidth(n)), box);
        edit->setObjectName(QStringLiteral("Edit%1").arg(n));
        edit->setFixedWidth(65);
        edit->setMaxLength(3);
        edit->setValidator(digits);
        edit->installEventFilter(this);
        auto* pair = new QHBoxLayout;
        pair->setSpacing(2);
        pair->addWidget(check);
        pair->addWidget(edit);
        const int at = placed[g]++;
        grids[g]->addLayout(pair, at / 5, at % 5);
        checkBoxes << check;
        edits << edit;
    }
    for (QGridLayout* grid : grids)
        grid->setColumnStretch(5, 1);

    Label1 = named(new QLabel(QStringLiteral("说明：勾选表示显示该项目；后面的数字表示该项目的显示宽度。"), this), "Label1");
    layout->addWidget(Label1);
    // Enter passes the key filter; it must not press a button on its own.
    std::tie(BitBtn1, BitBtn2) = addSaveExitRow(this, layout);
    layout->addStretch();

    connectGuarded(BitBtn1, &QPushButton::clicked, this, &TfrmXS::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmXS::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Loaded when the window opens only: the window is shown again when the main window is
    // restored, and a load then would undo what was ticked and typed but not yet saved.
    if (m_loaded)
        return;
    runGuarded([this] {
        FormShow();
        m_loaded = true;
    });
}

void TfrmXS::FormShow()
{
    for (int n = 1; n <= kFieldCount; ++n)
        myXS(QString::number(rowId(n)), checkBoxes[n - 1], edits[n - 1]);
}

void TfrmXS::myXS(const QString& id, QCheckBox* check, QLineEdit* edit)
{
    ADOQuery1->run(columnSettingSql(id));
    if (ADOQuery1->recordCount() > 0 && ADOQuery1->yesNo(QStringLiteral("theXS"))) {
        check->setChecked(true);
        edit->setText(ADOQuery1->text(QStringLiteral("theWidth")));
    }
}

bool TfrmXS::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && edits.contains(watched)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Keys without a character (arrows, Delete, Tab's focus move) are not filtered.
        if (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
            return false;
        const QString text = key->text();
        for (QChar ch : text)
            if (!passesKeyFilter(ch))
                return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmXS::BitBtn1Click()
{
    // An empty width would break its statement, and a width stored as text (loaded as it
    // is) would be saved as 0: refuse both before anything is written.
    for (int n = 1; n <= kFieldCount; ++n) {
        const QString width = edits[n - 1]->text();
        const char* problem = width.isEmpty() ? " 的显示宽度不能为空！"
            : !isWholeNumber(width)           ? " 的显示宽度必须是 0 到 999 之间的整数！"
                                              : nullptr;
        if (problem) {
            showInfo(this, labelOf(n) + QString::fromUtf8(problem));
            edits[n - 1]->setFocus();
            return;
        }
    }
    Transaction transaction(m_dm.ADOConnection1);
    for (int n = 1; n <= kFieldCount; ++n)
        mySave(edits[n - 1]->text(), checkBoxes[n - 1]->isChecked() ? QStringLiteral("1") : QStringLiteral("0"),
               QString::number(rowId(n)));
    transaction.commit();
    showInfo(this, QStringLiteral("恭喜！恭喜！显示项 保存成功！"));
    emit cardsChanged();
    accept();
}

void TfrmXS::mySave(const QString& width, const QString& shown, const QString& id)
{
    // The width goes in as a number ("080" is 80), so no text can reach the statement.
    const QString number = QString::number(width.toLongLong());
    ADOQuery1->exec(columnSaveSql(number, shown, id));
}

} // namespace ostrel

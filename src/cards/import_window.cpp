#include "import_window.h"

#include "app/application.h"
#include "app/clock.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "core/card_fields.h"
#include "core/card_import.h"
#include "engine/engine_error.h"
#include "engine/query.h"
#include "ui/common/db_grid.h"
#include "ui/common/window_parts.h"
#include "core/workbook_connection.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <array>
#include <memory>

namespace ostrel {

namespace {

constexpr int kGridColumnWidth = 80;

} // namespace

TfrmInData::TfrmInData(TfrmDM& dm, QWidget* parent)
    : QDialog(parent),
      ADOQuery1(new Query(&dm.ExcelADOCon, this)),
      ADOQuery2(dm.newQuery(this, "ADOQuery2")),
      m_dm(dm)
{
    setObjectName(QStringLiteral("frmInData"));
    ADOQuery1->setObjectName(QStringLiteral("ADOQuery1"));
    setWindowTitle(QStringLiteral("导入名片"));
    setCloseBoxOnly(this);
    setFixedSize(990, 390);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 8);
    layout->setSpacing(6);

    GroupBox1 = named(new QGroupBox(QStringLiteral("打开EXCEL文件"), this), "GroupBox1");
    auto* openRow = new QHBoxLayout(GroupBox1);
    openRow->setContentsMargins(8, 4, 8, 6);
    Label1 = named(new QLabel(QStringLiteral("打开的EXCEL文件的底部一定是Sheet1，标题一定是分类、姓名、性别、固定电话、移动电话、"
                                             "电子邮箱、QQ号码、MSN号码、阿里旺旺、描述..."),
                              GroupBox1),
                   "Label1");
    Label1->setWordWrap(true);
    openRow->addWidget(Label1, 1);
    Button1 = named(new QPushButton(style()->standardIcon(QStyle::SP_DialogOpenButton), QStringLiteral("打开"), GroupBox1),
                    "Button1");
    Button1->setAutoDefault(false);
    openRow->addWidget(Button1);
    layout->addWidget(GroupBox1);

    GroupBox2 = named(new QGroupBox(QStringLiteral("EXCEL数据"), this), "GroupBox2");
    auto* gridBox = new QVBoxLayout(GroupBox2);
    gridBox->setContentsMargins(6, 4, 6, 6);
    DBGrid1 = named(new DBGrid(GroupBox2), "DBGrid1");
    DBGrid1->setQuery(ADOQuery1);
    // The rows are imported in the order of the sheet, so the grid keeps that order: no
    // sorting by title.
    disconnect(DBGrid1->horizontalHeader(), &QHeaderView::sectionClicked, DBGrid1, &DBGrid::titleClick);
    gridBox->addWidget(DBGrid1);
    layout->addWidget(GroupBox2, 1);

    auto* bottom = new QHBoxLayout;
    Label2 = named(new QLabel(QStringLiteral("注意：请不要随便修改 名片导入实例 EXCEL文件的标题（最上面的一行），否则导入出错。"), this),
                   "Label2");
    bottom->addWidget(Label2, 1);
    BitBtn1 = named(new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), QStringLiteral("导入"), this), "BitBtn1");
    BitBtn2 = named(new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("退出"), this), "BitBtn2");
    for (QPushButton* button : {BitBtn1, BitBtn2}) {
        button->setAutoDefault(false);
        button->setMinimumWidth(88);
        bottom->addWidget(button);
    }
    layout->addLayout(bottom);

    connectGuarded(Button1, &QPushButton::clicked, this, &TfrmInData::Button1Click);
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &TfrmInData::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &QWidget::close);
}

QString TfrmInData::countsLine(const Counts& counts)
{
    return QStringLiteral("导入 %1 条，重复跳过 %2 条，无姓名跳过 %3 条。")
        .arg(counts.imported)
        .arg(counts.duplicates)
        .arg(counts.nameless);
}

void TfrmInData::Button1Click()
{
    const QString path = chooseOpenFile(this, QStringLiteral("打开EXCEL文件"),
                                        QStringLiteral("Excel文件(*.xls *.xlsx);;CSV文件(*.csv);;所有文件(*)"));
    if (path.isEmpty())
        return;
    WorkbookConnection& excel = m_dm.ExcelADOCon;
    excel.close();
    excel.setConnectionString(workbookConnectionString(path));
    ADOQuery1->run(QStringLiteral("Select * from [Sheet1$]"));
    const int columns = ADOQuery1->rows().columnCount();
    for (int c = 0; c < kCardFieldCount && c < columns; ++c)
        DBGrid1->setColumnWidth(c, kGridColumnWidth);
    if (columns < kCardFieldCount)
        throw EngineError(QStringLiteral("EXCEL数据只有 %1 列，名片导入需要 %2 列：第一行应是名片导入实例的 %2 个标题")
                              .arg(columns)
                              .arg(kCardFieldCount));
    GroupBox2->setTitle(QStringLiteral("EXCEL数据  共有 ") + QString::number(ADOQuery1->recordCount())
                        + QStringLiteral(" 条数据"));
}

void TfrmInData::BitBtn1Click()
{
    // Before any workbook was opened this is the closed query's error.
    const int rowCount = ADOQuery1->recordCount();
    const ResultSet& sheet = ADOQuery1->rows();

    // Every title is looked up before the first row, so a sheet that lacks one adds nothing.
    std::array<int, kCardFieldCount> columnOf{};
    QStringList missing;
    for (const CardField& field : cardFields()) {
        const int column = sheet.columnIndex(field.importTitleText());
        if (column < 0)
            missing << QStringLiteral("“%1”").arg(field.importTitleText());
        columnOf[static_cast<size_t>(field.number - 1)] = column;
    }
    if (!missing.isEmpty())
        throw EngineError(QStringLiteral("EXCEL数据的第一行缺少标题 %1，没有导入任何名片").arg(missing.join(QStringLiteral("、"))));

    const bool finished = importCardRows(m_dm, this, *ADOQuery2, rowCount, [&](int row, CardValues& values) {
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = sheet.text(row, columnOf[i]);
    });
    // The window closes once the main list is rebuilt: the sheet's rows go first, so the
    // list of all cards never has to fit beside them. Nothing is painted in between.
    if (finished)
        ADOQuery1->close();
    emit cardsChanged();
    if (finished)
        close();
}

bool importCardRows(TfrmDM& dm, QWidget* parent, Query& query, int rowCount,
                    const std::function<void(int row, CardValues& values)>& read)
{
    std::unique_ptr<QProgressDialog> progress;
    if (rowCount > TfrmInData::kProgressRows) {
        progress = cancellableProgress(parent, QStringLiteral("导入名片"), QStringLiteral("正在导入名片……"), rowCount);
    }
    CardImportCalls calls;
    calls.read = read;
    calls.entryDate = [] { return dateText(today()); };
    calls.progress = [&](int rowsDone) {
        if (!progress)
            return true;
        progress->setValue(rowsDone);
        return !progress->wasCanceled();
    };
    const CardImportResult result = importCards(dm.ADOConnection1, query, rowCount, calls);
    progress.reset();

    if (result.cancelled) {
        showInfo(parent, QStringLiteral("数据导入 已取消！\n") + TfrmInData::countsLine(result.counts).chopped(1)
                             + QStringLiteral("，未处理 %1 条。").arg(rowCount - result.rowsDone));
        return false;
    }
    showInfo(parent, QStringLiteral("数据导入 保存成功！\n") + TfrmInData::countsLine(result.counts));
    return true;
}

} // namespace ostrel

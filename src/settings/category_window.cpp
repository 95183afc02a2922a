#include "category_window.h"

#include "app/application.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "engine/query.h"
#include "settings_statements.h"
#include "ui/common/db_grid.h"
#include "ui/common/gbk_edit.h"
#include "ui/common/window_parts.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace ostrel {

TfrmDType::TfrmDType(TfrmDM& dm, QWidget* parent)
    : QDialog(parent),
      ADOQuery1(dm.newQuery(this, "ADOQuery1")),
      ADOQuery2(dm.newQuery(this, "ADOQuery2"))
{
    setObjectName(QStringLiteral("frmDType"));
    setWindowTitle(QStringLiteral("设置分类"));
    setCloseBoxOnly(this);
    setFixedSize(270, 380);

    auto* layout = new QVBoxLayout(this);
    auto* details = named(new QGroupBox(QStringLiteral("名片分类信息"), this), "GroupBox1");
    auto* detailsLayout = new QHBoxLayout(details);
    detailsLayout->addWidget(named(new QLabel(QStringLiteral("名片分类："), details), "Label1"));
    Edit1 = named(new GbkEdit(10, details), "Edit1");
    detailsLayout->addWidget(Edit1, 1);
    Button1 = named(new QPushButton(QStringLiteral("保存"), details), "Button1");
    Button1->setAutoDefault(false); // Enter in the name box saves nothing by itself
    detailsLayout->addWidget(Button1);
    layout->addWidget(details);

    auto* list = named(new QGroupBox(QStringLiteral("名片分类列表"), this), "GroupBox2");
    auto* listLayout = new QVBoxLayout(list);
    DBGrid1 = named(new DBGrid(list), "DBGrid1");
    DBGrid1->setQuery(ADOQuery1);
    DBGrid1->setToolTip(QStringLiteral("亲，鼠标右键 有继续哟！"));
    listLayout->addWidget(DBGrid1);
    layout->addWidget(list, 1);

    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    D1 = named(PopupMenu1->addAction(QStringLiteral("删除 &D")), "D1");
    DBGrid1->setPopupMenu(PopupMenu1);
    connectGuarded(D1, &QAction::triggered, this, &TfrmDType::D1Click);
    connectGuarded(Button1, &QPushButton::clicked, this, &TfrmDType::Button1Click);
}

void TfrmDType::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    runGuarded([this] { myRef(); });
}

void TfrmDType::myRef()
{
    sqlText = categoryListSql();
    ADOQuery1->run(sqlText);
    DBGrid1->setColumnWidth(0, 160);
    DBGrid1->setColumnHidden(1, true);
}

void TfrmDType::myESql()
{
    ADOQuery2->exec(sqlText);
}

void TfrmDType::Button1Click()
{
    const QString name = Edit1->text();
    if (name.isEmpty()) {
        showInfo(this, QStringLiteral("名片分类 不能为空！"));
        Edit1->setFocus();
        return;
    }
    ADOQuery2->run(categoryByNameSql(name));
    if (ADOQuery2->recordCount() >= 1) {
        showInfo(this, QStringLiteral("名片分类 已经存在！"));
        Edit1->setFocus();
        return;
    }
    sqlText = categoryInsertSql(name);
    myESql();
    showInfo(this, QStringLiteral("名片分类 保存成功！"));
    Edit1->clear();
    myRef();
}

void TfrmDType::D1Click()
{
    if (ADOQuery1->recordCount() == 0)
        return;
    if (!askYesNo(this, QStringLiteral("删除名片分类"), QStringLiteral("确认要删除名片分类吗？该删除将不可恢复！")))
        return;
    sqlText = categoryDeleteSql(ADOQuery1->integer(QStringLiteral("ID")));
    myESql();
    myRef();
}

} // namespace ostrel

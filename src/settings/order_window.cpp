#include "order_window.h"

#include "app/application.h"
#include "app/data_module.h"
#include "engine/query.h"
#include "settings_statements.h"
#include "engine/transaction.h"
#include "ui/common/db_grid.h"
#include "ui/common/window_parts.h"

#include <QMenu>
#include <QVBoxLayout>

namespace ostrel {

namespace {

// Fixed bounds of the moves, not derived from the table.
constexpr int kFirstPosition = 1;
constexpr int kLastMovable = 24;
constexpr int kParking = -1;

} // namespace

TfrmSX::TfrmSX(TfrmDM& dm, QWidget* parent)
    : QDialog(parent),
      ADOQuery1(dm.newQuery(this, "ADOQuery1")),
      ADOQuery2(dm.newQuery(this, "ADOQuery2")),
      m_dm(dm)
{
    setObjectName(QStringLiteral("frmSX"));
    setWindowTitle(QStringLiteral("设置列表显示顺序"));
    setCloseBoxOnly(this);
    setFixedSize(240, 540);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    DBGrid1 = named(new DBGrid(this), "DBGrid1");
    DBGrid1->setQuery(ADOQuery1);
    DBGrid1->setToolTip(QStringLiteral("亲，鼠标右键 有惊喜哟！"));
    layout->addWidget(DBGrid1);

    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    N1 = named(PopupMenu1->addAction(QStringLiteral("向上 &U")), "N1");
    N2 = named(PopupMenu1->addAction(QStringLiteral("向下 &D")), "N2");
    DBGrid1->setPopupMenu(PopupMenu1);
    connectGuarded(N1, &QAction::triggered, this, &TfrmSX::N1Click);
    connectGuarded(N2, &QAction::triggered, this, &TfrmSX::N2Click);
}

void TfrmSX::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    runGuarded([this] { myRef(); });
}

void TfrmSX::myRef()
{
    ADOQuery1->run(columnOrderSql());
}

void TfrmSX::N1Click()
{
    if (ADOQuery1->recordCount() == 0)
        return;
    const int p = static_cast<int>(ADOQuery1->integer(QStringLiteral("序号")));
    if (p == kFirstPosition)
        return;
    move(p, p - 1);
}

void TfrmSX::N2Click()
{
    if (ADOQuery1->recordCount() == 0)
        return;
    const int p = static_cast<int>(ADOQuery1->integer(QStringLiteral("序号")));
    if (p == kLastMovable)
        return;
    move(p, p + 1);
}

void TfrmSX::move(int from, int to)
{
    // The three renumberings stand or fall together: no row is ever left parked.
    Transaction transaction(m_dm.ADOConnection1);
    myInt(kParking, from);
    myInt(from, to);
    myInt(to, kParking);
    transaction.commit();
    myRef();
}

void TfrmSX::myInt(int newPosition, int oldPosition)
{
    ADOQuery2->exec(columnPositionSql(newPosition, oldPosition));
}

void TfrmSX::done(int result)
{
    emit cardsChanged();
    QDialog::done(result);
}

} // namespace ostrel

#include "advanced_search.h"

#include "app/application.h"
#include "card_form.h"
#include "card_statements.h"
#include "ui/common/window_parts.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace ostrel {

TfrmM_Q::TfrmM_Q(TfrmDM& dm, QWidget* parent) : QDialog(parent)
{
    setCloseBoxOnly(this);
    setWindowTitle(QStringLiteral("更多条件"));
    Form = named(new CardForm(dm, this), "Form");
    Label1 = named(new QLabel(QStringLiteral("选择或录入条件后，支持模糊查询，单击 查询 按钮.."), this), "Label1");
    BitBtn1 = named(new QPushButton(QStringLiteral("查询"), this), "BitBtn1");
    BitBtn2 = named(new QPushButton(QStringLiteral("退出"), this), "BitBtn2");
    BitBtn1->setDefault(true);
    layoutCardWindow(this, Form, BitBtn1, BitBtn2);
    // The hint stands in the button row, in front of the buttons.
    if (auto* buttons = qobject_cast<QBoxLayout*>(layout()->itemAt(layout()->count() - 1)->layout()))
        buttons->insertWidget(0, Label1);
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &TfrmM_Q::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &QDialog::close);
    FormCreate();
}

void TfrmM_Q::FormCreate()
{
    Form->fillLookups();
}

void TfrmM_Q::BitBtn1Click()
{
    emit searchChosen(cardSearchFilter(Form->values()));
    close();
}

} // namespace ostrel

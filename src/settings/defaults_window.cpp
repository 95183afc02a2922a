#include "defaults_window.h"

#include "app/application.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "engine/query.h"
#include "settings_statements.h"
#include "ui/common/lookup_combo.h"
#include "ui/common/window_parts.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ostrel {

TfrmMRX::TfrmMRX(TfrmDM& dm, QWidget* parent) : QDialog(parent), ADOQuery1(dm.newQuery(this, "ADOQuery1")), m_dm(dm)
{
    setObjectName(QStringLiteral("frmMRX"));
    setWindowTitle(QStringLiteral("设置默认项"));
    setCloseBoxOnly(this);
    setFixedSize(300, 230);

    auto* layout = new QVBoxLayout(this);
    auto* group = named(new QGroupBox(QStringLiteral("默认选项设置"), this), "GroupBox1");
    auto* grid = new QGridLayout(group);
    const auto addRow = [&](int row, const char* caption, const char* name) {
        grid->addWidget(new QLabel(QString::fromUtf8(caption), group), row, 0);
        auto* box = named(new DBLookupComboBox(group), name);
        grid->addWidget(box, row, 1);
        return box;
    };
    DBLookupComboBox1 = addRow(0, "分        类：", "DBLookupComboBox1");
    DBLookupComboBox2 = addRow(1, "性        别：", "DBLookupComboBox2");
    DBLookupComboBox3 = addRow(2, "省        份：", "DBLookupComboBox3");
    grid->setColumnStretch(1, 1);
    layout->addWidget(group, 1);

    std::tie(BitBtn1, BitBtn2) = addSaveExitRow(this, layout);

    connectGuarded(BitBtn1, &QPushButton::clicked, this, &TfrmMRX::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    FormCreate();
}

void TfrmMRX::FormCreate()
{
    m_dm.DBComType(DBLookupComboBox1);
    m_dm.DBComSex(DBLookupComboBox2);
    m_dm.DBComP(DBLookupComboBox3);
    ADOQuery1->run(defaultsSql());
    if (ADOQuery1->recordCount() == 1) {
        DBLookupComboBox1->setKeyValue(ADOQuery1->text(QStringLiteral("theType")));
        DBLookupComboBox2->setKeyValue(ADOQuery1->text(QStringLiteral("theSex")));
        DBLookupComboBox3->setKeyValue(ADOQuery1->text(QStringLiteral("theP")));
    }
}

void TfrmMRX::BitBtn1Click()
{
    const QString type = DBLookupComboBox1->text();
    const QString sex = DBLookupComboBox2->text();
    const QString province = DBLookupComboBox3->text();
    // An empty table gets its row, so the success message is true.
    if (ADOQuery1->countRows(defaultsRowSql()) == 0)
        ADOQuery1->exec(defaultsInsertSql(type, sex, province));
    else
        ADOQuery1->exec(defaultsUpdateSql(type, sex, province));
    showInfo(this, QStringLiteral("默认选项 保存成功！"));
    accept();
}

} // namespace ostrel

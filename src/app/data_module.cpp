#include "data_module.h"

#include "db/query.h"
#include "ui/common/lookup_combo.h"

namespace ostrel {

TfrmDM::TfrmDM(QObject* parent)
    : QObject(parent),
      ADOQuery1(new Query(&ADOConnection1, this)),
      ADOQuery2(new Query(&ADOConnection1, this)),
      ADOQuery3(new Query(&ADOConnection1, this))
{
    setObjectName(QStringLiteral("frmDM"));
    ADOQuery1->setObjectName(QStringLiteral("ADOQuery1"));
    ADOQuery2->setObjectName(QStringLiteral("ADOQuery2"));
    ADOQuery3->setObjectName(QStringLiteral("ADOQuery3"));
}

TfrmDM::~TfrmDM() = default;

Query* TfrmDM::newQuery(QObject* owner, const char* name)
{
    auto* query = new Query(&ADOConnection1, owner);
    query->setObjectName(QString::fromLatin1(name));
    return query;
}

void TfrmDM::load(Query* query, const QString& sql, DBLookupComboBox* box)
{
    query->run(sql);
    box->setListSource(query, QStringLiteral("theName"));
}

void TfrmDM::DBComType(DBLookupComboBox* box)
{
    load(ADOQuery1, QStringLiteral("select theName from D_Type"), box);
}

void TfrmDM::DBComSex(DBLookupComboBox* box)
{
    load(ADOQuery2, QStringLiteral("select theName from D_Sex"), box);
}

void TfrmDM::DBComP(DBLookupComboBox* box)
{
    load(ADOQuery3, QStringLiteral("select theName from D_P"), box);
}

} // namespace ostrel

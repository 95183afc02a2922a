#include "data_module.h"

#include "app_info.h"
#include "dialogs.h"
#include "engine/engine_error.h"
#include "engine/query.h"
#include "ui/common/lookup_combo.h"

namespace ostrel {

TfrmDM::TfrmDM(QObject* parent) : TfrmDM(openCardFile(), parent) {}

TfrmDM::TfrmDM(std::unique_ptr<Database> database, QObject* parent)
    : TfrmDM(OpenedCardDatabase{std::move(database), nullptr}, parent)
{
}

TfrmDM::TfrmDM(OpenedCardDatabase database, QObject* parent)
    : QObject(parent),
      m_database(std::move(database.database)),
      m_fileCommands(std::move(database.fileCommands)),
      ADOConnection1(*m_database),
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

void TfrmDM::openCardDatabase(QWidget* parent)
{
    if (ADOConnection1.isOpen())
        return;
    if (!m_fileCommands) {
        ADOConnection1.open(); // a server asks for no password here: it is in its settings
        return;
    }
    DatabaseFileCommands& file = *m_fileCommands;
    if (file.openWithPassword())
        return;
    // The password opens the file or not; the file is never changed by a wrong one.
    const auto opened = askPasswordTries(parent, QString::fromUtf8(kAppTitle),
                                         QStringLiteral("名片数据库不能用程序自带的密码打开。如果您设置过密码，请输入密码："),
                                         [&](const QString& password) { return file.openWithPassword(password); });
    if (!opened)
        throw EngineError(QStringLiteral("没有输入正确的密码，名片数据库没有打开。\n"
                                         "请重新启动程序再输入密码；如果没有设置过密码，数据库文件可能已损坏，请用“恢复数据…”从备份恢复。"));
}

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

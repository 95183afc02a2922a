// The 数据 menu of the main window: the file commands (backup, restore, password), the daily
// backup at close and the one-time upgrade at start, asking for names and passwords and
// showing progress and messages; the work on the file itself is DatabaseFileCommands'.
#include "main_window.h"

#include "app/app_info.h"
#include "app/application.h"
#include "app/clock.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "core/database_file_commands.h"
#include "core/duplicates/not_duplicates.h"
#include "duplicate_windows.h"
#include "core/open_database.h"
#include "core/schema_upgrade.h"
#include "engine/engine_error.h"
#include "engine/query.h"
#include "history/history_commands.h"
#include "ui/common/wait_cursor.h"
#include "phone_sync.h"
#include "vcard_commands.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QStatusBar>

#include <memory>

namespace ostrel {

namespace {

constexpr char kServerManaged[] = "团队数据库在服务器上，由服务器管理员备份。";

QString backupFolder()
{
    return programDir() + QStringLiteral("Data/Backup");
}

QString fileFilter()
{
    return QStringLiteral("名片数据库(*.edb);;所有文件(*)");
}

// Brings an older file up to date, with a progress dialog for each long step; returns whether
// quick find can be used (a read-only older file has no key table). Not cancellable: the
// upgrade is one transaction, and a file left older would cost the same wait at the next start.
bool upgradeFile(DatabaseFileCommands& file, QWidget* parent)
{
    std::unique_ptr<QProgressDialog> progress;
    static constexpr int kSteps = 1000;
    const auto step = [&](const QString& label) {
        return [&progress, label, parent](int64_t done, int64_t total) {
            if (!progress) {
                progress = std::make_unique<QProgressDialog>(label, QString(), 0, kSteps, parent);
                progress->setObjectName(QStringLiteral("UpgradeProgress"));
                progress->setWindowTitle(QString::fromUtf8(kAppTitle));
                progress->setWindowModality(Qt::ApplicationModal);
                progress->setMinimumDuration(300);
                progress->setAutoClose(false);
                // Full until the upgrade is written, rather than empty again.
                progress->setAutoReset(false);
            }
            progress->setLabelText(label);
            progress->setValue(total > 0 ? static_cast<int>(done * kSteps / total) : kSteps);
        };
    };
    return file.upgrade({step(QStringLiteral("正在为快速查找建立检索键，只需这一次，请稍候……")),
                         step(QStringLiteral("正在为纪念日提醒和拜访统计建立索引与汇总表，只需这一次，请稍候……"))});
}

} // namespace

void TfrmMain::connectDataMenu()
{
    connectGuarded(BackupAction, &QAction::triggered, this, &TfrmMain::backupData);
    connectGuarded(RestoreAction, &QAction::triggered, this, &TfrmMain::restoreData);
    connectGuarded(PasswordAction, &QAction::triggered, this, &TfrmMain::setPassword);
    connectGuarded(ImportVCardAction, &QAction::triggered, this, [this] {
        if (importVCardFile(m_dm, this, *ADOQuery2))
            myRef();
    });
    // The list as shown: the filter, quick find and a title-click sort apply.
    connectGuarded(ExportVCardAction, &QAction::triggered, this, [this] {
        exportVCardFile(m_dm, this, ADOQuery1->isActive() ? ADOQuery1->rows().shownIds() : std::vector<int64_t>{});
    });
    connectGuarded(ScanAction, &QAction::triggered, this, &TfrmMain::scanCards);
    connectGuarded(VisitStatsAction, &QAction::triggered, this, [this] { History->openVisitStats(); });
    connectGuarded(FindDuplicatesAction, &QAction::triggered, this, &TfrmMain::findDuplicateCards);
    connectGuarded(ForgetNotDuplicatesAction, &QAction::triggered, this, &TfrmMain::forgetNotDuplicates);
    if (m_dm.fileCommands())
        return;
    // These belong to the database file on this desktop.
    DataMenu->setToolTipsVisible(true);
    for (QAction* action : {BackupAction, RestoreAction})
        action->setToolTip(QString::fromUtf8(kServerManaged));
    PasswordAction->setToolTip(QStringLiteral("团队数据库的密码写在 Data/server.conf 或 ~/.pgpass 中，由服务器管理员设置。"));
    for (QAction* action : {BackupAction, RestoreAction, PasswordAction})
        action->setEnabled(false);
}

DatabaseFileCommands& TfrmMain::fileCommands() const
{
    // The sync holds a connection of its own to the file.
    if (Sync->isRunning())
        throw EngineError(QStringLiteral("正在与通讯录服务器同步，请等同步完成（见状态栏）后再试。"));
    if (DatabaseFileCommands* file = m_dm.fileCommands())
        return *file;
    throw EngineError(QString::fromUtf8(kServerManaged));
}

void TfrmMain::upgradeDatabase()
{
    // A file is upgraded whole; a server gets the tables later versions added and the dates
    // older desktops stored as typed. A server account that may not add tables is told, and
    // the window is used without what they hold.
    DatabaseFileCommands* file = m_dm.fileCommands();
    if (!file) {
        const ServerUpgrade upgraded = upgradeServer(m_dm.ADOConnection1);
        if (!upgraded.warning.isEmpty())
            showInfo(this, upgraded.warning);
    }
    const bool usable = !file || upgradeFile(*file, this);
    QuickFindEdit->setEnabled(usable);
    QuickFindEdit->setToolTip(usable ? QStringLiteral("输入姓名、拼音、首字母、电话号码、单位或邮箱的一部分，列表随输入缩小；"
                                                      "Esc 清除（Ctrl+F）")
                                     : QStringLiteral("数据库只读，无法建立快速查找所需的检索键，快速查找不可用；"
                                                      "以可写方式打开一次后即可使用。"));
}

void TfrmMain::backupData()
{
    const QString suggested = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                  .filePath(QStringLiteral("名片备份-%1.edb").arg(dateText(today())));
    const QString path = chooseSaveFile(this, QStringLiteral("备份数据"), suggested, fileFilter());
    if (path.isEmpty())
        return;
    {
        const WaitCursor wait(statusBar(), QStringLiteral("正在备份数据，请稍候…"));
        fileCommands().backupTo(path);
    }
    showInfo(this, QStringLiteral("数据已备份到 %1").arg(QDir::toNativeSeparators(path)));
}

void TfrmMain::restoreData()
{
    const QString title = QStringLiteral("恢复数据");
    const QString source = chooseOpenFile(this, title, fileFilter());
    if (source.isEmpty())
        return;
    // A backup opens with the password in use, or with the program's own one (made before
    // a password was set); else it has a password of its own, which the user is asked for.
    DatabaseFileCommands& file = fileCommands();
    std::optional<QString> password = file.knownPasswordOf(source);
    if (!password)
        password = askPasswordTries(this, title, QStringLiteral("所选文件不能用现在的密码打开：它设置了别的密码，或者不是名片数据库。请输入它的密码："),
                                    [&](const QString& typed) { return DatabaseFileCommands::sourceOpensWith(source, typed); });
    if (!password)
        throw EngineError(QStringLiteral("没有输入所选文件的正确密码，没有恢复。"));
    if (!askYesNo(this, title,
                  QStringLiteral("恢复后，现在的名片、拜访记录、纪念日和设置都将换成所选备份中的内容"
                                 "（现在的数据库文件会先保存到 Data/Backup 文件夹）。确认要恢复吗？")))
        return;
    DatabaseFileCommands::Restored restored;
    {
        const WaitCursor wait(statusBar(), QStringLiteral("正在恢复数据，请稍候…"));
        restored = file.restore(source, *password, backupFolder(), QDateTime::currentDateTime());
    }
    ReadOnlyLabel->hide();
    FormCreate(); // everything shown comes from the restored file
    QString done = restored.kept.isEmpty()
                       ? QStringLiteral("数据已恢复。")
                       : QStringLiteral("数据已恢复。恢复前的数据库文件已保存为 %1").arg(QDir::toNativeSeparators(restored.kept));
    // The restored file keeps its own password, as a copy put back by hand would.
    if (restored.passwordChanged)
        done += file.hasUserPassword() ? QStringLiteral("\n恢复后的数据库使用所选备份的密码，以后启动程序时要输入它。")
                                       : QStringLiteral("\n所选备份没有设置密码，恢复后的数据库也没有密码；需要时请用“设置密码…”重新设置。");
    showInfo(this, done);
}

void TfrmMain::setPassword()
{
    DatabaseFileCommands& file = fileCommands();
    const QString title = QStringLiteral("设置密码");
    file.open(); // a database that did not open is reported before anything is asked
    const bool had = file.hasUserPassword();
    if (had) {
        const auto current = askPassword(this, title, QStringLiteral("请输入现在的密码："));
        if (!current)
            return;
        if (!file.opensWithPassword(*current)) {
            showInfo(this, QStringLiteral("现在的密码不对，密码没有改变。"));
            return;
        }
    }
    const auto first = askPassword(this, title,
                                   had ? QStringLiteral("请输入新密码（不填表示取消密码）：")
                                       : QStringLiteral("请输入新密码。请牢记它：忘记密码就再也打不开名片数据。"));
    if (!first)
        return;
    if (first->isEmpty() && !had) {
        showInfo(this, QStringLiteral("密码不能为空，没有设置密码。"));
        return;
    }
    if (*first == QString::fromLatin1(kDatabasePassword)) {
        showInfo(this, QStringLiteral("这是程序自带的密码，不能用作您的密码，请换一个。"));
        return;
    }
    const auto second = askPassword(this, title, QStringLiteral("请再输入一次新密码："));
    if (!second)
        return;
    if (*second != *first) {
        showInfo(this, QStringLiteral("两次输入的新密码不一样，密码没有改变。"));
        return;
    }
    {
        const WaitCursor wait(statusBar(), QStringLiteral("正在用新密码重新加密数据库，请稍候…"));
        file.changePassword(*first);
    }
    const QString older = QStringLiteral("\n以前的备份（Data/Backup 文件夹中的和您另存的）仍然用原来的密码，不再需要的请删除。");
    if (first->isEmpty())
        showInfo(this, QStringLiteral("密码已取消。以后启动程序时不再需要输入密码。"));
    else
        showInfo(this, (had ? QStringLiteral("密码已修改。") : QStringLiteral("密码已设置。"))
                           + QStringLiteral("以后启动程序时要输入这个密码，之后的备份也使用这个密码。") + older);
}

void TfrmMain::findDuplicateCards()
{
    std::optional<FoundDuplicates> found = searchDuplicates(m_dm.ADOConnection1, this);
    if (!found)
        return;
    TfrmDupList list(m_dm.ADOConnection1, std::move(*found), this);
    follow(list);
    showModal(&list);
}

void TfrmMain::forgetNotDuplicates()
{
    if (!askYesNo(this, QStringLiteral("查找重复名片"),
                  QStringLiteral("忘记以前所有“不是重复”的决定吗？之后查找重复名片时，这些名片会重新列出。")))
        return;
    const int forgotten = forgetNotDuplicateDecisions(m_dm.ADOConnection1);
    showInfo(this, forgotten == 0 ? QStringLiteral("没有记住的“不是重复”的决定。")
                                  : QStringLiteral("已忘记 %1 对名片“不是重复”的决定。").arg(forgotten));
}

void TfrmMain::writeCloseBackup()
{
    // Nothing to keep from a database that did not open or could not be changed, nor from a
    // server, which its administrator backs up.
    DatabaseFileCommands* file = m_dm.fileCommands();
    if (!file || !file->takesDailyBackup())
        return;
    const WaitCursor wait;
    file->writeDailyBackup(backupFolder(), today());
}

} // namespace ostrel

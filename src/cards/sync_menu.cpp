// The phone sync in the 数据 menu: its settings window, 立即同步 and the automatic times, the
// progress in the status line and the summary at the end. The sync itself runs on
// PhoneSync's thread; the window stays usable meanwhile.
#include "main_window.h"

#include "app/app_info.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "core/sync/sync_state.h"
#include "engine/engine_error.h"
#include "phone_sync.h"
#include "settings/sync_settings_window.h"
#include "ui/common/window_parts.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

namespace ostrel {

namespace {

const QString kSyncTitle = QStringLiteral("立即同步");

// The summary of a sync asked for by hand: what it did, and every card it could not sync.
void showSyncSummary(QWidget* parent, const sync::SyncReport& report)
{
    QDialog window(parent);
    window.setObjectName(QStringLiteral("SyncSummary"));
    window.setWindowTitle(QStringLiteral("同步结果"));
    setCloseBoxOnly(&window);
    window.resize(520, report.refused.isEmpty() ? 200 : 360);
    auto* layout = new QVBoxLayout(&window);
    auto* head = named(new QLabel(report.refused.isEmpty() ? QStringLiteral("同步完成。")
                                                           : QStringLiteral("同步完成，但有 %1 张名片未能同步（见下）。").arg(report.refused.size()),
                                  &window),
                       "SummaryHead");
    layout->addWidget(head);
    auto* text = named(new QPlainTextEdit(report.summary(), &window), "SummaryText");
    text->setReadOnly(true);
    layout->addWidget(text, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &window);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &window, &QDialog::accept);
    layout->addWidget(buttons);
    showModal(&window);
}

// One line for the status line.
QString shortSummary(const sync::SyncReport& report)
{
    QString text = QStringLiteral("%1 已同步：上传 %2，下载 %3")
                       .arg(QTime::currentTime().toString(QStringLiteral("HH:mm")))
                       .arg(report.uploaded)
                       .arg(report.downloaded);
    if (report.deletedHere + report.deletedThere > 0)
        text += QStringLiteral("，删除 %1").arg(report.deletedHere + report.deletedThere);
    if (report.conflicts > 0)
        text += QStringLiteral("，冲突 %1").arg(report.conflicts);
    if (!report.refused.isEmpty())
        text += QStringLiteral("，%1 张未能同步").arg(report.refused.size());
    return text;
}

} // namespace

void TfrmMain::connectSync()
{
    Sync = new PhoneSync(m_dm, this);
    SyncTimer = new QTimer(this);
    SyncTimer->setObjectName(QStringLiteral("SyncTimer"));
    connectGuarded(SyncSettingsAction, &QAction::triggered, this, &TfrmMain::syncSettings);
    connectGuarded(SyncNowAction, &QAction::triggered, this, &TfrmMain::syncNow);
    connectGuarded(SyncTimer, &QTimer::timeout, this, [this] { Sync->start(true); });
    connect(Sync, &PhoneSync::progressed, this, &TfrmMain::syncProgressed);
    connectGuarded(Sync, &PhoneSync::finished, this, &TfrmMain::syncFinished);
}

void TfrmMain::syncSettings()
{
    SyncSettingsWindow window(m_dm, this);
    showModal(&window);
    followSyncTimes(false);
}

void TfrmMain::followSyncTimes(bool starting)
{
    sync::SyncTimes times;
    try {
        times = sync::loadSyncTimes(m_dm.ADOConnection1);
    } catch (const EngineError&) {
        return; // a database without the sync tables: no sync by itself
    }
    if (times.everyMinutes > 0)
        SyncTimer->start(times.everyMinutes * 60 * 1000);
    else
        SyncTimer->stop();
    if (starting && times.onStart && !m_syncedAtStart) {
        m_syncedAtStart = true;
        Sync->start(true);
    }
}

void TfrmMain::syncNow()
{
    if (Sync->isRunning()) {
        showInfo(this, QStringLiteral("正在同步，请等这次同步完成。"));
        return;
    }
    Sync->start(false);
    syncProgressed(QStringLiteral("正在连接通讯录服务器"), 0, 0);
}

void TfrmMain::syncProgressed(const QString& step, int done, int total)
{
    SyncLabel->setToolTip({});
    SyncLabel->setStyleSheet({});
    SyncLabel->setText(total > 0 ? QStringLiteral("同步：%1 %2/%3").arg(step).arg(done).arg(total)
                                 : QStringLiteral("同步：%1…").arg(step));
}

void TfrmMain::syncFinished(const PhoneSyncOutcome& outcome)
{
    // Whatever came from the server before a failure is kept, so the list is read again.
    myRef();
    if (!outcome.failure.isEmpty()) {
        SyncLabel->setStyleSheet(QStringLiteral("color: #c00000;"));
        SyncLabel->setText(QStringLiteral("%1 同步失败").arg(QTime::currentTime().toString(QStringLiteral("HH:mm"))));
        SyncLabel->setToolTip(outcome.failure);
        if (outcome.automatic)
            return;
        if (!outcome.fingerprint.isEmpty()
            && askYesNo(this, kSyncTitle,
                        outcome.failure + QStringLiteral("\n\n请向服务器管理员核对这个指纹。确认这是您的服务器，并信任这个证书吗？"))) {
            sync::setSyncSetting(m_dm.ADOConnection1, sync::setting::kTrusted, outcome.fingerprint);
            syncNow();
            return;
        }
        if (outcome.fingerprint.isEmpty())
            showInfo(this, QStringLiteral("同步没有完成：") + outcome.failure);
        return;
    }
    SyncLabel->setStyleSheet(outcome.report.refused.isEmpty() ? QString() : QStringLiteral("color: #c00000;"));
    SyncLabel->setText(shortSummary(outcome.report));
    SyncLabel->setToolTip(outcome.report.summary());
    if (!outcome.automatic)
        showSyncSummary(this, outcome.report);
}

void TfrmMain::syncAtClose()
{
    if (!Sync->isRunning()) {
        sync::SyncTimes times;
        try {
            times = sync::loadSyncTimes(m_dm.ADOConnection1);
        } catch (const EngineError&) {
            return;
        }
        if (!times.onClose || !Sync->start(true))
            return;
    }
    auto progress = cancellableProgress(this, QString::fromUtf8(kAppTitle), QStringLiteral("正在与通讯录服务器同步，完成后退出……"), 0);
    progress->setCancelButtonText(QStringLiteral("不等了"));
    const QMetaObject::Connection told = connect(Sync, &PhoneSync::progressed, progress.get(), [&](const QString& step, int done, int total) {
        progress->setLabelText(QStringLiteral("正在与通讯录服务器同步，完成后退出……\n%1 %2/%3").arg(step).arg(done).arg(total));
    });
    connect(progress.get(), &QProgressDialog::canceled, Sync, &PhoneSync::stop);
    Sync->wait();
    disconnect(told);
}

} // namespace ostrel

#include "phone_sync.h"

#include "app/data_module.h"
#include "core/open_database.h"
#include "core/sync/carddav_client.h"
#include "engine/engine_error.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

#include <memory>

namespace ostrel {

namespace {

// The status line is told at most this often (milliseconds), and at each new step.
constexpr qint64 kProgressEvery = 100;

} // namespace

PhoneSync::PhoneSync(TfrmDM& dm, QObject* parent) : QObject(parent), m_dm(dm) {}

PhoneSync::~PhoneSync()
{
    if (m_thread) {
        m_stop = true;
        m_thread->wait();
        delete m_thread;
    }
}

bool PhoneSync::start(bool automatic)
{
    if (m_thread)
        return false;
    sync::SyncAccount account;
    try {
        account = sync::loadSyncAccount(m_dm.ADOConnection1);
    } catch (const EngineError&) {
        if (automatic)
            return false; // a database without the sync tables (read-only, older) syncs nothing by itself
        throw;
    }
    if (account.book.isEmpty()) {
        if (automatic)
            return false;
        throw sync::SyncError(sync::SyncError::NotCardDav,
                              QStringLiteral("还没有设置同步的通讯录，请先在“数据”菜单的“同步设置…”中设置服务器和通讯录。"));
    }
    // Opened here, where a failure reaches the user through the caller.
    std::shared_ptr<Database> db = openSameCardDatabase(m_dm.ADOConnection1);
    m_stop = false;
    m_outcome = {};
    m_outcome.automatic = automatic;
    m_thread = QThread::create([this, db, account] {
        QElapsedTimer clock;
        QString lastStep;
        const sync::SyncProgress progress = [&](const QString& step, int done, int total) {
            if (m_stop)
                throw sync::SyncError(sync::SyncError::Stopped, QStringLiteral("同步已停止；已完成的部分保留，下次同步会接着完成。"));
            if (step == lastStep && done != total && clock.isValid() && clock.elapsed() < kProgressEvery)
                return;
            lastStep = step;
            clock.start();
            emit progressed(step, done, total);
        };
        try {
            m_outcome.report = sync::syncCards(*db, account, progress);
        } catch (const sync::SyncError& error) {
            m_outcome.failure = error.message();
            m_outcome.fingerprint = error.fingerprint;
        } catch (const EngineError& error) {
            m_outcome.failure = QStringLiteral("同步时名片数据库出错：") + error.message();
        } catch (const std::exception& error) {
            m_outcome.failure = QString::fromUtf8(error.what());
        }
    });
    m_thread->setObjectName(QStringLiteral("PhoneSync"));
    connect(m_thread, &QThread::finished, this, &PhoneSync::done);
    m_thread->start();
    return true;
}

void PhoneSync::wait()
{
    if (!m_thread)
        return;
    QEventLoop loop;
    connect(this, &PhoneSync::finished, &loop, &QEventLoop::quit);
    loop.exec();
}

void PhoneSync::done()
{
    m_thread->wait();
    m_thread->deleteLater();
    m_thread = nullptr;
    emit finished(m_outcome);
}

} // namespace ostrel

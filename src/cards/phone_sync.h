#pragma once
#include "core/sync/card_sync.h"

#include <QObject>
#include <QString>

#include <atomic>

class QThread;

namespace ostrel {

class TfrmDM;

// What one sync came to: its report, or the sentence of what stopped it.
struct PhoneSyncOutcome {
    sync::SyncReport report;
    QString failure;     // empty when the sync went through
    QString fingerprint; // the server's certificate, when it was not trusted
    bool automatic = false;
};

// Syncs the card database with the phone's address book on a thread of its own, through a
// connection of its own, so the windows stay usable meanwhile; one sync at a time.
class PhoneSync : public QObject {
    Q_OBJECT
public:
    PhoneSync(TfrmDM& dm, QObject* parent);
    ~PhoneSync() override;

    // Starts a sync with the saved settings; false when one is running already or, for an
    // automatic one, when none is set up. Throws EngineError (the database) or SyncError (a
    // sync asked for by hand that is not set up).
    bool start(bool automatic);
    bool isRunning() const { return m_thread != nullptr; }
    // Asks a running sync to stop at its next step; what it did is kept.
    void stop() { m_stop = true; }
    // Runs events until no sync runs.
    void wait();

signals:
    // The step (in Chinese), how far it is and of how many (0 when not known).
    void progressed(const QString& step, int done, int total);
    void finished(const PhoneSyncOutcome& outcome);

private:
    void done();

    TfrmDM& m_dm;
    QThread* m_thread = nullptr;
    std::atomic<bool> m_stop = false;
    PhoneSyncOutcome m_outcome; // written by the thread, read once it has ended
};

} // namespace ostrel

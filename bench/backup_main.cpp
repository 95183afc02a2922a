// The automatic backup on close, a restore from it, and setting then removing the user's
// password (an in-place re-key each), at 10,000 and 100,000 cards: time and file size. One
// line per figure, with the workload.
#include "db/backup.h"
#include "db/connection_string.h"
#include "generator.h"
#include "db/sqlcipher_connection.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

namespace {

template <typename F>
double seconds(F&& step)
{
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    for (int cards : ostrel::bench::cardCounts(argc, argv)) {
        QTemporaryDir folder;
        const QString programDir = ostrel::bench::generateProgramFolder(folder, {cards, cards * 3, cards, 20261209});
        ostrel::SqlCipherConnection db;
        db.setConnectionString(ostrel::cardConnectionString(programDir));
        const QString backups = programDir + QStringLiteral("Data/Backup");
        QString written;
        const double backup = seconds([&] { written = ostrel::writeDailyBackup(db, backups, QDate(2026, 12, 9)); });
        const double restore = seconds([&] { ostrel::restoreDatabase(db, written, backups, QDateTime::currentDateTime()); });
        const double setKey = seconds([&] { db.rekey(QStringLiteral("bench password")); });
        const double removeKey = seconds([&] { db.rekey({}); });
        std::printf("cards=%d file_mb=%.1f backup_s=%.2f restore_s=%.2f rekey_set_s=%.2f rekey_remove_s=%.2f listed=%d\n",
                    cards, QFileInfo(written).size() / 1048576.0, backup, restore, setKey, removeKey,
                    db.countRows(QStringLiteral("select ID from D_B")));
    }
    return 0;
}

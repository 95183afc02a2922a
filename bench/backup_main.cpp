// The automatic backup on close, a restore from it, and setting then removing the user's
// password (an in-place re-key each), at 10,000 and 100,000 cards: time and file size. One
// line per figure, with the workload.
#include "core/backup.h"
#include "engine/connection_string.h"
#include "generator.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "measure.h"
#include "core/open_database.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    for (int cards : ostrel::bench::cardCounts(argc, argv)) {
        QTemporaryDir folder;
        const QString programDir = ostrel::bench::makeProgramFolder(folder, ostrel::bench::Workload::ofCards(cards));
        ostrel::SqlCipherConnection db{ostrel::cardDatabaseRules()};
        db.setConnectionString(ostrel::cardConnectionString(programDir));
        const QString backups = programDir + QStringLiteral("Data/Backup");
        QString written;
        const double backup = ostrel::bench::elapsedMs([&] { written = ostrel::writeDailyBackup(db, backups, QDate(2026, 12, 9)); });
        const double restore = ostrel::bench::elapsedMs([&] { ostrel::restoreDatabase(db, written, backups, QDateTime::currentDateTime()); });
        const double setKey = ostrel::bench::elapsedMs([&] { db.changePassword(QStringLiteral("bench password")); });
        const double removeKey = ostrel::bench::elapsedMs([&] { db.changePassword({}); });
        std::printf("cards=%d file_mb=%.1f backup_s=%.2f restore_s=%.2f rekey_set_s=%.2f rekey_remove_s=%.2f listed=%d\n",
                    cards, QFileInfo(written).size() / 1048576.0, backup / 1000, restore / 1000, setKey / 1000,
                    removeKey / 1000,
                    db.countRows(QStringLiteral("select ID from D_B")));
    }
    return 0;
}

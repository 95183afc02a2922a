// Re-keys a card database and exits; the test that kills a re-key midway runs it.
// Arguments: the file, its key and the new one ("" for the program's own), and the page
// cache in pages.
#include "engine/engine_error.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "core/open_database.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 5)
        return 2;
    ostrel::SqlCipherConnection db{ostrel::cardDatabaseRules()};
    db.setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=kqv749").arg(QString::fromLocal8Bit(argv[1])));
    try {
        if (!db.openWithPassword(QString::fromUtf8(argv[2])))
            return 3;
        db.execute(QStringLiteral("PRAGMA cache_size = %1").arg(QString::fromLatin1(argv[4])));
        db.changePassword(QString::fromUtf8(argv[3]));
    } catch (const ostrel::EngineError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

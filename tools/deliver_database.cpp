// Build step: writes the encrypted card database from data/schema.sql when none is there.
#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "core/open_database.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s schema.sql Data/db.edb\n", argv[0]);
        return 2;
    }
    QFile schema(QString::fromLocal8Bit(argv[1]));
    if (!schema.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    try {
        const QString target = QString::fromLocal8Bit(argv[2]);
        const bool written = ostrel::deliverDatabase(target, ostrel::kDatabasePassword,
                                                     QString::fromUtf8(schema.readAll()));
        std::printf("%s: %s\n", argv[2], written ? "delivered" : "already there, left as it is");
    } catch (const ostrel::EngineError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

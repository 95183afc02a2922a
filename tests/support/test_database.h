#pragma once
#include <QString>
#include <QTemporaryDir>

#include "core/open_database.h"
#include "qt_print.h"

#include <gtest/gtest.h>
#include <functional>
#include <memory>

namespace ostrel::test {

// A program folder of its own with a fresh copy of the delivered database in Data/.
class TestDatabase {
public:
    TestDatabase();
    // Ends in its separator, like the program's folder.
    QString programDir() const { return m_dir.path() + u'/'; }
    QString path() const { return programDir() + QStringLiteral("Data/db.edb"); }
    QString connectionString() const;

private:
    QTemporaryDir m_dir;
};

// The message of the engine error action throws, or "<no error>".
QString engineMessage(const std::function<void()>& action);

// The delivered database, written once per test program from data/schema.sql.
QString deliveredDatabase();

// Whether this run of a test program puts its windows on a team server instead of the file:
// CTest runs each window test program a second time with OSTREL_TEST_ENGINE=server.
bool onServerEngine();
// The card database the program would open in copy's folder, not yet opened. On a server run
// a fresh server database that Data/server.conf there names, so the real factory picks it
// (the current test is skipped, visibly, when no server can be had); else the copied file.
OpenedCardDatabase cardDatabaseFor(const TestDatabase& copy);

} // namespace ostrel::test

// Skips, visibly, a test of what only the encrypted file has (backups, the password, …) on a
// server run.
#define OSTREL_FILE_ONLY(why)                                                                        \
    do {                                                                                             \
        if (::ostrel::test::onServerEngine())                                                        \
            GTEST_SKIP() << "the encrypted file's own behaviour: " << (why);                         \
    } while (false)

#pragma once
#include <QString>

namespace ostrel::test {

// A throw-away PostgreSQL server for this test program: made by initdb in a temporary
// folder on first use, reached through a socket in that folder only (no network port is
// opened), run by an unprivileged user when the tests run as root, and stopped when the
// program ends. A template database holds the card database's schema (initServer), so a
// test gets a fresh database of its own cheaply.
//
// The connection text of a new database made from the template (with the schema and
// seed rows), or of a new empty one; empty when no server could be had (see
// serverUnavailable()).
QString freshServerDatabase();
QString emptyServerDatabase();
// Why the server tests are skipped: PostgreSQL is not installed, or the server failed to
// start (its log's end). Empty while a server is there.
QString serverUnavailable();
// Restarts the server (fast shutdown): every open connection to it is lost.
void restartServer();

} // namespace ostrel::test

// Skips the test, visibly, when no server can be had.
#define OSTREL_NEEDS_SERVER()                                                                                  \
    do {                                                                                                     \
        if (!::ostrel::test::serverUnavailable().isEmpty())                                                  \
            GTEST_SKIP() << "PostgreSQL server tests skipped: " << ::ostrel::test::serverUnavailable().toStdString(); \
    } while (false)

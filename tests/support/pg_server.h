#pragma once
#include <QString>

namespace ostrel::test {

// A PostgreSQL server of its own in folder (made there by initdb when the folder holds none),
// reached through a socket in that folder only, run by the user nobody when this process
// is root, and stopped when this ends.
class LocalServer {
public:
    explicit LocalServer(const QString& folder);
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    // Why there is no server (not installed, did not start); empty while it runs.
    const QString& unavailable() const { return m_unavailable; }
    // Whether initdb made the folder's cluster in this run.
    bool isNew() const { return m_new; }
    QString connectionText(const QString& database) const;
    // Runs text of the server's own on its maintenance database (CREATE DATABASE …).
    void admin(const QString& sql);
    void restart();

private:
    bool command(const QString& line);
    QString logTail() const;

    QString m_folder;
    QString m_bin;
    QString m_asUser;
    QString m_unavailable;
    bool m_running = false;
    bool m_new = false;
};

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

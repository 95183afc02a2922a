#pragma once
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace ostrel::test {

// An address-book server of its own on a loopback port, its collections in a temporary
// folder, run by the user nobody when this process is root, and stopped when this ends:
// Radicale 3 with htpasswd authentication (user "phone", password "secret"), or Xandikos
// (which asks no password) with its default address book. A Radicale may serve TLS with a
// self-signed certificate of its own, which no authority vouches for.
class DavServer {
public:
    enum Kind { Radicale, Xandikos };
    explicit DavServer(Kind kind, bool tls = false);
    ~DavServer();
    DavServer(const DavServer&) = delete;
    DavServer& operator=(const DavServer&) = delete;

    // Why there is no server (not installed, did not start); empty while it runs.
    const QString& unavailable() const { return m_unavailable; }
    Kind kind() const { return m_kind; }
    QUrl root() const;
    static QString user() { return QStringLiteral("phone"); }
    static QString password() { return QStringLiteral("secret"); }

    // Kills the server at once (as a crash would), and starts it again on the same port and folder.
    void kill();
    void start();

private:
    QString programLine() const;

    Kind m_kind;
    bool m_tls;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    std::unique_ptr<QProcess> m_process;
    QString m_unavailable;
};

} // namespace ostrel::test

#define OSTREL_NEEDS_DAV(server)                                                                        \
    do {                                                                                                \
        if (!(server).unavailable().isEmpty())                                                          \
            GTEST_SKIP() << "address-book server tests skipped: " << (server).unavailable().toStdString(); \
    } while (false)

#pragma once
#include <QObject>
#include <QTcpServer>
#include <QUrl>

namespace ostrel::test {

// A relay on a loopback port in front of an address-book server that hides its
// sync-collection report, as a server without one answers: a client must then find changes
// through the ctag and a listing of ETags. No server here leaves the report out, so the real
// server answers everything else. The relay runs on the events of the thread that made it,
// which the client's waits keep running.
class DavRelay : public QObject {
public:
    explicit DavRelay(quint16 serverPort);
    // url with the relay's port in place of the server's.
    QUrl through(QUrl url) const;

private:
    QTcpServer m_listener;
    quint16 m_serverPort;
};

} // namespace ostrel::test

#include "dav_relay.h"

#include <QTcpSocket>

namespace ostrel::test {

DavRelay::DavRelay(quint16 serverPort) : m_serverPort(serverPort)
{
    m_listener.listen(QHostAddress::LocalHost);
    connect(&m_listener, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* client = m_listener.nextPendingConnection()) {
            auto* server = new QTcpSocket(client);
            server->connectToHost(QHostAddress::LocalHost, m_serverPort);
            connect(client, &QTcpSocket::readyRead, server, [client, server] {
                QByteArray data = client->readAll();
                // Uncompressed answers, so the word can be found in them.
                data.replace("Accept-Encoding:", "X-Accepted:");
                server->write(data);
            });
            connect(server, &QTcpSocket::readyRead, client, [client, server] {
                QByteArray data = server->readAll();
                // Of the same length, so the answer's Content-Length holds.
                data.replace("sync-collection", "sync-xollection");
                client->write(data);
            });
            connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        }
    });
}

QUrl DavRelay::through(QUrl url) const
{
    url.setPort(m_listener.serverPort());
    return url;
}

} // namespace ostrel::test

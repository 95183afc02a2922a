#include "dav_server.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

namespace ostrel::test {

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool answers(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

void write(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

// Hands the folder and what is in it to nobody: the servers refuse nothing as root, but
// a test server has no business running as root.
bool handToNobody(const QString& folder)
{
    if (geteuid() != 0)
        return true;
    const QString line = QStringLiteral("chown -R nobody: '%1'").arg(folder);
    return std::system(line.toLocal8Bit().constData()) == 0;
}

} // namespace

DavServer::DavServer(Kind kind, bool tls) : m_kind(kind), m_tls(tls), m_dir(QDir::tempPath() + QStringLiteral("/ostrel-dav-XXXXXX"))
{
    const QString program = kind == Radicale ? QStringLiteral("radicale") : QStringLiteral("xandikos");
    if (QStandardPaths::findExecutable(program).isEmpty()) {
        m_unavailable = program + QStringLiteral(" is not installed; scripts/install-deps installs it");
        return;
    }
    m_port = freePort();
    QString tlsLines;
    if (tls) {
        const QString key = m_dir.filePath(QStringLiteral("key.pem"));
        const QString cert = m_dir.filePath(QStringLiteral("cert.pem"));
        QProcess openssl;
        openssl.setStandardOutputFile(QProcess::nullDevice());
        openssl.setStandardErrorFile(QProcess::nullDevice());
        openssl.start(QStringLiteral("openssl"),
                                           {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                                            QStringLiteral("-nodes"), QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert,
                                            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")});
        if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
            m_unavailable = QStringLiteral("openssl could not make a certificate");
            return;
        }
        tlsLines = QStringLiteral("ssl = True\ncertificate = %1\nkey = %2\n").arg(cert, key);
    }
    if (kind == Radicale) {
        write(m_dir.filePath(QStringLiteral("users")), (user() + u':' + password() + u'\n').toUtf8());
        write(m_dir.filePath(QStringLiteral("config")),
              QStringLiteral("[server]\nhosts = 127.0.0.1:%1\n%4[auth]\ntype = htpasswd\nhtpasswd_filename = %2\n"
                             "htpasswd_encryption = plain\n[storage]\nfilesystem_folder = %3\n[logging]\nlevel = warning\n")
                  .arg(m_port)
                  .arg(m_dir.filePath(QStringLiteral("users")), m_dir.filePath(QStringLiteral("collections")), tlsLines)
                  .toUtf8());
    }
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther | QFile::ReadOther);
    if (!handToNobody(m_dir.path())) {
        m_unavailable = QStringLiteral("cannot hand the server's folder to the user nobody");
        return;
    }
    start();
}

DavServer::~DavServer()
{
    if (m_process) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000))
            m_process->kill();
        m_process->waitForFinished(3000);
    }
}

QUrl DavServer::root() const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2/").arg(m_tls ? QStringLiteral("https") : QStringLiteral("http")).arg(m_port));
}

void DavServer::start()
{
    QStringList arguments;
    if (geteuid() == 0)
        arguments << QStringLiteral("--reuid=nobody") << QStringLiteral("--regid=nogroup") << QStringLiteral("--clear-groups");
    if (m_kind == Radicale)
        arguments << QStringLiteral("radicale") << QStringLiteral("--config") << m_dir.filePath(QStringLiteral("config"));
    else
        arguments << QStringLiteral("xandikos") << QStringLiteral("-d") << m_dir.filePath(QStringLiteral("dav")) << QStringLiteral("--defaults")
                  << QStringLiteral("-l") << QStringLiteral("127.0.0.1") << QStringLiteral("-p") << QString::number(m_port);
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // Xandikos reads the user's git settings: nobody's home is the server's folder.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
    m_process->setProcessEnvironment(environment);
    m_process->setStandardOutputFile(m_dir.filePath(QStringLiteral("server.log")), QIODevice::Append);
    if (geteuid() == 0) {
        m_process->start(QStringLiteral("setpriv"), arguments);
    } else {
        const QString program = arguments.takeFirst();
        m_process->start(program, arguments);
    }
    for (int i = 0; i < 150 && !answers(m_port); ++i) {
        if (m_process->state() == QProcess::NotRunning)
            break;
        QThread::msleep(100);
    }
    if (!answers(m_port)) {
        QFile log(m_dir.filePath(QStringLiteral("server.log")));
        log.open(QIODevice::ReadOnly);
        m_unavailable = QStringLiteral("the server did not start: ") + QString::fromUtf8(log.readAll().right(600));
    }
}

void DavServer::kill()
{
    m_process->kill();
    m_process->waitForFinished(3000);
}

} // namespace ostrel::test

#include "SingleInstance.h"

#include "DesktopLog.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {

constexpr int connectTimeoutMs = 1000;
constexpr int deliveryTimeoutMs = 2000;
// A URL longer than this is no callback of ours; it is cut off rather than buffered without end.
constexpr qint64 maximumMessageBytes = 64 * 1024;

} // namespace

SingleInstance::SingleInstance(const QString &socketPath, QObject *parent)
    : QObject(parent)
    , m_socketPath(socketPath)
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (m_server.hasPendingConnections())
            readConnection();
    });
}

QString SingleInstance::defaultSocketPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/tarnwick-app.socket");
}

bool SingleInstance::forward(const QString &message) const
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(connectTimeoutMs))
        return false;
    socket.write(message.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(deliveryTimeoutMs))
        return false;
    // The running instance closes the connection once it has read the line.
    socket.waitForDisconnected(deliveryTimeoutMs);
    return true;
}

bool SingleInstance::listen()
{
    if (m_server.listen(m_socketPath))
        return true;
    if (m_server.serverError() == QAbstractSocket::AddressInUseError && !forward(QString())) {
        // Left behind by an instance that ended without closing it.
        QLocalServer::removeServer(m_socketPath);
        if (m_server.listen(m_socketPath))
            return true;
    }
    qCWarning(lcDesktop).noquote() << "A second start will not reach this instance:" << m_server.errorString();
    return false;
}

void SingleInstance::readConnection()
{
    QLocalSocket *socket = m_server.nextPendingConnection();
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine() && socket->bytesAvailable() < maximumMessageBytes)
            return;
        const QByteArray line = socket->readLine(maximumMessageBytes).trimmed();
        socket->disconnectFromServer();
        Q_EMIT messageReceived(QString::fromUtf8(line));
    });
}

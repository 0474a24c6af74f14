#include "ScriptedServer.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QMetaEnum>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>

namespace {

// `headers` are whole lines, each ended by CR LF.
void write(QTcpSocket *socket, int status, const QByteArray &headers, const QByteArray &body)
{
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\n" + headers
                  + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

}

QByteArray ScriptedServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

ScriptedServer::ScriptedServer(const QString &certificatePath, const QString &keyPath)
    : m_tls(!certificatePath.isEmpty())
{
    if (m_tls) {
        const QSslCertificate certificate = QSslCertificate::fromPath(certificatePath).value(0);
        QFile keyFile(keyPath);
        const QSslKey key(keyFile.open(QIODevice::ReadOnly) ? keyFile.readAll() : QByteArray(), QSsl::Rsa);
        if (certificate.isNull() || key.isNull())
            return;
        // The listening socket takes its TLS setting when it is made.
        sslSetup(certificate, key);
    }
    m_port = listen(QHostAddress::LocalHost);
}

QUrl ScriptedServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(m_tls ? u"https" : u"http").arg(m_port).arg(path));
}

void ScriptedServer::answer(const QString &path, int status, const QByteArray &body, const QByteArray &contentType)
{
    const QByteArray headers = contentType.isEmpty() ? QByteArray() : "Content-Type: " + contentType + "\r\n";
    m_scripts.insert(path, [=](QTcpSocket *socket) { write(socket, status, headers, body); });
}

void ScriptedServer::redirect(const QString &path, const QUrl &target)
{
    const QByteArray headers = "Location: " + target.toEncoded() + "\r\n";
    m_scripts.insert(path, [=](QTcpSocket *socket) { write(socket, 302, headers, {}); });
}

void ScriptedServer::hang(const QString &path)
{
    m_scripts.insert(path, [](QTcpSocket *) {});
}

void ScriptedServer::holdNext(const QString &path)
{
    m_holdNext.insert(path);
}

void ScriptedServer::releaseHeld()
{
    for (const auto &[path, socket] : std::exchange(m_held, {})) {
        if (const auto script = m_scripts.constFind(path); socket && script != m_scripts.constEnd())
            (*script)(socket);
    }
}

void ScriptedServer::stream(const QString &path, qint64 size, bool announceLength)
{
    m_scripts.insert(path, [=](QTcpSocket *socket) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                      + (announceLength ? "Content-Length: " + QByteArray::number(size) : "Connection: close")
                      + "\r\n\r\n");
        constexpr qint64 chunk = 64 * 1024;
        for (qint64 written = 0; written < size; written += chunk)
            socket->write(QByteArray(int(std::min(chunk, size - written)), ' '));
        if (!announceLength)
            socket->disconnectFromHost();
    });
}

bool ScriptedServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QString path = request.url().path();
    const QByteArray method = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(request.method()));
    m_requests.append(Request{method.toUpper(), path, request.headers(), request.body()});
    if (m_holdNext.remove(path)) {
        m_held.append({path, socket});
        return true;
    }
    const auto script = m_scripts.constFind(path);
    if (script == m_scripts.constEnd())
        return false;
    (*script)(socket);
    return true;
}

void ScriptedServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    write(socket, 404, "Content-Type: application/json\r\n", R"({"error":"No such page."})");
}

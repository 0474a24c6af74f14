#include "ScriptedServer.h"

#include <QFile>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QMetaEnum>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    return QByteArray(QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method))).toUpper();
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

bool ScriptedServer::Request::hasHeader(const QByteArray &name) const
{
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto &pair) { return pair.first.compare(name, Qt::CaseInsensitive) == 0; });
}

ScriptedServer::ScriptedServer(QObject *parent)
    : QAbstractHttpServer(parent)
    , m_port(listen(QHostAddress::LocalHost))
{
}

ScriptedServer::ScriptedServer(const Tls &tls, QObject *parent)
    : QAbstractHttpServer(parent)
    , m_tls(true)
{
    // The listening socket takes its TLS setting when it is made.
    if (setUpTls(tls))
        m_port = listen(QHostAddress::LocalHost);
}

bool ScriptedServer::setUpTls(const Tls &tls)
{
    QFile certificateFile(tls.certificatePath);
    QFile keyFile(tls.keyPath);
    if (!certificateFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return false;
    const QSslCertificate certificate(&certificateFile, QSsl::Pem);
    const QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
    if (certificate.isNull() || key.isNull())
        return false;
    sslSetup(certificate, key);
    return true;
}

quint16 ScriptedServer::port() const
{
    return m_port;
}

QUrl ScriptedServer::url(const QString &path) const
{
    const QString scheme = m_tls ? QStringLiteral("https") : QStringLiteral("http");
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(m_port).arg(path));
}

void ScriptedServer::answer(const QString &path, int status, const QByteArray &body, const QByteArray &contentType)
{
    Headers headers;
    if (!contentType.isEmpty())
        headers.append({QByteArrayLiteral("Content-Type"), contentType});
    answer(path, status, body, headers);
}

void ScriptedServer::answer(const QString &path, int status, const QByteArray &body, const Headers &headers)
{
    m_scripts.insert(path, Script{Kind::answer, status, headers, body, 0, true});
}

void ScriptedServer::redirect(const QString &path, const QUrl &target, int status)
{
    const Headers headers{{QByteArrayLiteral("Location"), target.toEncoded()}};
    m_scripts.insert(path, Script{Kind::answer, status, headers, {}, 0, true});
}

void ScriptedServer::hang(const QString &path)
{
    Script script;
    script.kind = Kind::hang;
    m_scripts.insert(path, script);
}

void ScriptedServer::stream(const QString &path, qint64 size, bool announceLength)
{
    Script script;
    script.kind = Kind::stream;
    script.size = size;
    script.announceLength = announceLength;
    m_scripts.insert(path, script);
}

QList<ScriptedServer::Request> ScriptedServer::requests() const
{
    return m_requests;
}

QList<ScriptedServer::Request> ScriptedServer::requests(const QString &path) const
{
    QList<Request> matching;
    std::copy_if(m_requests.begin(), m_requests.end(), std::back_inserter(matching),
                 [&](const Request &request) { return request.path == path; });
    return matching;
}

bool ScriptedServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QString path = request.url().path();
    m_requests.append(Request{methodName(request.method()), path, request.headers(), request.body()});
    const auto script = m_scripts.constFind(path);
    if (script == m_scripts.constEnd())
        return false;
    switch (script->kind) {
    case Kind::answer:
        write(socket, script->status, script->headers, script->body);
        break;
    case Kind::hang:
        break;
    case Kind::stream:
        writeStream(socket, script->size, script->announceLength);
        break;
    }
    return true;
}

void ScriptedServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    write(socket, 404, {{QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")}},
          QByteArrayLiteral(R"({"error":"No such page."})"));
}

void ScriptedServer::write(QTcpSocket *socket, int status, const Headers &headers, const QByteArray &body)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\n";
    for (const auto &[key, value] : headers)
        head += key + ": " + value + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    socket->write(head + body);
}

void ScriptedServer::writeStream(QTcpSocket *socket, qint64 size, bool announceLength)
{
    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
    head += announceLength ? "Content-Length: " + QByteArray::number(size) + "\r\n\r\n"
                           : QByteArray("Connection: close\r\n\r\n");
    socket->write(head);
    constexpr qint64 chunk = 64 * 1024;
    for (qint64 written = 0; written < size; written += chunk)
        socket->write(QByteArray(int(std::min(chunk, size - written)), ' '));
    if (!announceLength)
        socket->disconnectFromHost();
}

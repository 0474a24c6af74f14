#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QUrl>

class QTcpSocket;

// An HTTP server on loopback whose answers a test scripts per path: answer with a status, headers and
// body; redirect; never answer; or send more than a client should accept. Every request is recorded.
// Paths without a script get 404.
class ScriptedServer : public QAbstractHttpServer
{
public:
    using Headers = QList<std::pair<QByteArray, QByteArray>>;

    struct Request
    {
        QByteArray method;
        QString path;
        Headers headers;
        QByteArray body;

        // The value of the first header of that name (case-insensitive), or a null array.
        QByteArray header(const QByteArray &name) const;
        bool hasHeader(const QByteArray &name) const;
    };

    // PEM files of the certificate and key an HTTPS server presents.
    struct Tls
    {
        QString certificatePath;
        QString keyPath;
    };

    explicit ScriptedServer(QObject *parent = nullptr);
    explicit ScriptedServer(const Tls &tls, QObject *parent = nullptr);

    // 0 when the server could not start.
    quint16 port() const;
    // The server's address with `path`.
    QUrl url(const QString &path = QStringLiteral("/")) const;

    void answer(const QString &path, int status, const QByteArray &body,
                const QByteArray &contentType = QByteArrayLiteral("application/json"));
    void answer(const QString &path, int status, const QByteArray &body, const Headers &headers);
    void redirect(const QString &path, const QUrl &target, int status = 302);
    void hang(const QString &path);
    // A body of `size` bytes, announced by Content-Length or, without it, ended by closing the connection.
    void stream(const QString &path, qint64 size, bool announceLength);

    QList<Request> requests() const;
    QList<Request> requests(const QString &path) const;

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    enum class Kind { answer, hang, stream };
    struct Script
    {
        Kind kind = Kind::answer;
        int status = 200;
        Headers headers;
        QByteArray body;
        qint64 size = 0;
        bool announceLength = true;
    };

    bool setUpTls(const Tls &tls);
    static void write(QTcpSocket *socket, int status, const Headers &headers, const QByteArray &body);
    static void writeStream(QTcpSocket *socket, qint64 size, bool announceLength);

    quint16 m_port = 0;
    bool m_tls = false;
    QHash<QString, Script> m_scripts;
    QList<Request> m_requests;
};

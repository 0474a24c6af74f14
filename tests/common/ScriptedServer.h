#pragma once

#include <QAbstractHttpServer>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QUrl>

#include <functional>

class QTcpSocket;

// A loopback HTTP(S) server whose answers a test scripts per path: answer, redirect, never answer, or send
// more than a client should accept. Every request is recorded; paths without a script get 404.
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

        // The first header of that name (case-insensitive); a null array when there is none.
        QByteArray header(const QByteArray &name) const;
    };

    // With a certificate and RSA key (PEM files), an HTTPS server presenting them.
    explicit ScriptedServer(const QString &certificatePath = {}, const QString &keyPath = {});

    // 0 when the server could not start.
    quint16 port() const { return m_port; }
    QUrl url(const QString &path = QStringLiteral("/")) const;

    void answer(const QString &path, int status, const QByteArray &body,
                const QByteArray &contentType = QByteArrayLiteral("application/json"));
    void redirect(const QString &path, const QUrl &target);
    void hang(const QString &path);
    // The next request to `path` waits until releaseHeld(), then gets the path's script as it is then.
    void holdNext(const QString &path);
    void releaseHeld();
    // A body of `size` bytes, announced by Content-Length or, without it, ended by closing the connection.
    void stream(const QString &path, qint64 size, bool announceLength);

    QList<Request> requests() const { return m_requests; }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    quint16 m_port = 0;
    bool m_tls = false;
    QHash<QString, std::function<void(QTcpSocket *)>> m_scripts;
    QList<Request> m_requests;
    QSet<QString> m_holdNext;
    QList<std::pair<QString, QPointer<QTcpSocket>>> m_held;
};

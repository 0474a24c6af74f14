#pragma once

#include <QLocalServer>
#include <QObject>

// Keeps the setup application to one instance per user session. The first instance listens on a local
// socket under $XDG_RUNTIME_DIR; a later start hands its message (a tarnwick: URL, or nothing to only
// bring the window forward) to it and exits.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString &socketPath, QObject *parent = nullptr);

    // The socket of this user's session.
    static QString defaultSocketPath();

    // Delivers the message to a running instance; false when none answers.
    bool forward(const QString &message) const;
    // Becomes the running instance. Replaces a socket left behind by one that crashed.
    bool listen();

Q_SIGNALS:
    void messageReceived(const QString &message);

private:
    void readConnection();

    QString m_socketPath;
    QLocalServer m_server;
};

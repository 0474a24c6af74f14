#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

// The real tarnwick-local-service, started on a free loopback port for one test and stopped with it
// (terminated, killed when it does not end). What it writes on standard error goes to the test's.
class LocalServiceProcess
{
public:
    ~LocalServiceProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Starts the program and waits for the line that gives its address; false when it never comes.
    bool start()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(LOCAL_SERVICE_PATH), {QStringLiteral("--port"), QStringLiteral("0")});
        const QDeadlineTimer deadline(20000);
        while (!m_process.canReadLine()) {
            if (deadline.hasExpired() || !m_process.waitForReadyRead(int(deadline.remainingTime())))
                return false;
        }
        static const QRegularExpression address(QStringLiteral("http://127\\.0\\.0\\.1:\\d+/"));
        m_baseUrl = QUrl(address.match(QString::fromUtf8(m_process.readLine())).captured());
        return !m_baseUrl.isEmpty();
    }
    // http://127.0.0.1:<port>/
    QUrl baseUrl() const { return m_baseUrl; }

private:
    QProcess m_process;
    QUrl m_baseUrl;
};

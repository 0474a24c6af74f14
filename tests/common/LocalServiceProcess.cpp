#include "LocalServiceProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

LocalServiceProcess::~LocalServiceProcess()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool LocalServiceProcess::start()
{
    m_process.start(QStringLiteral(LOCAL_SERVICE_PATH),
                    QStringList{QStringLiteral("--port"), QStringLiteral("0")} + m_arguments);
    const QDeadlineTimer deadline(20000);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || !m_process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    static const QRegularExpression address(QStringLiteral("http://127\\.0\\.0\\.1:\\d+/"));
    const auto match = address.match(QString::fromUtf8(m_process.readLine()));
    m_baseUrl = QUrl(match.captured());
    return match.hasMatch();
}

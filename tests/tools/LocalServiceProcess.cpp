#include "LocalServiceProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace
{
constexpr int startTimeoutMs = 20000;
constexpr int stopTimeoutMs = 5000;
}

LocalServiceProcess::LocalServiceProcess(const QStringList &arguments)
    : m_arguments(arguments)
{
}

LocalServiceProcess::~LocalServiceProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(stopTimeoutMs))
        m_process.kill();
    m_process.waitForFinished(stopTimeoutMs);
}

bool LocalServiceProcess::start()
{
    m_process.start(programPath(), QStringList{u"--port"_s, u"0"_s} + m_arguments);
    const QDeadlineTimer deadline(startTimeoutMs);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || !m_process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    static const QRegularExpression address(u"http://127\\.0\\.0\\.1:\\d+/"_s);
    const auto match = address.match(QString::fromUtf8(m_process.readLine()));
    m_baseUrl = QUrl(match.captured());
    return match.hasMatch();
}

QUrl LocalServiceProcess::baseUrl() const
{
    return m_baseUrl;
}

QByteArray LocalServiceProcess::errors()
{
    return m_process.readAllStandardError();
}

QString LocalServiceProcess::programPath()
{
    return QStringLiteral(LOCAL_SERVICE_PATH);
}

#include "CredentialReaderProcess.h"

#include "ChildProcess.h"
#include "credentials/CredentialAnswer.h"

#include <QCoroProcess>
#include <QDeadlineTimer>
#include <QProcess>

namespace {

Error readerError(CredentialReaderProcess::Failure failure, const QString &description)
{
    return Error{CredentialReaderProcess::errorDomain(), int(failure), description};
}

// A child that is given up on is killed and reaped at once; it holds nothing that needs an orderly end.
void stop(QProcess &process)
{
    process.kill();
    process.waitForFinished(-1);
}

} // namespace

QString CredentialReaderProcess::errorDomain()
{
    return QStringLiteral("CredentialReader");
}

CredentialReaderProcess::CredentialReaderProcess(QString program, std::chrono::milliseconds timeLimit)
    : m_program(std::move(program))
    , m_timeLimit(timeLimit)
{
}

CredentialReading::Answer CredentialReaderProcess::read() const
{
    const QDeadlineTimer deadline(m_timeLimit);
    Result<std::unique_ptr<QProcess>> process = start(deadline);
    if (!process)
        return failure(process.error());
    const bool finished = (*process)->waitForFinished(int(deadline.remainingTime()));
    return answerOf(**process, finished);
}

QCoro::Task<CredentialReading::Answer> CredentialReaderProcess::readAsync() const
{
    const QDeadlineTimer deadline(m_timeLimit);
    Result<std::unique_ptr<QProcess>> started = start(deadline);
    if (!started)
        co_return failure(started.error());
    // Freed from the event loop: this coroutine resumes inside the process's own `finished` signal.
    const std::shared_ptr<QProcess> process(started->release(), [](QProcess *ended) { ended->deleteLater(); });
    // Named: GCC 12 destroys a temporary of a co_await expression twice.
    auto waiting = qCoro(*process);
    const bool finished = process->state() == QProcess::NotRunning
                          || co_await waiting.waitForFinished(std::chrono::milliseconds(deadline.remainingTime()));
    co_return answerOf(*process, finished);
}

// Waiting for the start is short: the child exists once start() returns, and the wait only learns whether
// it could run the program.
Result<std::unique_ptr<QProcess>> CredentialReaderProcess::start(const QDeadlineTimer &deadline) const
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(m_program);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ChildProcess::endWithHelper(*process);
    process->start(QIODevice::ReadOnly);
    if (!process->waitForStarted(int(deadline.remainingTime())))
        return failure(
            readerError(Failure::notStarted, QStringLiteral("The credential reader %1 could not be started: %2")
                                                 .arg(m_program, process->errorString())));
    return process;
}

// The child's output is never quoted in an error: it may hold the credential.
CredentialReading::Answer CredentialReaderProcess::answerOf(QProcess &process, bool finished) const
{
    if (!finished) {
        stop(process);
        return failure(readerError(Failure::timedOut,
                                   QStringLiteral("The credential reader did not answer within %1 s and was stopped.")
                                       .arg(double(m_timeLimit.count()) / 1000)));
    }
    if (process.exitStatus() == QProcess::CrashExit)
        return failure(
            readerError(Failure::endedWithoutAnswer,
                        QStringLiteral("The credential reader was killed by signal %1.").arg(process.exitCode())));
    if (const std::optional<Answer> answer =
            CredentialAnswer::decode(process.readAllStandardOutput(), process.exitCode()))
        return *answer;
    return failure(
        readerError(Failure::unreadableAnswer,
                    QStringLiteral("The credential reader ended with exit code %1 without a readable answer.")
                        .arg(process.exitCode())));
}

#include "CredentialReaderProcess.h"

#include "ChildProcess.h"
#include "credentials/CredentialStoring.h"
#include "credentials/CredentialsLog.h"

#include <QCoroProcess>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <unistd.h>

namespace {

// The child's exit statuses besides the helper's own (2 for a wrong command line).
enum ChildExit { answered = 0, notRead = 1, notHandedOver = 3 };

const QString credentialKey = QStringLiteral("credential");
const QString errorKey = QStringLiteral("error");
const QString domainKey = QStringLiteral("domain");
const QString codeKey = QStringLiteral("code");
const QString descriptionKey = QStringLiteral("description");

Error readerError(CredentialReaderProcess::Failure failure, const QString &description)
{
    return Error{CredentialReaderProcess::errorDomain(), int(failure), description};
}

// The child's answer: {"credential": "…" or null} after `answered`, {"error": {"domain", "code",
// "description"}} after `notRead`; nullopt for anything else.
std::optional<CredentialReading::Answer> decode(const QByteArray &bytes, int exitCode)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    const QJsonObject answer = document.object();
    if (exitCode == answered) {
        const QJsonValue credential = answer.value(credentialKey);
        if (credential.isString())
            return credential.toString();
        if (credential.isNull())
            return std::optional<QString>();
    } else if (exitCode == notRead) {
        const QJsonObject error = answer.value(errorKey).toObject();
        const QJsonValue domain = error.value(domainKey);
        const QJsonValue code = error.value(codeKey);
        const QJsonValue description = error.value(descriptionKey);
        if (domain.isString() && code.isDouble() && description.isString())
            return failure(Error{domain.toString(), code.toInt(), description.toString()});
    }
    return std::nullopt;
}

QByteArray encode(const CredentialReading::Answer &answer)
{
    QJsonObject encoded;
    if (answer) {
        encoded.insert(credentialKey, *answer ? QJsonValue(**answer) : QJsonValue());
    } else {
        const Error &error = answer.error();
        encoded.insert(
            errorKey,
            QJsonObject{{domainKey, error.domain}, {codeKey, error.code}, {descriptionKey, error.description}});
    }
    return QJsonDocument(encoded).toJson(QJsonDocument::Compact);
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

QString CredentialReaderProcess::optionName()
{
    return QStringLiteral("read-credential");
}

CredentialReaderProcess::CredentialReaderProcess(QString program, QStringList arguments,
                                                 std::chrono::milliseconds timeLimit)
    : m_program(std::move(program))
    , m_arguments(std::move(arguments))
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
    process->setArguments(m_arguments);
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
    if (const std::optional<Answer> answer = decode(process.readAllStandardOutput(), process.exitCode()))
        return *answer;
    return failure(
        readerError(Failure::unreadableAnswer,
                    QStringLiteral("The credential reader ended with exit code %1 without a readable answer.")
                        .arg(process.exitCode())));
}

int CredentialReaderProcess::serve(const CredentialStoring &store)
{
    // Libraries may print to standard output (GLib's debug messages go there): the pipe gets the answer
    // alone, and everything else goes to standard error.
    QFile answerChannel;
    if (!answerChannel.open(::dup(STDOUT_FILENO), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)
        || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        qCWarning(lcCredentials).noquote()
            << "The credential reader's output could not be set up:" << answerChannel.errorString();
        return notHandedOver;
    }
    const Answer answer = store.read();
    const QByteArray encoded = encode(answer);
    if (answerChannel.write(encoded) != encoded.size() || !answerChannel.flush()) {
        qCWarning(lcCredentials).noquote()
            << "The credential could not be handed to the helper:" << answerChannel.errorString();
        return notHandedOver;
    }
    return answer ? answered : notRead;
}

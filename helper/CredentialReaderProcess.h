#pragma once

#include "credentials/CredentialReading.h"

#include <QString>

#include <chrono>
#include <memory>

class QDeadlineTimer;
class QProcess;

// The device credential read by a short-lived child, TarnwickCredentialReader, so that the helper, which
// runs for the whole session, never loads the Secret Service's client stack (libsecret with GIO, GObject,
// libgcrypt and GLib's threads) nor keeps it between the moments it needs the credential.
//
// The credential travels only through the child's standard output, a pipe to this process alone: never
// through arguments, the environment, a log or an error. The child's standard error is the helper's, so
// its own warnings reach the journal. A child that has not answered within the time limit is killed. The
// child's failures to read arrive as they were (a KeychainError keeps its status number); a child that
// cannot be started, ends without an answer or answers something unreadable is an error of `errorDomain()`.
class CredentialReaderProcess final : public CredentialReading
{
public:
    enum class Failure { notStarted = 1, timedOut, endedWithoutAnswer, unreadableAnswer };

    static QString errorDomain();

    CredentialReaderProcess(QString program, std::chrono::milliseconds timeLimit);

    Answer read() const override;
    QCoro::Task<Answer> readAsync() const override;

private:
    Result<std::unique_ptr<QProcess>> start(const QDeadlineTimer &deadline) const;
    Answer answerOf(QProcess &process, bool finished) const;

    QString m_program;
    std::chrono::milliseconds m_timeLimit;
};

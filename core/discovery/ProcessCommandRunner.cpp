#include "ProcessCommandRunner.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <csignal>
#include <unistd.h>

namespace {

// execve takes a name without a slash relative to the working directory; QProcess would search PATH for
// it instead, and the runner never searches.
QString withoutSearch(const QString &executable)
{
    if (executable.isEmpty() || executable.contains(u'/'))
        return executable;
    return QStringLiteral("./") + executable;
}

// As a shell reports it: 128 plus the signal number.
int exitCodeForSignal(int signalNumber)
{
    return 128 + signalNumber;
}

QDeadlineTimer deadlineFor(std::optional<std::chrono::milliseconds> timeLimit)
{
    if (!timeLimit)
        return QDeadlineTimer(QDeadlineTimer::Forever);
    return QDeadlineTimer(*timeLimit, Qt::PreciseTimer);
}

// The child leads its own session and process group; a kill of the group reaches everything it started
// that stayed in it.
void stopWithEverythingItStarted(QProcess &process)
{
    const qint64 pid = process.processId();
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
    process.kill();
    process.waitForFinished(-1);
}

QString timedOutText(const QString &executable, std::chrono::milliseconds timeLimit)
{
    const QString duration = timeLimit == std::chrono::seconds(1)
                                 ? QStringLiteral("1 second")
                                 : QStringLiteral("%1 seconds").arg(QString::number(timeLimit.count() / 1000.0));
    return QStringLiteral("%1 did not finish within %2 and was stopped.").arg(executable, duration);
}

// Length of the well-formed UTF-8 sequence at the start of `bytes`, or, when it is ill-formed, the
// negated length of its maximal subpart (at least one byte), which becomes one replacement character as
// the Unicode standard recommends. QString::fromUtf8 would replace every byte of it.
qsizetype wellFormedPrefix(QByteArrayView bytes)
{
    const auto lead = static_cast<unsigned char>(bytes.front());
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return -1;
    }
    for (qsizetype i = 1; i < length; ++i) {
        const auto next = i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
        if (next < low || next > high)
            return -i;
        low = 0x80;
        high = 0xBF;
    }
    return length;
}

QString decodeUtf8(QByteArrayView bytes)
{
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    QString text;
    qsizetype runStart = 0;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const qsizetype length = wellFormedPrefix(bytes.sliced(i));
        if (length > 0) {
            i += length;
            continue;
        }
        text += QString::fromUtf8(bytes.sliced(runStart, i - runStart));
        text += QChar::ReplacementCharacter;
        i -= length;
        runStart = i;
    }
    return text + QString::fromUtf8(bytes.sliced(runStart));
}

} // namespace

ProcessCommandRunner::ProcessCommandRunner(std::optional<std::chrono::milliseconds> timeLimit)
    : m_timeLimit(timeLimit)
{
}

CommandResult ProcessCommandRunner::run(const QString &executable, const QStringList &arguments) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setChildProcessModifier([] { ::setsid(); });

    const QDeadlineTimer deadline = deadlineFor(m_timeLimit);
    process.start(withoutSearch(executable), arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        return CommandResult{-1, process.errorString()};

    // Waiting for the end keeps reading the pipe, so a child that prints a lot never stalls on it.
    if (!process.waitForFinished(static_cast<int>(deadline.remainingTime()))
        && process.state() != QProcess::NotRunning) {
        const QString reason = deadline.hasExpired() ? timedOutText(executable, *m_timeLimit) : process.errorString();
        stopWithEverythingItStarted(process);
        return CommandResult{-1, reason};
    }

    const QString output = decodeUtf8(process.readAll());
    if (process.exitStatus() == QProcess::CrashExit)
        return CommandResult{exitCodeForSignal(process.exitCode()), output};
    return CommandResult{process.exitCode(), output};
}

// TarnwickCredentialReader: reads the device credential from the Secret Service for the helper, which
// starts it beside itself (CredentialReaderProcess) whenever it needs the credential, so that the helper
// never loads libsecret and the GLib stack under it. Never asks to unlock: the helper runs unattended and
// retries. The answer goes to standard output (CredentialAnswer), which is a pipe to the helper alone.
#include "credentials/CredentialAnswer.h"
#include "credentials/CredentialsLog.h"
#include "credentials/SystemCredentialStore.h"
#include "logging/LogOutput.h"

#include <QFile>

#include <cstdio>

#include <unistd.h>

namespace {

// Besides CredentialAnswer's statuses.
constexpr int usage = 2;
constexpr int notHandedOver = 3;

}

int main(int argc, char **)
{
    if (argc != 1) {
        std::fputs("TarnwickCredentialReader takes no arguments: Tarnwick's helper starts it.\n", stderr);
        return usage;
    }
    LogOutput::install(false);
    // Libraries may print to standard output (GLib's debug messages go there): the pipe gets the answer
    // alone, and everything else goes to standard error.
    QFile answerChannel;
    if (!answerChannel.open(::dup(STDOUT_FILENO), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)
        || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        qCWarning(lcCredentials).noquote()
            << "The answer's channel could not be set up:" << answerChannel.errorString();
        return notHandedOver;
    }
    const SystemCredentialStore store(SystemCredentialStore::sharedAccessGroup(),
                                      SystemCredentialStore::UnlockPrompt::never);
    const CredentialReading::Answer answer = store.read();
    const QByteArray encoded = CredentialAnswer::encode(answer);
    if (answerChannel.write(encoded) != encoded.size() || !answerChannel.flush()) {
        qCWarning(lcCredentials).noquote()
            << "The credential could not be handed to the helper:" << answerChannel.errorString();
        return notHandedOver;
    }
    return CredentialAnswer::exitStatus(answer);
}

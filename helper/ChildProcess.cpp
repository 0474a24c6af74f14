#include "ChildProcess.h"

#include <QProcess>

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Runs in the child between fork and exec, so only async-signal-safe calls. The death signal comes when
// the thread that started the child ends, which for the helper's children is never before the helper
// has stopped them.
void prepareChild(pid_t helperPid)
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != helperPid)
        ::_exit(127);
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &defaultAction, nullptr);
    sigset_t nothing;
    sigemptyset(&nothing);
    ::sigprocmask(SIG_SETMASK, &nothing, nullptr);
}

}

void ChildProcess::endWithHelper(QProcess &process)
{
    process.setChildProcessModifier([helperPid = ::getpid()] { prepareChild(helperPid); });
}

#pragma once

class QProcess;

// What every process the helper starts shares.
namespace ChildProcess {

// The child gets SIGTERM should the helper end without stopping it, and starts with the signal state of
// a fresh program rather than the helper's (SIGPIPE blocked on the supervision thread). Call before start().
void endWithHelper(QProcess &process);

}

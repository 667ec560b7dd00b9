#pragma once
// Ends a program the test started as a service manager would: SIGTERM, then its exit.
#include <QProcess>

#include <csignal>
#include <sys/types.h>

namespace testsupport {

// The program's exit code after SIGTERM; -1 when it did not exit normally within 30 s.
inline int terminateProgram(QProcess &program)
{
    ::kill(pid_t(program.processId()), SIGTERM);
    if (!program.waitForFinished(30000) || program.exitStatus() != QProcess::NormalExit)
        return -1;
    return program.exitCode();
}

}  // namespace testsupport

#include "platform/HelperProcess.h"

#include "base/AppError.h"

#include <QDir>
#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

HelperProcess::HelperProcess() : m_folder(QDir::tempPath() + QStringLiteral("/vespertone-helper-XXXXXX")) {}

void HelperProcess::prepare(QProcess &process, const QProcessEnvironment &environment)
{
    // mkdtemp makes the folder ours alone: mode 0700 under a name nobody could guess.
    if (!m_folder.isValid())
        throw AppError(QStringLiteral("A private folder for the helper program could not be made: %1")
                           .arg(m_folder.errorString()));
    process.setWorkingDirectory(m_folder.path());
    process.setProcessEnvironment(environment);
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        // Runs in the child between fork and exec: async-signal-safe calls only.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The caller may have died before the request took effect.
        if (::getppid() != parent)
            ::_exit(127);
    });
}

QProcessEnvironment HelperProcess::encoderEnvironment()
{
    auto environment = QProcessEnvironment::systemEnvironment();
    // lame reads further options from LAMEOPT; its command line is ours alone.
    environment.remove(QStringLiteral("LAMEOPT"));
    return environment;
}

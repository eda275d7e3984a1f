#include "platform/DecodePool.h"

#include <QThread>
#include <QThreadPool>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace DecodePool {

QThreadPool &instance()
{
    // Its destructor waits for the tasks in flight, which their owners cancel first.
    static QThreadPool pool;
    static const bool configured = [] {
        pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        pool.setObjectName(QStringLiteral("com.vespertone.decode"));
        return true;
    }();
    (void)configured;
    return pool;
}

void lowerPriority()
{
    thread_local const bool lowered = [] {
        // On Linux a thread's nice value is its own.
        return ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), 10) == 0;
    }();
    (void)lowered;
}

} // namespace DecodePool

#include "capture/CaptureThreads.h"

#include <QThreadPool>

namespace {
struct Threads : QThreadPool {
    Threads()
    {
        setObjectName(QStringLiteral("capture jobs"));
        // A take may start while the last one is still being finished, and a window opens beside.
        setMaxThreadCount(4);
    }
};
} // namespace

QThreadPool &CaptureThreads::pool()
{
    static Threads threads;
    return threads;
}

#pragma once

#include "platform/PulseHandles.h"

#include <QByteArray>

/// One client connection to the sound server, served by its own threaded main loop. Use the
/// context only with the loop locked (Pulse::MainloopLock).
class PulseConnection {
public:
    /// The server's defaults; a name is empty when there is no such device.
    struct ServerInfo {
        QByteArray defaultSinkName;
        QByteArray defaultSourceName;
    };

    /// Connects to \a server (empty: the desktop's server) as \a clientName. Throws
    /// SoundServerError (unreachable) when the server refuses or does not answer in time.
    PulseConnection(const QByteArray &server, const char *clientName);
    PulseConnection(const PulseConnection &) = delete;
    PulseConnection &operator=(const PulseConnection &) = delete;

    [[nodiscard]] pa_threaded_mainloop *loop() const { return m_loop.get(); }
    [[nodiscard]] pa_context *context() const { return m_context.get(); }

    /// Locked: sleeps until a callback calls signal().
    void wait() { pa_threaded_mainloop_wait(m_loop.get()); }
    /// From a callback on the loop's thread: wakes wait().
    void signal() { pa_threaded_mainloop_signal(m_loop.get(), 0); }
    /// A success callback for operations that wakes wait(); its data is the connection.
    static void signalSuccess(pa_context *, int, void *connection)
    {
        static_cast<PulseConnection *>(connection)->signal();
    }
    /// The same for stream operations.
    static void signalStreamSuccess(pa_stream *, int, void *connection)
    {
        static_cast<PulseConnection *>(connection)->signal();
    }
    /// Locked: waits until \a operation (owned from here on) is done, at most five seconds;
    /// false when it could not be started, the connection broke or the time ran out.
    bool complete(pa_operation *operation);
    /// Locked: the default sink and source. Throws SoundServerError (unreachable).
    [[nodiscard]] ServerInfo serverInfo();
    /// Locked: the name of the monitor source of the sink \a sinkName; empty when there is no
    /// such sink. Throws SoundServerError (unreachable).
    [[nodiscard]] QByteArray monitorOf(const QByteArray &sinkName);

    /// Stops the loop's thread; no callback runs afterwards. Call unlocked.
    void stop() { pa_threaded_mainloop_stop(m_loop.get()); }

private:
    void waitUntilReady();

    /// Stops the loop before the context is released, also when the constructor throws.
    struct LoopStopper {
        pa_threaded_mainloop *loop;
        ~LoopStopper()
        {
            if (loop)
                pa_threaded_mainloop_stop(loop);
        }
    };

    Pulse::ThreadedMainloop m_loop;
    Pulse::Context m_context;
    LoopStopper m_stopper{m_loop.get()};
    bool m_timedOut = false;
};

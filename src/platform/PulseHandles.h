#pragma once

// RAII owners for libpulse handles. Unref a context or stream only when its main loop is
// stopped or locked.

#include <pulse/pulseaudio.h>
#include <pulse/thread-mainloop.h>

#include <memory>

namespace Pulse {

struct ThreadedMainloopDeleter {
    void operator()(pa_threaded_mainloop *loop) const
    {
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }
};
struct ContextDeleter {
    void operator()(pa_context *context) const
    {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
struct StreamDeleter {
    void operator()(pa_stream *stream) const
    {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }
};
struct OperationDeleter {
    void operator()(pa_operation *operation) const { pa_operation_unref(operation); }
};
struct ProplistDeleter {
    void operator()(pa_proplist *list) const { pa_proplist_free(list); }
};

using ThreadedMainloop = std::unique_ptr<pa_threaded_mainloop, ThreadedMainloopDeleter>;
using Context = std::unique_ptr<pa_context, ContextDeleter>;
using Stream = std::unique_ptr<pa_stream, StreamDeleter>;
using Operation = std::unique_ptr<pa_operation, OperationDeleter>;
using Proplist = std::unique_ptr<pa_proplist, ProplistDeleter>;

/// Holds the main loop's lock for a scope.
class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop *loop) : m_loop(loop) { pa_threaded_mainloop_lock(m_loop); }
    ~MainloopLock() { pa_threaded_mainloop_unlock(m_loop); }
    MainloopLock(const MainloopLock &) = delete;
    MainloopLock &operator=(const MainloopLock &) = delete;

private:
    pa_threaded_mainloop *m_loop;
};

} // namespace Pulse

#include "platform/PulsePlaybackWatch.h"

#include "platform/PulseSoundServer.h"
#include "platform/SoundServerError.h"

#include <pulse/rtclock.h>

namespace {
/// Events come in bursts (a stream appears, then changes twice): one query answers them all.
constexpr pa_usec_t settleTime = 100000;

void release(pa_operation *operation)
{
    if (operation)
        pa_operation_unref(operation);
}
} // namespace

PulsePlaybackWatch::PulsePlaybackWatch(const QByteArray &server, SoundServer::WatchHandlers handlers)
    : m_handlers(std::move(handlers)), m_connection(server, "Vespertone")
{
    try {
        Pulse::MainloopLock lock(m_connection.loop());
        auto *context = m_connection.context();
        // The first query is due at once; events arriving meanwhile join it.
        m_timer = pa_context_rttime_new(context, pa_rtclock_now(), onTimer, this);
        if (!m_timer)
            throw SoundServerError(SoundServerError::Code::unreachable);
        m_scheduled = true;
        pa_context_set_state_callback(context, onContextState, this);
        pa_context_set_subscribe_callback(context, onEvent, this);
        const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SERVER);
        if (!m_connection.complete(pa_context_subscribe(context, mask, PulseConnection::signalSuccess, &m_connection)))
            throw SoundServerError(SoundServerError::Code::unreachable);
    } catch (...) {
        close();
        throw;
    }
}

PulsePlaybackWatch::~PulsePlaybackWatch()
{
    close();
}

void PulsePlaybackWatch::close()
{
    {
        Pulse::MainloopLock lock(m_connection.loop());
        m_closing = true;
        if (m_timer)
            pa_threaded_mainloop_get_api(m_connection.loop())->time_free(m_timer);
        m_timer = nullptr;
        pa_context_set_subscribe_callback(m_connection.context(), nullptr, nullptr);
        pa_context_set_state_callback(m_connection.context(), nullptr, nullptr);
    }
    m_connection.stop();
}

void PulsePlaybackWatch::onContextState(pa_context *context, void *self)
{
    auto *watch = static_cast<PulsePlaybackWatch *>(self);
    if (!watch->m_closing && !watch->m_failed && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        watch->m_failed = true;
        watch->m_handlers.failed();
    }
    watch->m_connection.signal();
}

void PulsePlaybackWatch::onEvent(pa_context *, pa_subscription_event_type_t, quint32, void *self)
{
    static_cast<PulsePlaybackWatch *>(self)->schedule();
}

void PulsePlaybackWatch::schedule()
{
    if (m_closing)
        return;
    if (m_querying) {
        m_again = true;
        return;
    }
    if (m_scheduled)
        return;
    m_scheduled = true;
    pa_context_rttime_restart(m_connection.context(), m_timer, pa_rtclock_now() + settleTime);
}

void PulsePlaybackWatch::onTimer(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *self)
{
    auto *watch = static_cast<PulsePlaybackWatch *>(self);
    watch->m_scheduled = false;
    if (watch->m_closing || watch->m_failed)
        return;
    watch->m_querying = true;
    watch->m_again = false;
    release(pa_context_get_server_info(watch->m_connection.context(), onServerInfo, self));
}

void PulsePlaybackWatch::onServerInfo(pa_context *context, const pa_server_info *info, void *self)
{
    auto *watch = static_cast<PulsePlaybackWatch *>(self);
    watch->m_defaultSink.reset();
    if (info && info->default_sink_name && *info->default_sink_name)
        release(pa_context_get_sink_info_by_name(context, info->default_sink_name, onDefaultSink, self));
    else
        onDefaultSink(context, nullptr, 1, self);
}

void PulsePlaybackWatch::onDefaultSink(pa_context *context, const pa_sink_info *info, int last, void *self)
{
    auto *watch = static_cast<PulsePlaybackWatch *>(self);
    if (!last && info) {
        watch->m_defaultSink = info->index;
        return;
    }
    watch->m_streams.clear();
    release(pa_context_get_sink_input_info_list(context, onStream, self));
}

void PulsePlaybackWatch::onStream(pa_context *, const pa_sink_input_info *info, int last, void *self)
{
    auto *watch = static_cast<PulsePlaybackWatch *>(self);
    if (!last && info) {
        watch->m_streams.push_back(PulseSoundServer::playbackStream(*info, watch->m_defaultSink));
        return;
    }
    watch->m_querying = false;
    if (!watch->m_closing && last > 0)
        watch->m_handlers.changed(std::move(watch->m_streams));
    watch->m_streams.clear();
    if (watch->m_again)
        watch->schedule();
}

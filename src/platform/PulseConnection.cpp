#include "platform/PulseConnection.h"

#include "platform/SoundServerError.h"

#include <pulse/rtclock.h>

namespace {
constexpr pa_usec_t connectTimeout = 5 * PA_USEC_PER_SEC;
constexpr pa_usec_t operationTimeout = 5 * PA_USEC_PER_SEC;

void signalLoop(pa_context *, void *connection)
{
    static_cast<PulseConnection *>(connection)->signal();
}
} // namespace

PulseConnection::PulseConnection(const QByteArray &server, const char *clientName) : m_loop(pa_threaded_mainloop_new())
{
    if (!m_loop)
        throw SoundServerError(SoundServerError::Code::unreachable);
    m_context.reset(pa_context_new(pa_threaded_mainloop_get_api(m_loop.get()), clientName));
    if (!m_context)
        throw SoundServerError(SoundServerError::Code::unreachable);
    pa_context_set_state_callback(m_context.get(), signalLoop, this);
    if (pa_threaded_mainloop_start(m_loop.get()) < 0)
        throw SoundServerError(SoundServerError::Code::unreachable);

    Pulse::MainloopLock lock(m_loop.get());
    if (pa_context_connect(m_context.get(), server.isEmpty() ? nullptr : server.constData(), PA_CONTEXT_NOAUTOSPAWN,
                           nullptr)
        < 0)
        throw SoundServerError(SoundServerError::Code::unreachable);
    waitUntilReady();
}

void PulseConnection::waitUntilReady()
{
    auto *timer = pa_context_rttime_new(
        m_context.get(), pa_rtclock_now() + connectTimeout,
        [](pa_mainloop_api *, pa_time_event *, const timeval *, void *self) {
            auto *connection = static_cast<PulseConnection *>(self);
            connection->m_timedOut = true;
            connection->signal();
        },
        this);
    auto *api = pa_threaded_mainloop_get_api(m_loop.get());
    pa_context_state_t state;
    while ((state = pa_context_get_state(m_context.get())) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(state)
           && !m_timedOut)
        wait();
    if (timer)
        api->time_free(timer);
    if (state != PA_CONTEXT_READY)
        throw SoundServerError(SoundServerError::Code::unreachable);
}

bool PulseConnection::complete(pa_operation *operation)
{
    const Pulse::Operation owned(operation);
    if (!owned)
        return false;
    struct Deadline {
        PulseConnection *connection;
        bool passed = false;
    } deadline{this};
    auto *timer = pa_context_rttime_new(
        m_context.get(), pa_rtclock_now() + operationTimeout,
        [](pa_mainloop_api *, pa_time_event *, const timeval *, void *data) {
            auto *deadline = static_cast<Deadline *>(data);
            deadline->passed = true;
            deadline->connection->signal();
        },
        &deadline);
    while (pa_operation_get_state(owned.get()) == PA_OPERATION_RUNNING
           && pa_context_get_state(m_context.get()) == PA_CONTEXT_READY && !deadline.passed)
        wait();
    if (timer)
        pa_threaded_mainloop_get_api(m_loop.get())->time_free(timer);
    if (pa_operation_get_state(owned.get()) == PA_OPERATION_RUNNING)
        pa_operation_cancel(owned.get());
    return pa_operation_get_state(owned.get()) == PA_OPERATION_DONE;
}

PulseConnection::ServerInfo PulseConnection::serverInfo()
{
    struct Query {
        PulseConnection *connection;
        ServerInfo info;
    } query{this, {}};
    const bool done = complete(pa_context_get_server_info(
        m_context.get(),
        [](pa_context *, const pa_server_info *info, void *data) {
            auto *query = static_cast<Query *>(data);
            if (info) {
                query->info.defaultSinkName = info->default_sink_name;
                query->info.defaultSourceName = info->default_source_name;
            }
            query->connection->signal();
        },
        &query));
    if (!done)
        throw SoundServerError(SoundServerError::Code::unreachable);
    return query.info;
}

QByteArray PulseConnection::monitorOf(const QByteArray &sinkName)
{
    struct Query {
        PulseConnection *connection;
        QByteArray monitor;
        bool answered = false;
    } query{this, {}};
    complete(pa_context_get_sink_info_by_name(
        m_context.get(), sinkName.constData(),
        [](pa_context *, const pa_sink_info *info, int last, void *data) {
            auto *query = static_cast<Query *>(data);
            if (!last && info && info->monitor_source_name)
                query->monitor = info->monitor_source_name;
            query->answered = query->answered || last != 0;
            query->connection->signal();
        },
        &query));
    if (!query.answered)
        throw SoundServerError(SoundServerError::Code::unreachable);
    return query.monitor;
}

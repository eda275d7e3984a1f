#pragma once

#include "platform/PulseConnection.h"
#include "platform/SoundServer.h"

/// Keeps watching the sound server's playback streams on a connection of its own and reports
/// them, a moment after each burst of changes.
class PulsePlaybackWatch final : public SoundServer::Watch {
public:
    /// Connects and subscribes; the first report follows shortly. Throws SoundServerError.
    PulsePlaybackWatch(const QByteArray &server, SoundServer::WatchHandlers handlers);
    ~PulsePlaybackWatch() override;

private:
    static void onEvent(pa_context *context, pa_subscription_event_type_t type, quint32 index, void *self);
    static void onContextState(pa_context *context, void *self);
    static void onTimer(pa_mainloop_api *api, pa_time_event *event, const struct timeval *time, void *self);
    static void onServerInfo(pa_context *context, const pa_server_info *info, void *self);
    static void onDefaultSink(pa_context *context, const pa_sink_info *info, int last, void *self);
    static void onStream(pa_context *context, const pa_sink_input_info *info, int last, void *self);
    /// Asks for the streams again soon, once per burst of events.
    void schedule();
    void close();

    SoundServer::WatchHandlers m_handlers;
    PulseConnection m_connection;
    pa_time_event *m_timer = nullptr;
    bool m_scheduled = false;
    bool m_querying = false;
    bool m_again = false; ///< something changed while a query ran
    bool m_closing = false;
    bool m_failed = false;
    std::optional<quint32> m_defaultSink;
    std::vector<PlaybackStream> m_streams;
};

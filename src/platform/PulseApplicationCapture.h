#pragma once

#include "platform/CaptureSource.h"
#include "platform/CaptureTarget.h"
#include "platform/PulseConnection.h"
#include "platform/WallClockMix.h"

#include <map>
#include <memory>

/// The playback of one application alone: a monitor stream on each of its playback streams
/// (every one it opens meanwhile joins), mixed on the wall clock (WallClockMix), so the capture
/// has silence where the application plays nothing and lasts as long as it runs. What the user
/// hears is left as it is.
class PulseApplicationCapture final : public CaptureSource {
public:
    /// Buffers are handed on in pieces of about this many microseconds.
    static constexpr pa_usec_t fragmentTime = 50000;
    /// How far the mix lags behind the wall clock, so every stream's audio has arrived.
    static constexpr pa_usec_t mixDelay = 300000;

    /// Connects and starts listening for the application's streams. Throws SoundServerError.
    PulseApplicationCapture(const QByteArray &server, CaptureTarget target, int sampleRate, int channelCount,
                            Handlers handlers);
    ~PulseApplicationCapture() override;

    void flush() override;

private:
    struct Input;

    static void onEvent(pa_context *context, pa_subscription_event_type_t type, quint32 index, void *self);
    static void onContextState(pa_context *context, void *self);
    static void onSinkInput(pa_context *context, const pa_sink_input_info *info, int last, void *self);
    static void onRead(pa_stream *stream, size_t bytes, void *input);
    static void onStreamState(pa_stream *stream, void *input);
    static void onTick(pa_mainloop_api *api, pa_time_event *event, const struct timeval *time, void *self);

    /// Monitors the sink input \a info describes when it is the application's.
    void consider(const pa_sink_input_info &info);
    /// A record stream of the sink input \a sinkInput alone.
    void openInput(quint32 sinkInput);
    /// Stops monitoring \a sinkInput; what it delivered is still mixed.
    void forget(quint32 sinkInput);
    /// Hands the mix up to \a frame on, silence where nothing was added.
    void emitUpTo(std::int64_t frame);
    [[nodiscard]] std::int64_t frameAt(pa_usec_t time) const;
    void close();

    CaptureTarget m_target;
    Handlers m_handlers;
    pa_sample_spec m_spec{};
    qint64 m_ownProcess;
    PulseConnection m_connection;
    WallClockMix m_mix;
    pa_usec_t m_start = 0;
    bool m_running = false;
    bool m_closing = false;
    pa_time_event *m_tick = nullptr;
    std::map<quint32, std::unique_ptr<Input>> m_inputs; ///< by sink input
};

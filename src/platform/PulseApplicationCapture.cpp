#include "platform/PulseApplicationCapture.h"

#include "platform/PulseSoundServer.h"
#include "platform/SoundServerError.h"

#include <pulse/rtclock.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

/// One playback stream of the application and the record stream that monitors it.
struct PulseApplicationCapture::Input {
    PulseApplicationCapture *capture;
    quint32 sinkInput;
    Pulse::Stream stream;
    bool ended = false;
};

PulseApplicationCapture::PulseApplicationCapture(const QByteArray &server, CaptureTarget target, int sampleRate,
                                                 int channelCount, Handlers handlers)
    : m_target(std::move(target)), m_handlers(std::move(handlers)), m_ownProcess(QCoreApplication::applicationPid()),
      m_connection(server, "Vespertone"),
      m_mix(channelCount, sampleRate, std::int64_t(mixDelay) * std::max(0, sampleRate) / std::int64_t(PA_USEC_PER_SEC))
{
    m_spec = {PA_SAMPLE_S16LE, uint32_t(sampleRate), uint8_t(channelCount)};
    if (!pa_sample_spec_valid(&m_spec))
        throw SoundServerError(SoundServerError::Code::streamFailed);
    try {
        Pulse::MainloopLock lock(m_connection.loop());
        auto *context = m_connection.context();
        pa_context_set_state_callback(context, onContextState, this);
        pa_context_set_subscribe_callback(context, onEvent, this);
        if (!m_connection.complete(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SINK_INPUT,
                                                        PulseConnection::signalSuccess, &m_connection))
            || !m_connection.complete(pa_context_get_sink_input_info_list(context, onSinkInput, this)))
            throw SoundServerError(SoundServerError::Code::unreachable);
        m_start = pa_rtclock_now();
        m_running = true;
        m_tick = pa_context_rttime_new(context, m_start + fragmentTime, onTick, this);
        if (!m_tick)
            throw SoundServerError(SoundServerError::Code::unreachable);
    } catch (...) {
        close();
        throw;
    }
}

PulseApplicationCapture::~PulseApplicationCapture()
{
    close();
}

void PulseApplicationCapture::close()
{
    {
        Pulse::MainloopLock lock(m_connection.loop());
        m_closing = true;
        if (m_tick)
            pa_threaded_mainloop_get_api(m_connection.loop())->time_free(m_tick);
        m_tick = nullptr;
        m_inputs.clear();
        pa_context_set_subscribe_callback(m_connection.context(), nullptr, nullptr);
        pa_context_set_state_callback(m_connection.context(), nullptr, nullptr);
    }
    m_connection.stop();
}

void PulseApplicationCapture::flush()
{
    const auto asked = pa_rtclock_now();
    // Every stream's audio of this moment has arrived once the mix's delay has passed.
    std::this_thread::sleep_for(std::chrono::microseconds(mixDelay + 2 * fragmentTime));
    Pulse::MainloopLock lock(m_connection.loop());
    if (m_running)
        emitUpTo(frameAt(asked));
}

std::int64_t PulseApplicationCapture::frameAt(pa_usec_t time) const
{
    if (time <= m_start)
        return 0;
    return std::int64_t((time - m_start) * m_spec.rate / PA_USEC_PER_SEC);
}

void PulseApplicationCapture::onContextState(pa_context *context, void *self)
{
    auto *capture = static_cast<PulseApplicationCapture *>(self);
    const auto state = pa_context_get_state(context);
    if (capture->m_running && !capture->m_closing && !PA_CONTEXT_IS_GOOD(state)) {
        capture->m_running = false;
        capture->m_handlers.failed();
    }
    capture->m_connection.signal();
}

void PulseApplicationCapture::onEvent(pa_context *context, pa_subscription_event_type_t type, quint32 index, void *self)
{
    auto *capture = static_cast<PulseApplicationCapture *>(self);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT || capture->m_closing)
        return;
    if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
        capture->forget(index);
        return;
    }
    // A new stream, or one that changed (moved to another output, renamed): look at it again.
    if (auto *operation = pa_context_get_sink_input_info(context, index, onSinkInput, self))
        pa_operation_unref(operation);
}

void PulseApplicationCapture::onSinkInput(pa_context *, const pa_sink_input_info *info, int last, void *self)
{
    auto *capture = static_cast<PulseApplicationCapture *>(self);
    if (last || !info) {
        capture->m_connection.signal();
        return;
    }
    capture->consider(*info);
}

void PulseApplicationCapture::consider(const pa_sink_input_info &info)
{
    if (m_closing)
        return;
    const auto stream = PulseSoundServer::playbackStream(info, std::nullopt);
    if (!m_target.plays(stream) || stream.processId == m_ownProcess)
        return;
    if (const auto found = m_inputs.find(info.index); found != m_inputs.end()) {
        // A monitor ends when its stream moves to another output; it starts again there.
        if (!found->second->ended)
            return;
        forget(info.index);
    }
    openInput(info.index);
}

void PulseApplicationCapture::openInput(quint32 sinkInput)
{
    if (m_closing || m_inputs.contains(sinkInput))
        return;
    auto input = std::make_unique<Input>(Input{this, sinkInput, {}, false});
    pa_channel_map map;
    pa_channel_map_init_extend(&map, m_spec.channels, PA_CHANNEL_MAP_DEFAULT);
    input->stream.reset(pa_stream_new(m_connection.context(), "Recording", &m_spec, &map));
    if (!input->stream)
        return;
    pa_stream_set_state_callback(input->stream.get(), onStreamState, input.get());
    pa_stream_set_read_callback(input->stream.get(), onRead, input.get());
    pa_stream_set_monitor_stream(input->stream.get(), sinkInput);
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.fragsize = uint32_t(pa_usec_to_bytes(fragmentTime, &m_spec));
    attributes.tlength = attributes.prebuf = attributes.minreq = uint32_t(-1);
    // No device: the server takes the monitor of the stream's own output. PipeWire's pulse
    // server records a named device instead of the stream, which would be everything it plays.
    if (pa_stream_connect_record(input->stream.get(), nullptr, &attributes,
                                 pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE))
        >= 0)
        m_inputs.emplace(sinkInput, std::move(input));
}

void PulseApplicationCapture::onStreamState(pa_stream *stream, void *data)
{
    auto *input = static_cast<Input *>(data);
    const auto state = pa_stream_get_state(stream);
    if (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED)
        return;
    // The stream it monitors ended or moved; the stream itself is released outside its callback.
    input->ended = true;
    auto *capture = input->capture;
    if (auto *operation =
            pa_context_get_sink_input_info(capture->m_connection.context(), input->sinkInput, onSinkInput, capture))
        pa_operation_unref(operation);
}

void PulseApplicationCapture::onRead(pa_stream *stream, size_t, void *data)
{
    auto *input = static_cast<Input *>(data);
    auto *capture = input->capture;
    const auto channels = capture->m_spec.channels;
    const void *samples = nullptr;
    size_t bytes = 0;
    while (pa_stream_peek(stream, &samples, &bytes) == 0 && bytes > 0) {
        const auto frames = std::int64_t(bytes / sizeof(std::int16_t) / channels);
        if (capture->m_running && !input->ended && frames > 0)
            capture->m_mix.add(input->sinkInput, static_cast<const std::int16_t *>(samples), frames,
                               capture->frameAt(pa_rtclock_now()));
        pa_stream_drop(stream);
    }
}

void PulseApplicationCapture::forget(quint32 sinkInput)
{
    m_inputs.erase(sinkInput);
    m_mix.end(sinkInput);
}

void PulseApplicationCapture::onTick(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *self)
{
    auto *capture = static_cast<PulseApplicationCapture *>(self);
    const auto now = pa_rtclock_now();
    if (capture->m_running)
        capture->emitUpTo(capture->frameAt(now > mixDelay ? now - mixDelay : 0));
    std::vector<quint32> ended;
    for (const auto &[index, input] : capture->m_inputs)
        if (input->ended)
            ended.push_back(index);
    for (const auto index : ended)
        capture->forget(index);
    pa_context_rttime_restart(capture->m_connection.context(), capture->m_tick, now + fragmentTime);
}

void PulseApplicationCapture::emitUpTo(std::int64_t frame)
{
    if (frame <= m_mix.taken())
        return;
    auto buffer = std::make_shared<CaptureBuffer>();
    buffer->channelCount = int(m_spec.channels);
    buffer->samples = m_mix.take(frame);
    m_handlers.audio(std::move(buffer));
}

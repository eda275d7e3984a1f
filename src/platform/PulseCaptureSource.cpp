#include "platform/PulseCaptureSource.h"

#include "platform/SoundServerError.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
/// The longest a flush waits for audio still in transit from the server.
constexpr pa_usec_t maximumTailTime = 500000;
} // namespace

PulseCaptureSource::PulseCaptureSource(const QByteArray &server, const CaptureTarget &target, int sampleRate,
                                       int channelCount, Handlers handlers)
    : m_handlers(std::move(handlers)), m_channelCount(channelCount), m_connection(server, "Vespertone")
{
    m_spec = {PA_SAMPLE_S16LE, uint32_t(sampleRate), uint8_t(channelCount)};
    if (!pa_sample_spec_valid(&m_spec))
        throw SoundServerError(SoundServerError::Code::streamFailed);
    m_fragmentSamples = pa_usec_to_bytes(fragmentTime, &m_spec) / sizeof(std::int16_t);
    m_pending.reserve(m_fragmentSamples * 2);
    try {
        Pulse::MainloopLock lock(m_connection.loop());
        connectStream(deviceName(target));
    } catch (...) {
        close();
        throw;
    }
}

PulseCaptureSource::~PulseCaptureSource()
{
    close();
}

void PulseCaptureSource::close()
{
    {
        Pulse::MainloopLock lock(m_connection.loop());
        m_closing = true;
        m_stream.reset();
    }
    m_connection.stop();
}

void PulseCaptureSource::flush()
{
    // What the server captured before this moment is still on its way: let it arrive.
    std::this_thread::sleep_for(std::chrono::microseconds(tailTime()));
    Pulse::MainloopLock lock(m_connection.loop());
    deliverPending();
}

pa_usec_t PulseCaptureSource::tailTime()
{
    Pulse::MainloopLock lock(m_connection.loop());
    if (!m_running || !m_stream)
        return 0;
    m_connection.complete(
        pa_stream_update_timing_info(m_stream.get(), PulseConnection::signalStreamSuccess, &m_connection));
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(m_stream.get(), &latency, &negative) != 0 || negative)
        latency = 0;
    return std::min<pa_usec_t>(latency, maximumTailTime) + 2 * fragmentTime;
}

QByteArray PulseCaptureSource::deviceName(const CaptureTarget &target)
{
    if (target.kind == CaptureTarget::Kind::input) {
        if (!target.device.isEmpty())
            return target.device.toUtf8();
        if (m_connection.serverInfo().defaultSourceName.isEmpty())
            throw SoundServerError(SoundServerError::Code::noDefaultSource);
        return "@DEFAULT_SOURCE@";
    }
    // The monitor is looked up by its sink: some servers take "@DEFAULT_MONITOR@" for
    // another device's.
    const auto sink = target.device.isEmpty() ? m_connection.serverInfo().defaultSinkName : target.device.toUtf8();
    const auto monitor = sink.isEmpty() ? QByteArray() : m_connection.monitorOf(sink);
    if (monitor.isEmpty())
        throw SoundServerError(target.device.isEmpty() ? SoundServerError::Code::noDefaultSink
                                                       : SoundServerError::Code::streamFailed);
    return monitor;
}

void PulseCaptureSource::connectStream(const QByteArray &name)
{
    pa_channel_map map;
    pa_channel_map_init_extend(&map, m_spec.channels, PA_CHANNEL_MAP_DEFAULT);
    m_stream.reset(pa_stream_new(m_connection.context(), "Recording", &m_spec, &map));
    if (!m_stream)
        throw SoundServerError(SoundServerError::Code::streamFailed);
    pa_stream_set_state_callback(m_stream.get(), onStateChange, this);
    pa_stream_set_read_callback(m_stream.get(), onRead, this);

    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.fragsize = uint32_t(pa_usec_to_bytes(fragmentTime, &m_spec));
    attributes.tlength = attributes.prebuf = attributes.minreq = uint32_t(-1);
    // Timing is asked for only when a flush needs it: automatic updates would wake both ends
    // ten times a second for the whole capture.
    if (pa_stream_connect_record(m_stream.get(), name.constData(), &attributes, PA_STREAM_ADJUST_LATENCY) < 0)
        throw SoundServerError(SoundServerError::Code::streamFailed);

    pa_stream_state_t state;
    while ((state = pa_stream_get_state(m_stream.get())) == PA_STREAM_CREATING)
        m_connection.wait();
    if (state != PA_STREAM_READY)
        throw SoundServerError(pa_context_get_state(m_connection.context()) == PA_CONTEXT_READY
                                   ? SoundServerError::Code::streamFailed
                                   : SoundServerError::Code::unreachable);
    m_running = true;
}

void PulseCaptureSource::onStateChange(pa_stream *stream, void *self)
{
    auto *source = static_cast<PulseCaptureSource *>(self);
    const auto state = pa_stream_get_state(stream);
    if (source->m_running && !source->m_closing && (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)) {
        source->deliverPending();
        source->m_running = false;
        source->m_handlers.failed();
    }
    source->m_connection.signal();
}

void PulseCaptureSource::onRead(pa_stream *stream, size_t, void *self)
{
    auto *source = static_cast<PulseCaptureSource *>(self);
    const void *data = nullptr;
    size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        auto &samples = source->m_pending;
        const auto count = bytes / sizeof(std::int16_t);
        // A hole in the server's buffer arrives without data: it becomes silence.
        if (data)
            samples.insert(samples.end(), static_cast<const std::int16_t *>(data),
                           static_cast<const std::int16_t *>(data) + count);
        else
            samples.resize(samples.size() + count, 0);
        pa_stream_drop(stream);
        if (samples.size() >= source->m_fragmentSamples)
            source->deliverPending();
    }
}

void PulseCaptureSource::deliverPending()
{
    if (!m_running || m_pending.empty())
        return;
    auto buffer = std::make_shared<CaptureBuffer>();
    buffer->channelCount = m_channelCount;
    buffer->samples.swap(m_pending);
    // A kept window holds thousands of these: each takes only the room its samples need.
    buffer->samples.shrink_to_fit();
    m_pending.reserve(m_fragmentSamples * 2);
    m_handlers.audio(std::move(buffer));
}

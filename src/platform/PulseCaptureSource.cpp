#include "platform/PulseCaptureSource.h"

#include "platform/SoundServerError.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
/// Buffers are handed on in pieces of about 20 ms, however the server cuts them.
constexpr pa_usec_t fragmentTime = 20000;
/// The longest a stop waits for audio still in transit from the server.
constexpr pa_usec_t maximumTailTime = 500000;
} // namespace

PulseCaptureSource::PulseCaptureSource(const QByteArray &server, SoundServer::CaptureDevice device, int sampleRate,
                                       int channelCount, Handlers handlers)
    : m_handlers(std::move(handlers)), m_channelCount(channelCount), m_connection(server, "Vespertone")
{
    m_spec = {PA_SAMPLE_FLOAT32LE, uint32_t(sampleRate), uint8_t(channelCount)};
    if (!pa_sample_spec_valid(&m_spec))
        throw SoundServerError(SoundServerError::Code::streamFailed);
    m_fragmentFrames = std::int64_t(pa_usec_to_bytes(fragmentTime, &m_spec) / pa_frame_size(&m_spec));
    deliverPending();
    try {
        Pulse::MainloopLock lock(m_connection.loop());
        checkDefaultDevice(device);
        connectStream(device);
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
    // What the server captured before this moment is still on its way: let it arrive.
    std::this_thread::sleep_for(std::chrono::microseconds(tailTime()));
    {
        Pulse::MainloopLock lock(m_connection.loop());
        deliverPending();
        m_closing = true;
        m_stream.reset();
    }
    m_connection.stop();
}

pa_usec_t PulseCaptureSource::tailTime()
{
    Pulse::MainloopLock lock(m_connection.loop());
    if (!m_running || !m_stream)
        return 0;
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(m_stream.get(), &latency, &negative) != 0 || negative)
        latency = 0;
    return std::min<pa_usec_t>(latency, maximumTailTime) + 2 * fragmentTime;
}

void PulseCaptureSource::checkDefaultDevice(SoundServer::CaptureDevice device)
{
    const auto info = m_connection.serverInfo();
    if (device == SoundServer::CaptureDevice::defaultSinkMonitor && info.defaultSinkName.isEmpty())
        throw SoundServerError(SoundServerError::Code::noDefaultSink);
    if (device == SoundServer::CaptureDevice::defaultSource && info.defaultSourceName.isEmpty())
        throw SoundServerError(SoundServerError::Code::noDefaultSource);
}

void PulseCaptureSource::connectStream(SoundServer::CaptureDevice device)
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
    const char *name =
        device == SoundServer::CaptureDevice::defaultSinkMonitor ? "@DEFAULT_MONITOR@" : "@DEFAULT_SOURCE@";
    if (pa_stream_connect_record(
            m_stream.get(), name, &attributes,
            pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING))
        < 0)
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
        auto &samples = source->m_pending.samples;
        const auto count = bytes / sizeof(float);
        // A hole in the server's buffer arrives without data: it becomes silence.
        if (data)
            samples.insert(samples.end(), static_cast<const float *>(data), static_cast<const float *>(data) + count);
        else
            samples.resize(samples.size() + count, 0.0f);
        pa_stream_drop(stream);
        if (source->m_pending.frames() >= source->m_fragmentFrames)
            source->deliverPending();
    }
}

void PulseCaptureSource::deliverPending()
{
    if (m_running && !m_pending.samples.empty())
        m_handlers.audio(std::move(m_pending));
    m_pending = CaptureBuffer{{}, m_channelCount};
    m_pending.samples.reserve(std::size_t(m_fragmentFrames * m_channelCount * 2));
}

#include "platform/PulseAudioOutput.h"

#include "platform/SoundServerError.h"

namespace {
/// The stream keeps about this much audio queued: what a selection change may lag behind.
constexpr pa_usec_t targetLatency = 150000;
} // namespace

PulseAudioOutput::PulseAudioOutput(const QByteArray &server, int sampleRate, int channelCount)
    : m_connection(server, "Vespertone")
{
    m_spec = {PA_SAMPLE_FLOAT32LE, uint32_t(sampleRate), uint8_t(channelCount)};
    if (!pa_sample_spec_valid(&m_spec))
        throw SoundServerError(SoundServerError::Code::streamFailed);
    m_frameBytes = pa_frame_size(&m_spec);
    try {
        Pulse::MainloopLock lock(m_connection.loop());
        connectStream();
    } catch (...) {
        {
            Pulse::MainloopLock lock(m_connection.loop());
            m_stream.reset();
        }
        m_connection.stop();
        throw;
    }
}

void PulseAudioOutput::connectStream()
{
    if (m_connection.serverInfo().defaultSinkName.isEmpty())
        throw SoundServerError(SoundServerError::Code::noDefaultSink);
    pa_channel_map map;
    pa_channel_map_init_extend(&map, m_spec.channels, PA_CHANNEL_MAP_DEFAULT);
    m_stream.reset(pa_stream_new(m_connection.context(), "Playback", &m_spec, &map));
    if (!m_stream)
        throw SoundServerError(SoundServerError::Code::streamFailed);
    pa_stream_set_state_callback(m_stream.get(), onStateChange, this);
    pa_stream_set_write_callback(m_stream.get(), onWrite, this);

    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(pa_usec_to_bytes(targetLatency, &m_spec));
    attributes.prebuf = attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(-1);
    if (pa_stream_connect_playback(
            m_stream.get(), nullptr, &attributes,
            pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING),
            nullptr, nullptr)
        < 0)
        throw SoundServerError(SoundServerError::Code::streamFailed);
    pa_stream_state_t state;
    while ((state = pa_stream_get_state(m_stream.get())) == PA_STREAM_CREATING)
        m_connection.wait();
    if (state != PA_STREAM_READY)
        throw SoundServerError(pa_context_get_state(m_connection.context()) == PA_CONTEXT_READY
                                   ? SoundServerError::Code::streamFailed
                                   : SoundServerError::Code::unreachable);
    m_ready = true;
}

PulseAudioOutput::~PulseAudioOutput()
{
    {
        Pulse::MainloopLock lock(m_connection.loop());
        if (m_stream)
            pa_stream_set_write_callback(m_stream.get(), nullptr, nullptr);
        m_stream.reset();
    }
    m_connection.stop();
}

AudioOutput::Opener PulseAudioOutput::opener(QByteArray server)
{
    return [server](int sampleRate, int channelCount) -> std::unique_ptr<AudioOutput> {
        return std::make_unique<PulseAudioOutput>(server, sampleRate, channelCount);
    };
}

qint64 PulseAudioOutput::writableFrames()
{
    Pulse::MainloopLock lock(m_connection.loop());
    const auto bytes = pa_stream_writable_size(m_stream.get());
    return bytes == size_t(-1) ? 0 : qint64(bytes / m_frameBytes);
}

void PulseAudioOutput::write(const float *interleaved, qint64 frames)
{
    Pulse::MainloopLock lock(m_connection.loop());
    if (pa_stream_write(m_stream.get(), interleaved, std::size_t(frames) * m_frameBytes, nullptr, 0, PA_SEEK_RELATIVE)
        < 0)
        m_failed = true;
}

void PulseAudioOutput::flushOut()
{
    Pulse::MainloopLock lock(m_connection.loop());
    if (auto *operation = pa_stream_trigger(m_stream.get(), nullptr, nullptr))
        pa_operation_unref(operation);
}

qint64 PulseAudioOutput::heardFrame()
{
    Pulse::MainloopLock lock(m_connection.loop());
    pa_usec_t time = 0;
    if (pa_stream_get_time(m_stream.get(), &time) < 0)
        return 0;
    return qint64(pa_usec_to_bytes(time, &m_spec) / m_frameBytes);
}

void PulseAudioOutput::waitForRequest(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    m_requested.wait_for(lock, timeout, [this] { return m_pendingRequest || m_failed; });
    m_pendingRequest = false;
}

void PulseAudioOutput::wake()
{
    {
        const std::lock_guard lock(m_mutex);
        m_pendingRequest = true;
    }
    m_requested.notify_one();
}

void PulseAudioOutput::onWrite(pa_stream *, size_t, void *self)
{
    static_cast<PulseAudioOutput *>(self)->wake();
}

void PulseAudioOutput::onStateChange(pa_stream *stream, void *self)
{
    auto *output = static_cast<PulseAudioOutput *>(self);
    const auto state = pa_stream_get_state(stream);
    if (output->m_ready && (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)) {
        output->m_failed = true;
        output->wake();
    }
    output->m_connection.signal();
}

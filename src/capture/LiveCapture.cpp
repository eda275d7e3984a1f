#include "capture/LiveCapture.h"

#include "capture/CaptureWriterQueue.h"
#include "platform/SoundServer.h"

LiveCapture::LiveCapture(SoundServer &server, CaptureTarget target, int sampleRate, int channelCount,
                         std::int64_t windowFrames, std::function<void()> failed)
    : m_target(std::move(target)), m_sampleRate(sampleRate), m_failedHandler(std::move(failed))
{
    m_window.setCapacity(windowFrames);
    CaptureSource::Handlers handlers;
    handlers.audio = [this](SharedCaptureBuffer buffer) { deliver(std::move(buffer)); };
    handlers.failed = [this] { fail(); };
    m_source = server.openCapture(m_target, sampleRate, channelCount, std::move(handlers));
}

LiveCapture::~LiveCapture() = default;

void LiveCapture::setWindow(std::int64_t frames)
{
    const std::lock_guard lock(m_mutex);
    m_window.setCapacity(frames);
}

std::int64_t LiveCapture::heldFrames() const
{
    const std::lock_guard lock(m_mutex);
    return m_window.heldFrames();
}

void LiveCapture::attach(std::shared_ptr<CaptureWriterQueue> writer, std::int64_t preRollFrames)
{
    const std::lock_guard lock(m_mutex);
    if (preRollFrames > 0) {
        const auto kept = m_window.newest(preRollFrames);
        auto skip = kept.skippedFrames;
        for (const auto &buffer : kept.buffers) {
            if (skip > 0) {
                auto rest = std::make_shared<CaptureBuffer>();
                rest->channelCount = buffer->channelCount;
                rest->samples.assign(buffer->samples.begin() + skip * buffer->channelCount, buffer->samples.end());
                writer->push(std::move(rest));
                skip = 0;
                continue;
            }
            writer->push(buffer);
        }
    }
    if (m_failed)
        writer->markSourceFailed();
    m_writer = std::move(writer);
}

void LiveCapture::detach()
{
    m_source->flush();
    stopFeeding();
}

void LiveCapture::stopFeeding()
{
    const std::lock_guard lock(m_mutex);
    m_writer.reset();
}

RollingAudioWindow::Audio LiveCapture::keptAudio(std::int64_t frames)
{
    m_source->flush();
    const std::lock_guard lock(m_mutex);
    return m_window.newest(frames);
}

void LiveCapture::deliver(SharedCaptureBuffer buffer)
{
    const std::lock_guard lock(m_mutex);
    if (m_writer)
        m_writer->push(buffer);
    m_window.push(std::move(buffer));
}

void LiveCapture::fail()
{
    {
        const std::lock_guard lock(m_mutex);
        m_failed = true;
        if (m_writer)
            m_writer->markSourceFailed();
    }
    if (m_failedHandler)
        m_failedHandler();
}

#include "capture/RollingAudioWindow.h"

#include <algorithm>

void RollingAudioWindow::setCapacity(std::int64_t capacityFrames)
{
    m_capacity = std::max<std::int64_t>(0, capacityFrames);
    trim();
}

void RollingAudioWindow::push(SharedCaptureBuffer buffer)
{
    if (m_capacity == 0 || !buffer || buffer->frames() == 0)
        return;
    m_frames += buffer->frames();
    m_buffers.push_back(std::move(buffer));
    trim();
}

void RollingAudioWindow::trim()
{
    // The oldest buffer goes once the others hold the whole window without it.
    while (!m_buffers.empty() && m_frames - m_buffers.front()->frames() >= m_capacity) {
        m_frames -= m_buffers.front()->frames();
        m_buffers.pop_front();
    }
    if (m_capacity == 0)
        m_buffers.shrink_to_fit();
}

RollingAudioWindow::Audio RollingAudioWindow::newest(std::int64_t frames) const
{
    Audio audio;
    frames = std::clamp<std::int64_t>(frames, 0, m_frames);
    std::int64_t gathered = 0;
    auto first = m_buffers.end();
    while (gathered < frames && first != m_buffers.begin()) {
        --first;
        gathered += (*first)->frames();
    }
    audio.buffers.assign(first, m_buffers.end());
    audio.skippedFrames = gathered - frames;
    audio.frames = frames;
    return audio;
}

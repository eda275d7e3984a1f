#pragma once

#include "platform/CaptureBuffer.h"

#include <cstdint>
#include <deque>
#include <vector>

/// The last seconds a capture heard, held in memory as the very buffers it delivered. Not
/// thread-safe: its capture guards it.
class RollingAudioWindow {
public:
    /// Some frames of consecutive buffers: the first buffer's leading frames are skipped.
    struct Audio {
        std::vector<SharedCaptureBuffer> buffers;
        std::int64_t skippedFrames = 0;
        std::int64_t frames = 0;
    };

    /// Keeps at least \a capacityFrames frames once that many arrived; 0 keeps nothing.
    void setCapacity(std::int64_t capacityFrames);
    [[nodiscard]] std::int64_t capacity() const { return m_capacity; }
    /// Adds \a buffer as the newest and lets go of what falls out of the window.
    void push(SharedCaptureBuffer buffer);
    /// The frames held, at least the capacity once it filled and less than a buffer more.
    [[nodiscard]] std::int64_t heldFrames() const { return m_frames; }
    /// The newest \a frames frames, all that is held when fewer.
    [[nodiscard]] Audio newest(std::int64_t frames) const;

private:
    void trim();

    std::int64_t m_capacity = 0;
    std::int64_t m_frames = 0;
    std::deque<SharedCaptureBuffer> m_buffers;
};

#pragma once

#include <cstdint>
#include <memory>
#include <vector>

/// Interleaved 16-bit frames delivered by a capture source.
struct CaptureBuffer {
    std::vector<std::int16_t> samples; ///< frames × channelCount values
    int channelCount = 2;

    [[nodiscard]] std::int64_t frames() const
    {
        return channelCount > 0 ? std::int64_t(samples.size()) / channelCount : 0;
    }
};

/// A delivered buffer: never changed again, so the window and a take's writer share it.
using SharedCaptureBuffer = std::shared_ptr<const CaptureBuffer>;

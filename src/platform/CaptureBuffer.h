#pragma once

#include <cstdint>
#include <vector>

/// Interleaved float frames delivered by a capture source.
struct CaptureBuffer {
    std::vector<float> samples; ///< frames × channelCount values
    int channelCount = 2;

    [[nodiscard]] std::int64_t frames() const
    {
        return channelCount > 0 ? std::int64_t(samples.size()) / channelCount : 0;
    }
};

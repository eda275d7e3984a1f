#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

/// De-interleaved float frames: one vector per channel, each frameLength long.
struct AudioBuffer {
    std::vector<std::vector<float>> channels;
    std::size_t frameLength = 0;

    [[nodiscard]] int channelCount() const { return int(channels.size()); }
};

/// A sample as a level computation may take it: NaN is silence, ±infinity full scale.
[[nodiscard]] inline float finiteSample(float sample)
{
    if (std::isfinite(sample))
        return sample;
    return std::isnan(sample) ? 0.0f : std::copysign(1.0f, sample);
}

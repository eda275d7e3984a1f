#pragma once

#include <cstddef>
#include <vector>

/// De-interleaved float frames: one vector per channel, each frameLength long.
struct AudioBuffer {
    std::vector<std::vector<float>> channels;
    std::size_t frameLength = 0;

    [[nodiscard]] int channelCount() const { return int(channels.size()); }
};

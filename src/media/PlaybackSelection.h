#pragma once

#include <optional>

/// The part of a file that playback covers: from a start to an end, or to the file's end.
struct PlaybackSelection {
    double start = 0;          ///< seconds, never negative
    std::optional<double> end; ///< seconds, present only when after the start
    bool loop = false;         ///< jump back to the start at the end

    /// The start limited to 0 and up (an undefined start counts as 0); the end kept only when
    /// it is after that start.
    [[nodiscard]] static PlaybackSelection normalized(double start, std::optional<double> end, bool loop);

    bool operator==(const PlaybackSelection &) const = default;
};

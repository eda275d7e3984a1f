#pragma once

/// A trim selection of a recording in seconds.
struct TrimRange {
    double start = 0;
    double end = 0;

    bool operator==(const TrimRange &) const = default;
};

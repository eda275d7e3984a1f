#pragma once

/// A tempo the precise analysis considered, with how likely it is.
struct TempoCandidate {
    double bpm = 0;        ///< one decimal
    double confidence = 0; ///< 0...1, two decimals

    bool operator==(const TempoCandidate &) const = default;
};

#pragma once

#include "analysis/KeyCandidate.h"

#include <QVector>
#include <array>
#include <span>

/// Key from a mono signal at AnalysisResampler::rate: semitone magnitudes of five octaves
/// (C2...B6), each octave measured with a window long enough to part its semitones, weighted
/// toward the octaves that carry harmony and folded into pitch classes, then matched against
/// major, minor and natural-minor key profiles, the bass's tonic tipping keys that share
/// their notes.
class PreciseKeyEstimator {
public:
    /// Energies per pitch class, index 0 = C.
    using Chroma = std::array<double, 12>;

    /// The best key, the runner-up and, when it is not the runner-up, the best key's relative
    /// major or minor, with their likelihoods; empty when nothing pitched sounds.
    [[nodiscard]] static QVector<KeyCandidate> estimate(std::span<const float> samples);
    /// Pitch-class energies: of all octaves, weighted, and of the lowest octave alone.
    struct Chromas {
        Chroma weighted{};
        Chroma bass{};
    };

    /// The pitch-class energies of \a samples; all zero for silence.
    [[nodiscard]] static Chromas chromas(std::span<const float> samples);
    /// Every key's likelihood for \a chromas, likeliest first; empty for an all-equal chroma.
    [[nodiscard]] static QVector<KeyCandidate> rankKeys(const Chromas &chromas);
};

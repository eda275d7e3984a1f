#pragma once

#include "analysis/KeyCandidate.h"

#include <QVector>
#include <array>
#include <span>

/// Key from a mono signal at AnalysisResampler::rate: semitone energies of five octaves
/// (C2...B6), each octave measured with a window long enough to part its semitones, weighted
/// toward the octaves that carry harmony and folded into pitch classes, then matched against
/// major and minor key profiles.
class PreciseKeyEstimator {
public:
    /// Energies per pitch class, index 0 = C.
    using Chroma = std::array<double, 12>;

    /// The best key and the runner-up with their likelihoods; empty when nothing pitched sounds.
    [[nodiscard]] static QVector<KeyCandidate> estimate(std::span<const float> samples);
    /// The weighted pitch-class energies of \a samples; all zero for silence or too little audio.
    [[nodiscard]] static Chroma chroma(std::span<const float> samples);
    /// Every key's likelihood for \a chroma, likeliest first; empty for an all-equal chroma.
    [[nodiscard]] static QVector<KeyCandidate> rankKeys(const Chroma &chroma);
};

#pragma once

#include "analysis/TempoCandidate.h"

#include <QVector>
#include <span>
#include <vector>

/// Tempo from the onsets of a mono signal at AnalysisResampler::rate: the beat period that a
/// pulse train fits best (weighed by how common such a tempo is), measured below the frame
/// grid over many beats, with how likely it is against its double, half, three-halves and
/// two-thirds.
class PreciseTempoEstimator {
public:
    /// The chosen tempo first, then the two likeliest of ×2, ÷2, ×3/2 and ×2/3 (those between
    /// 30 and 300 BPM); empty when the signal lasts 4 s or less or has no steady beat.
    [[nodiscard]] static QVector<TempoCandidate> estimate(std::span<const float> samples);

private:
    using Series = std::vector<double>;

    /// Rises of the log band energies, one value per hop, with the local mean taken off.
    [[nodiscard]] static Series onsetStrength(std::span<const float> samples);
    /// Autocorrelation of the mean-free \a onsets at every lag up to \a longest.
    [[nodiscard]] static Series autocorrelation(const Series &onsets, std::size_t longest);
    /// How well pulses every \a period hops, at their best phase, match \a onsets: their
    /// correlation, 0 for no match.
    [[nodiscard]] static double pulseFit(const Series &onsets, double period);
    /// \a period made exact from the autocorrelation peaks of \a onsets at its multiples.
    [[nodiscard]] static double refinePeriod(const Series &onsets, double period);
};

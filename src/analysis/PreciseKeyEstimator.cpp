#include "analysis/PreciseKeyEstimator.h"

#include "analysis/AnalysisResampler.h"
#include "analysis/MusicalKeys.h"
#include "analysis/RealFourierTransform.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int lowestNote = 36; ///< C2
constexpr int octaves = 5;     ///< C2...B6
constexpr int noteCount = 12 * octaves;
/// The window of the lowest octave: 1.37 s, about five bins per semitone at C2; each octave up
/// halves it, keeping the same bins per semitone.
constexpr int longestWindow = 16384;
/// How much each octave counts: chords and bass lines sit in the middle ones.
constexpr std::array<double, octaves> octaveWeights{0.7, 1.0, 1.0, 0.7, 0.4};
/// Key profiles (Temperley), index 0 = tonic. Unlike Krumhansl and Kessler's they weigh a
/// major key's third and fifth as much as a minor key's, so the overtones of a major triad no
/// longer tip it toward the minor key of its third.
constexpr PreciseKeyEstimator::Chroma majorProfile{5.0, 2.0, 3.5, 2.0, 4.5, 4.0, 2.0, 4.5, 2.0, 3.5, 1.5, 4.0};
constexpr PreciseKeyEstimator::Chroma minorProfile{5.0, 2.0, 3.5, 4.5, 2.0, 4.0, 2.0, 4.5, 3.5, 2.0, 1.5, 4.0};
/// Turns correlations into likelihoods: a key this much less correlated is e times less likely.
constexpr double correlationScale = 0.07;

double twoDecimals(double value)
{
    return std::round(value * 100) / 100;
}

/// Mean power per note of one octave's notes, from windows of \a size samples every size/2,
/// scaled so a sine of amplitude A gives A²/4 whatever the window.
std::array<double, 12> octaveEnergies(std::span<const float> samples, int octave, int size)
{
    std::vector<float> window(static_cast<std::size_t>(size));
    double windowSquares = 0;
    for (int i = 0; i < size; ++i) {
        window[std::size_t(i)] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / size));
        windowSquares += double(window[std::size_t(i)]) * window[std::size_t(i)];
    }
    const double binWidth = AnalysisResampler::rate / size;
    std::array<std::pair<std::size_t, std::size_t>, 12> bands{};
    for (int note = 0; note < 12; ++note) {
        const double centre = 440 * std::pow(2.0, (lowestNote + 12 * octave + note - 69) / 12.0);
        bands[std::size_t(note)] = {std::size_t(std::ceil(centre * std::pow(2.0, -1 / 24.0) / binWidth)),
                                    std::size_t(std::floor(centre * std::pow(2.0, 1 / 24.0) / binWidth))};
    }

    RealFourierTransform transform(size);
    std::array<double, 12> energies{};
    std::vector<float> frame(static_cast<std::size_t>(size)), power;
    const auto hop = std::size_t(size / 2);
    int frames = 0;
    for (std::size_t start = 0; start == 0 || start + std::size_t(size) <= samples.size(); start += hop) {
        const auto count = std::min(samples.size() - start, std::size_t(size));
        for (std::size_t i = 0; i < std::size_t(size); ++i)
            frame[i] = i < count ? samples[start + i] * window[i] : 0.0f;
        transform.power(frame, power);
        for (std::size_t note = 0; note < 12; ++note) {
            for (auto k = bands[note].first; k <= bands[note].second && k < power.size(); ++k)
                energies[note] += power[k];
        }
        ++frames;
    }
    for (auto &energy : energies)
        energy /= double(frames) * size * windowSquares;
    return energies;
}

} // namespace

QVector<KeyCandidate> PreciseKeyEstimator::estimate(std::span<const float> samples)
{
    auto ranked = rankKeys(chroma(samples));
    if (ranked.size() > 2)
        ranked.resize(2);
    return ranked;
}

PreciseKeyEstimator::Chroma PreciseKeyEstimator::chroma(std::span<const float> samples)
{
    Chroma chroma{};
    if (samples.empty())
        return chroma;
    std::array<double, noteCount> amplitudes{};
    for (int octave = 0; octave < octaves; ++octave) {
        const auto energies = octaveEnergies(samples, octave, longestWindow >> octave);
        for (int note = 0; note < 12; ++note)
            amplitudes[std::size_t(12 * octave + note)] = std::sqrt(energies[std::size_t(note)]);
    }
    for (std::size_t note = 0; note < amplitudes.size(); ++note)
        chroma[(lowestNote + note) % 12] += octaveWeights[note / 12] * amplitudes[note];
    return chroma;
}

QVector<KeyCandidate> PreciseKeyEstimator::rankKeys(const Chroma &chroma)
{
    const auto standardised = [](const Chroma &values) -> std::optional<Chroma> {
        double mean = 0;
        for (const double v : values)
            mean += v / 12;
        double squares = 0;
        for (const double v : values)
            squares += (v - mean) * (v - mean);
        if (!(squares > 0) || !std::isfinite(squares))
            return std::nullopt;
        Chroma out;
        for (std::size_t i = 0; i < 12; ++i)
            out[i] = (values[i] - mean) / std::sqrt(squares);
        return out;
    };
    const auto z = standardised(chroma);
    if (!z)
        return {};
    const auto major = *standardised(majorProfile), minor = *standardised(minorProfile);
    struct Scored {
        int root;
        bool minor;
        double correlation;
    };
    std::vector<Scored> keys;
    for (int root = 0; root < 12; ++root) {
        for (const bool isMinor : {false, true}) {
            const auto &profile = isMinor ? minor : major;
            double sum = 0;
            for (std::size_t i = 0; i < 12; ++i)
                sum += (*z)[(i + std::size_t(root)) % 12] * profile[i];
            keys.push_back({root, isMinor, sum});
        }
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto &a, const auto &b) { return a.correlation > b.correlation; });
    double total = 0;
    for (const auto &key : keys)
        total += std::exp((key.correlation - keys.front().correlation) / correlationScale);
    QVector<KeyCandidate> ranked;
    for (const auto &key : keys)
        ranked.append({MusicalKeys::keyName(key.root, key.minor),
                       twoDecimals(std::exp((key.correlation - keys.front().correlation) / correlationScale) / total)});
    return ranked;
}

#include "analysis/PreciseKeyEstimator.h"

#include "analysis/AnalysisResampler.h"
#include "analysis/MusicalKeys.h"
#include "analysis/RealFourierTransform.h"

#include <QtGlobal>

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
/// The natural minor's: the minor profile with the flat seventh in place of the leading tone.
/// Much minor-key pop and dance music never raises the seventh; a minor key takes the better of
/// the two.
constexpr PreciseKeyEstimator::Chroma naturalMinorProfile{5.0, 2.0, 3.5, 4.5, 2.0, 4.0, 2.0, 4.5, 3.5, 2.0, 4.0, 1.5};
/// How much the bass's tonic adds to a key's correlation, in full when the lowest octave holds
/// this share of the weighted energy.
constexpr double bassTonicWeight = 0.15, fullBassShare = 0.1;
/// Turns correlations into likelihoods: a key this much less correlated is e times less likely.
constexpr double correlationScale = 0.07;

double twoDecimals(double value)
{
    return std::round(value * 100) / 100;
}

/// The notes of one octave measured in windows of \a size samples every size/2; whatever the
/// window, a sine of amplitude A gives about A/2 and A²/4.
struct OctaveLevels {
    std::array<double, 12> magnitudes{}; ///< per window: how long a note sounds, its level compressed
    std::array<double, 12> powers{};     ///< how long a note sounds times its level squared
};

OctaveLevels octaveLevels(std::span<const float> samples, int octave, int size)
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
    OctaveLevels levels;
    std::vector<float> frame(static_cast<std::size_t>(size)), power;
    // Windows from half a window before the start to past the end, so that every sample
    // counts as much as every other: overlapping by half, the windows add up to one.
    const auto hop = qint64(size / 2), length = qint64(samples.size());
    int frames = 0;
    for (qint64 start = -hop; start < length - hop || frames == 0; start += hop) {
        for (qint64 i = 0; i < size; ++i) {
            const auto at = start + i;
            frame[std::size_t(i)] = at >= 0 && at < length ? samples[std::size_t(at)] * window[std::size_t(i)] : 0.0f;
        }
        transform.power(frame, power);
        for (std::size_t note = 0; note < 12; ++note) {
            double band = 0;
            for (auto k = bands[note].first; k <= bands[note].second && k < power.size(); ++k)
                band += power[k];
            levels.powers[note] += band / (double(size) * windowSquares);
            levels.magnitudes[note] += std::sqrt(band / (double(size) * windowSquares));
        }
        ++frames;
    }
    for (std::size_t note = 0; note < 12; ++note) {
        levels.magnitudes[note] /= double(frames);
        levels.powers[note] /= double(frames);
    }
    return levels;
}

} // namespace

QVector<KeyCandidate> PreciseKeyEstimator::estimate(std::span<const float> samples)
{
    const auto ranked = rankKeys(chromas(samples));
    if (ranked.size() < 2)
        return ranked;
    // The relative key shares every note and differs only in its tonic, which the chroma of a
    // loop in the natural minor hardly shows: it is offered even when it ranks lower.
    QVector<KeyCandidate> offered{ranked[0], ranked[1]};
    const auto relative = MusicalKeys::relativeKey(ranked[0].musicalKey);
    if (relative != ranked[1].musicalKey) {
        const auto found = std::find_if(ranked.cbegin(), ranked.cend(),
                                        [&](const KeyCandidate &key) { return key.musicalKey == relative; });
        if (found != ranked.cend())
            offered.append(*found);
    }
    return offered;
}

PreciseKeyEstimator::Chromas PreciseKeyEstimator::chromas(std::span<const float> samples)
{
    Chromas chromas;
    if (samples.empty())
        return chromas;
    std::array<double, noteCount> amplitudes{};
    for (int octave = 0; octave < octaves; ++octave) {
        const auto levels = octaveLevels(samples, octave, longestWindow >> octave);
        for (std::size_t note = 0; note < 12; ++note) {
            amplitudes[std::size_t(12 * octave) + note] = levels.magnitudes[note];
            // The lowest octave's long windows span several notes of a bass line, so its tonic
            // is told by the energy, which adds up over time as magnitudes do not.
            if (octave == 0)
                chromas.bass[(lowestNote + note) % 12] = levels.powers[note];
        }
    }
    for (std::size_t note = 0; note < amplitudes.size(); ++note)
        chromas.weighted[(lowestNote + note) % 12] += octaveWeights[note / 12] * amplitudes[note];
    return chromas;
}

QVector<KeyCandidate> PreciseKeyEstimator::rankKeys(const Chromas &chromas)
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
    const auto z = standardised(chromas.weighted);
    if (!z)
        return {};
    // A bass line dwells on the key's tonic: its share of the bass tips keys that share their
    // notes, a major key and its relative minor above all, when there is a bass to speak of.
    double all = 0, low = 0;
    for (std::size_t i = 0; i < 12; ++i) {
        all += chromas.weighted[i];
        low += octaveWeights[0] * std::sqrt(chromas.bass[i]);
    }
    const auto bass = standardised(chromas.bass);
    const double bassWeight = bass ? bassTonicWeight * std::min(1.0, low / all / fullBassShare) : 0;
    const auto major = *standardised(majorProfile), minor = *standardised(minorProfile),
               naturalMinor = *standardised(naturalMinorProfile);
    const auto correlate = [&](const Chroma &profile, int root) {
        double sum = 0;
        for (std::size_t i = 0; i < 12; ++i)
            sum += (*z)[(i + std::size_t(root)) % 12] * profile[i];
        return sum;
    };
    struct Scored {
        int root;
        bool minor;
        double correlation;
    };
    std::vector<Scored> keys;
    for (int root = 0; root < 12; ++root) {
        const double tonic = bass ? bassWeight * (*bass)[std::size_t(root)] : 0;
        keys.push_back({root, false, correlate(major, root) + tonic});
        keys.push_back({root, true, std::max(correlate(minor, root), correlate(naturalMinor, root)) + tonic});
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

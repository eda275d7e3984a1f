#include "analysis/PreciseTempoEstimator.h"

#include "analysis/AnalysisResampler.h"
#include "analysis/LoopFinderService.h"
#include "analysis/RealFourierTransform.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace {

constexpr int windowSize = 512;
constexpr int hopSize = 128;
/// Onset values per second.
constexpr double hopRate = AnalysisResampler::rate / hopSize;
constexpr double shortestSignal = 4.0;
/// The tempi a beat may have, and the wider range its alternatives may have.
constexpr double slowestBeat = 50, fastestBeat = 220;
constexpr double slowestAlternative = 30, fastestAlternative = 300;
/// Band edges of the onset measure, in Hz.
constexpr double lowestBand = 30, highestBand = 6000;
constexpr int bandCount = 24;
/// What noise of n onset values fits by chance stays below chanceFit / √n; a beat must fit
/// better, and at least lowestBeatFit. That fit also weighs against every tempo's likelihood.
constexpr double chanceFit = 5, lowestBeatFit = 0.08;
/// Onsets weaker than this (their deviation) are the flutter of a steady sound.
constexpr double quietestOnsets = 0.3;
/// Sharpens fits into likelihoods.
constexpr double fitExponent = 6;
/// The beat's multiples and fractions that are weighed against it.
constexpr double relations[] = {1.0, 2.0, 0.5, 1.5, 2.0 / 3.0};
/// How many multiples of the beat period refine it.
constexpr int maximumMultiples = 48;

double periodOf(double bpm)
{
    return 60 * hopRate / bpm;
}

double bpmOf(double period)
{
    return 60 * hopRate / period;
}

/// How likely a beat of \a bpm is before listening: a log-normal spread around 120 BPM, one and
/// a half octaves wide, which parts near ties between a tempo and its half or double.
double plausibility(double bpm)
{
    const double octaves = std::log2(bpm / 120) / 1.5;
    return std::exp(-0.5 * octaves * octaves);
}

bool inBeatRange(double bpm)
{
    return bpm >= slowestBeat && bpm <= fastestBeat;
}

double oneDecimal(double value)
{
    return std::round(value * 10) / 10;
}

double twoDecimals(double value)
{
    return std::round(value * 100) / 100;
}

/// Linear interpolation of \a values at the fractional index \a x (0 outside).
double sampleAt(const std::vector<double> &values, double x)
{
    if (!(x >= 0))
        return 0;
    const auto i = std::size_t(x);
    if (i + 1 >= values.size())
        return i < values.size() ? values[i] : 0;
    const double f = x - double(i);
    return values[i] * (1 - f) + values[i + 1] * f;
}

/// The offset of the vertex of the parabola through (−1, a), (0, b), (1, c), within ±0.5.
double parabolicOffset(double a, double b, double c)
{
    const double curvature = a - 2 * b + c;
    if (!(curvature < 0))
        return 0;
    return std::clamp(0.5 * (a - c) / curvature, -0.5, 0.5);
}

} // namespace

QVector<TempoCandidate> PreciseTempoEstimator::estimate(std::span<const float> samples)
{
    if (!(double(samples.size()) / AnalysisResampler::rate > shortestSignal))
        return {};
    const auto onsets = onsetStrength(samples);
    const auto n = onsets.size();
    const auto longest = std::min<std::size_t>(n / 2, std::size_t(std::ceil(periodOf(slowestAlternative))) + 2);
    const auto correlation = autocorrelation(onsets, longest);
    // Nothing starts in a steady sound; what little its envelope moves has no beat.
    if (correlation.empty() || !(std::sqrt(correlation[0]) >= quietestOnsets))
        return {};

    // Beat candidates: the autocorrelation peaks in the beat range and what they are multiples
    // and fractions of; the one a pulse train fits best, weighed by its tempo's plausibility,
    // is the beat.
    const auto shortestLag = std::size_t(std::floor(periodOf(fastestBeat)));
    const auto longestLag = std::min(longest - 1, std::size_t(std::ceil(periodOf(slowestBeat))));
    double bestScore = 0, bestFit = 0, bestPeriod = 0;
    for (auto lag = std::max<std::size_t>(shortestLag, 2); lag < longestLag; ++lag) {
        if (!(correlation[lag] > 0 && correlation[lag] >= correlation[lag - 1]
              && correlation[lag] > correlation[lag + 1]))
            continue;
        const double peak = double(lag) + parabolicOffset(correlation[lag - 1], correlation[lag], correlation[lag + 1]);
        for (const double relation : relations) {
            const double period = peak / relation;
            if (!inBeatRange(bpmOf(period)))
                continue;
            const double fit = pulseFit(onsets, period);
            if (const double score = fit * plausibility(bpmOf(period)); score > bestScore) {
                bestScore = score;
                bestFit = fit;
                bestPeriod = period;
            }
        }
    }
    // Noise fits some pulse train by chance, the better the fewer beats there are to average.
    const double noBeatFit = std::max(lowestBeatFit, chanceFit / std::sqrt(double(n)));
    if (!(bestFit > noBeatFit))
        return {};

    // The refined beat and its relatives; a relative in the beat range that scores better
    // there is the beat instead.
    const auto relatives = [&](double period) {
        QVector<std::pair<double, double>> found; // period, score
        for (const double relation : relations) {
            const double bpm = bpmOf(period) * relation;
            if (relation == 1.0
                || (bpm >= slowestAlternative && bpm <= fastestAlternative && period / relation <= double(longest)))
                found.append({period / relation, pulseFit(onsets, period / relation) * plausibility(bpm)});
        }
        return found;
    };
    auto found = relatives(refinePeriod(onsets, bestPeriod));
    const auto asBeat = [](const std::pair<double, double> &candidate) {
        return inBeatRange(bpmOf(candidate.first)) ? candidate.second : -1.0;
    };
    const auto better = std::max_element(found.cbegin() + 1, found.cend(),
                                         [&](const auto &a, const auto &b) { return asBeat(a) < asBeat(b); });
    if (better != found.cend() && asBeat(*better) > found.front().second)
        found = relatives(better->first);

    QVector<TempoCandidate> candidates;
    double total = std::pow(noBeatFit, fitExponent);
    for (const auto &[period, score] : found) {
        candidates.append({bpmOf(period), std::pow(score, fitExponent)});
        total += candidates.back().confidence;
    }
    for (auto &candidate : candidates) {
        candidate.bpm = oneDecimal(candidate.bpm);
        candidate.confidence = twoDecimals(candidate.confidence / total);
    }
    // The chosen tempo stays first; its alternatives follow, likeliest first.
    std::stable_sort(candidates.begin() + 1, candidates.end(),
                     [](const auto &a, const auto &b) { return a.confidence > b.confidence; });
    if (candidates.size() > 3)
        candidates.resize(3);
    return candidates;
}

PreciseTempoEstimator::Series PreciseTempoEstimator::onsetStrength(std::span<const float> samples)
{
    // Band edges in bins, each band at least one bin wide.
    std::vector<std::size_t> edges;
    for (int b = 0; b <= bandCount; ++b) {
        const double frequency = lowestBand * std::pow(highestBand / lowestBand, double(b) / bandCount);
        const auto bin = std::size_t(std::lround(frequency * windowSize / AnalysisResampler::rate));
        if (edges.empty() || bin > edges.back())
            edges.push_back(bin);
    }
    const auto bands = edges.size() - 1;
    std::vector<float> window(windowSize);
    for (int i = 0; i < windowSize; ++i)
        window[std::size_t(i)] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / windowSize));

    RealFourierTransform transform(windowSize);
    const auto frames = (samples.size() - windowSize) / hopSize + 1;
    std::vector<float> frame(windowSize), power;
    std::vector<double> energies(frames * bands);
    double total = 0;
    for (std::size_t t = 0; t < frames; ++t) {
        const auto *start = samples.data() + t * hopSize;
        for (int i = 0; i < windowSize; ++i)
            frame[std::size_t(i)] = start[i] * window[std::size_t(i)];
        transform.power(frame, power);
        for (std::size_t b = 0; b < bands; ++b) {
            double energy = 0;
            for (auto k = edges[b]; k < edges[b + 1]; ++k)
                energy += power[k];
            energies[t * bands + b] = energy;
            total += energy;
        }
    }
    // Log energies against the signal's mean band energy, so the measure ignores the level.
    const double scale = 100 / std::max(total / double(frames * bands), 1e-12);
    for (auto &energy : energies)
        energy = std::log(1 + energy * scale);
    Series onsets(frames, 0.0);
    for (std::size_t t = 1; t < frames; ++t) {
        double rise = 0;
        for (std::size_t b = 0; b < bands; ++b)
            rise += std::max(0.0, energies[t * bands + b] - energies[(t - 1) * bands + b]);
        onsets[t] = rise;
    }
    const auto local = LoopFinderService::smooth(onsets, qint64(hopRate * 0.3));
    for (std::size_t t = 0; t < frames; ++t)
        onsets[t] = std::max(0.0, onsets[t] - local[t]);
    return LoopFinderService::smooth(onsets, 2);
}

PreciseTempoEstimator::Series PreciseTempoEstimator::autocorrelation(const Series &onsets, std::size_t longest)
{
    const auto n = onsets.size();
    if (n < 2 || longest < 2)
        return {};
    const double mean = std::accumulate(onsets.cbegin(), onsets.cend(), 0.0) / double(n);
    Series centred(n);
    for (std::size_t i = 0; i < n; ++i)
        centred[i] = onsets[i] - mean;
    Series correlation(longest + 1, 0.0);
    for (std::size_t lag = 0; lag <= longest && lag < n; ++lag) {
        double sum = 0;
        for (auto i = lag; i < n; ++i)
            sum += centred[i] * centred[i - lag];
        correlation[lag] = sum / double(n - lag);
    }
    return correlation;
}

double PreciseTempoEstimator::pulseFit(const Series &onsets, double period)
{
    const auto n = double(onsets.size());
    if (!(period >= 2) || period * 4 > n)
        return 0;
    const double mean = std::accumulate(onsets.cbegin(), onsets.cend(), 0.0) / n;
    double squares = 0;
    for (const double value : onsets)
        squares += (value - mean) * (value - mean);
    const double deviation = std::sqrt(squares / n);
    if (!(deviation > 0))
        return 0;
    // The pulse train's best phase, in half hops.
    double best = 0;
    for (double phase = 0; phase < period; phase += 0.5) {
        double sum = 0;
        int count = 0;
        for (double x = phase; x < n - 1; x += period, ++count)
            sum += sampleAt(onsets, x);
        if (count > 0)
            best = std::max(best, sum / count);
    }
    // Pearson correlation with unit pulses of density 1/period.
    const double density = 1 / period;
    return std::max(0.0, std::sqrt(density / (1 - density)) * (best - mean) / deviation);
}

double PreciseTempoEstimator::refinePeriod(const Series &onsets, double period)
{
    const auto n = onsets.size();
    const double mean = std::accumulate(onsets.cbegin(), onsets.cend(), 0.0) / double(n);
    Series centred(n);
    for (std::size_t i = 0; i < n; ++i)
        centred[i] = onsets[i] - mean;
    const auto at = [&](std::size_t lag) {
        double sum = 0;
        for (auto i = lag; i < n; ++i)
            sum += centred[i] * centred[i - lag];
        return sum / double(n - lag);
    };
    // Least squares through the origin of the autocorrelation peaks near m × period: each
    // peak's position is as uncertain as the first's, so the slope is m times sharper.
    const double reach = 3 + 0.02 * period;
    double numerator = 0, denominator = 0, estimate = period;
    for (int m = 1; m <= maximumMultiples && m * estimate + reach + 1 < double(n) / 2; ++m) {
        const double centre = m * estimate;
        const auto lo = std::size_t(std::max(1.0, std::floor(centre - reach)));
        const auto hi = std::size_t(std::ceil(centre + reach));
        Series values(hi - lo + 1);
        for (auto lag = lo; lag <= hi; ++lag)
            values[lag - lo] = at(lag);
        const auto peak = std::size_t(std::max_element(values.cbegin(), values.cend()) - values.cbegin());
        if (peak == 0 || peak + 1 == values.size() || !(values[peak] > 0))
            continue;
        const double position = double(lo + peak) + parabolicOffset(values[peak - 1], values[peak], values[peak + 1]);
        numerator += values[peak] * m * position;
        denominator += values[peak] * m * m;
        estimate = numerator / denominator;
    }
    return estimate;
}

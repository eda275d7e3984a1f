#include "analysis/LoopFinderService.h"

#include "platform/BackgroundTask.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double shortestLoop = 0.75;

/// Largest value of \a series[lo..hi]; 0 for an empty series.
double maxIn(const LoopFinderService::Series &series, qint64 lo, qint64 hi)
{
    if (series.empty())
        return 0;
    hi = std::min(hi, qint64(series.size()) - 1);
    double best = series[std::size_t(lo)];
    for (auto i = lo + 1; i <= hi; ++i)
        best = std::max(best, series[std::size_t(i)]);
    return best;
}

double mean(const LoopFinderService::Series &series, std::size_t from, std::size_t count)
{
    double sum = 0;
    for (std::size_t i = from; i < from + count; ++i)
        sum += series[i];
    return sum / double(count);
}

/// How many values of a series of \a size fit from \a from on, at most \a wanted.
std::size_t available(std::size_t size, qint64 from, qint64 wanted)
{
    return std::size_t(std::clamp<qint64>(qint64(size) - from, 0, std::max<qint64>(wanted, 0)));
}

} // namespace

std::optional<double> LoopFinderService::scoreLoop(Seam loop, double duration, std::optional<double> tempo,
                                                   const Series &smoothed, const Series &onsets)
{
    const double length = loop.end - loop.start;
    const auto n = qint64(smoothed.size());
    const auto startIdx = indexOf(loop.start, duration, n);
    const auto endIdx = indexOf(loop.end, duration, n);
    const double window = std::clamp(length * 0.04, 0.12, 0.45);
    const auto w = std::max<qint64>(6, qint64(window / duration * double(n)));

    const auto a0 = std::min(n - 1, startIdx);
    const auto b0 = std::min(n - 1, std::max<qint64>(endIdx - w, 0));
    const auto headCount = available(smoothed.size(), a0, w);
    const auto tailCount = available(smoothed.size(), b0, w);
    const auto bodyCount = available(smoothed.size(), a0, std::max(endIdx - startIdx, w));
    if (headCount != tailCount || headCount == 0 || bodyCount == 0)
        return std::nullopt;

    double difference = 0;
    for (std::size_t i = 0; i < headCount; ++i)
        difference += std::abs(smoothed[std::size_t(a0) + i] - smoothed[std::size_t(b0) + i]);
    const double seam = difference / double(headCount) * 1.55;
    const double seamScore = seam < 1 ? 1 - seam : 0;
    const double headMean = mean(smoothed, std::size_t(a0), headCount);
    const double tailMean = mean(smoothed, std::size_t(b0), tailCount);
    const double levelMatch = 1 - std::min(std::abs(headMean - tailMean) * 1.8, 1.0);
    const double startAccent = localAccentScore(startIdx, smoothed, onsets);
    const double endAccent = localAccentScore(std::min(endIdx, n - 1), smoothed, onsets);
    const double lengthScore = musicalLengthScore(length, tempo);
    const double bodyEnergy = std::min(mean(smoothed, std::size_t(a0), bodyCount) * 3.0, 1.0);
    const int quietEnds = (headMean < 0.04 ? 1 : 0) + (tailMean < 0.04 ? 1 : 0);
    const double quietPenalty = quietEnds == 2 ? 0.35 : quietEnds == 1 ? 0.18 : 0;
    return 0.34 * seamScore + 0.14 * levelMatch + 0.22 * startAccent + 0.08 * endAccent + 0.16 * lengthScore
        + 0.06 * bodyEnergy - quietPenalty;
}

QCoro::Task<QVector<LoopSuggestion>> LoopFinderService::findLoops(QVector<float> peaks, double duration,
                                                                  std::optional<double> bpm, int limit)
{
    // Built in its own statement: GCC 12 destroys the captures of a lambda created inside a
    // co_await expression twice.
    auto work = BackgroundTask::run(
        [peaks = std::move(peaks), duration, bpm, limit] { return findLoopsSync(peaks, duration, bpm, limit); });
    co_return co_await std::move(work);
}

QVector<LoopSuggestion> LoopFinderService::findLoopsSync(const QVector<float> &peaks, double duration,
                                                         std::optional<double> bpm, int limit)
{
    if (!std::isfinite(duration) || duration <= 0)
        return {};
    if (peaks.size() < 32 || duration < 1.0)
        return {LoopSuggestion{0, duration, 0}};

    const Series values(peaks.cbegin(), peaks.cend());
    const auto smoothed = smooth(values, values.size() < 300 ? 1 : qint64(values.size()) / 300);
    const auto onsets = normalizedOnsets(smoothed);
    const auto starts = candidateStarts(duration, bpm, smoothed, onsets);
    const auto lengths = candidateLengths(duration, bpm);
    if (starts.empty() || lengths.empty())
        return {LoopSuggestion{0, duration, 0.1}};

    const auto tempo = usableTempo(bpm);
    const double quantum = tempo ? 60 / *tempo * 0.25 : 0;
    QVector<LoopSuggestion> suggestions;
    for (const double s : starts) {
        const double snappedStart = tempo ? std::clamp(quantum * std::round(s / quantum), 0.0, duration) : s;
        const double minimumEnd = snappedStart + 0.25;
        for (const double length : lengths) {
            double end = s + length;
            if (end > duration + 0.001)
                continue;
            end = std::min(end, duration);
            if (tempo)
                end = std::min(std::max(quantum * std::round(end / quantum), minimumEnd), duration);
            if (end - snappedStart < shortestLoop)
                continue;
            const auto score = scoreLoop({snappedStart, end}, duration, tempo, smoothed, onsets);
            if (score && std::isfinite(*score))
                suggestions.append({snappedStart, end, std::clamp(*score, 0.0, 1.0)});
        }
    }
    std::stable_sort(suggestions.begin(), suggestions.end(),
                     [](const auto &a, const auto &b) { return a.confidence > b.confidence; });
    return dedupe(suggestions, limit);
}

LoopFinderService::Series LoopFinderService::smooth(const Series &values, qint64 radius)
{
    const auto n = qint64(values.size());
    if (radius < 1 || n <= 2 * radius)
        return values;
    Series output(values.size());
    for (qint64 i = 0; i < n; ++i) {
        const auto lo = std::max<qint64>(0, i - radius);
        const auto hi = std::min(n - 1, i + radius);
        double sum = 0;
        for (auto j = lo; j <= hi; ++j)
            sum += values[std::size_t(j)];
        output[std::size_t(i)] = sum / double(hi - lo + 1);
    }
    return output;
}

LoopFinderService::Series LoopFinderService::normalizedOnsets(const Series &values)
{
    if (values.empty())
        return {};
    Series onsets(values.size(), 0.0);
    for (std::size_t i = 1; i < values.size(); ++i)
        onsets[i] = std::max(values[i] - values[i - 1], 0.0);
    const double largest = *std::max_element(onsets.cbegin(), onsets.cend());
    const double divisor = largest > 0.0001 ? largest : 0.0001;
    for (auto &value : onsets)
        value /= divisor;
    return onsets;
}

double LoopFinderService::bestBarPhase(double duration, double barDuration, const Series &onsets)
{
    if (!(barDuration > 0 && barDuration < duration) || onsets.empty())
        return 0;
    const double step = std::clamp(barDuration / 32, 0.03, 0.18);
    const auto n = qint64(onsets.size());
    double bestPhase = 0;
    double bestScore = -1;
    for (int p = 0; double(p) * step < barDuration; ++p) {
        const double phase = double(p) * step;
        double score = 0;
        for (int k = 0; phase + double(k) * barDuration < duration; ++k)
            score += onsets[std::size_t(indexOf(phase + double(k) * barDuration, duration, n))];
        if (score > bestScore) {
            bestScore = score;
            bestPhase = phase;
        }
    }
    return bestPhase;
}

std::vector<double> LoopFinderService::strongestOnsetTimes(double duration, const Series &peaks, const Series &onsets,
                                                           int limit)
{
    if (!(duration > 0) || peaks.empty())
        return {};
    const auto n = qint64(peaks.size());
    std::vector<std::pair<double, double>> strong; // time, strength
    for (qint64 i = 0; i < n; ++i) {
        const double strength = localAccentScore(i, peaks, onsets);
        if (strength > 0.28)
            strong.emplace_back(duration * double(i) / double(std::max<qint64>(n - 1, 1)), strength);
    }
    std::stable_sort(strong.begin(), strong.end(), [](const auto &a, const auto &b) { return a.second > b.second; });
    std::vector<double> times;
    for (std::size_t i = 0; i < strong.size() && i < std::size_t(std::max(limit, 0)); ++i)
        times.push_back(strong[i].first);
    return dedupeTimes(std::move(times), 0.16);
}

std::vector<double> LoopFinderService::dedupeTimes(std::vector<double> times, double tolerance)
{
    std::sort(times.begin(), times.end());
    std::vector<double> kept;
    for (const double time : times) {
        // Ascending order: the nearest kept time is the last one.
        if (kept.empty() || !(std::abs(time - kept.back()) < tolerance))
            kept.push_back(time);
    }
    return kept;
}

std::vector<double> LoopFinderService::candidateStarts(double duration, std::optional<double> bpm, const Series &peaks,
                                                       const Series &onsets)
{
    std::vector<double> starts{0.0};
    if (const auto tempo = usableTempo(bpm)) {
        const double beat = 60 / *tempo;
        const double bar = beat * 4;
        const double phase = bestBarPhase(duration, bar, onsets);
        const double last = duration - shortestLoop;
        if (phase < last) {
            for (int k = 0; phase + double(k) * bar < last; ++k)
                starts.push_back(std::max(phase + double(k) * bar, 0.0));
            const auto n = qint64(peaks.size());
            for (int k = 0; phase + double(k) * beat < last; ++k) {
                const double t = phase + double(k) * beat;
                if (localAccentScore(indexOf(t, duration, n), peaks, onsets) > 0.35)
                    starts.push_back(std::max(t, 0.0));
            }
        }
    }
    const auto strongest = strongestOnsetTimes(duration, peaks, onsets, 28);
    starts.insert(starts.end(), strongest.begin(), strongest.end());
    return dedupeTimes(std::move(starts), 0.08);
}

std::vector<double> LoopFinderService::candidateLengths(double duration, std::optional<double> bpm)
{
    std::vector<double> lengths;
    if (const auto tempo = usableTempo(bpm)) {
        const double bar = 240 / *tempo;
        lengths = {4 * bar, 8 * bar, 2 * bar, 16 * bar, bar};
    } else {
        lengths = {8, 4, 16, 2, 1};
    }
    std::erase_if(lengths, [&](double length) { return length < shortestLoop || length > duration; });
    return lengths;
}

double LoopFinderService::localAccentScore(qint64 index, const Series &peaks, const Series &onsets)
{
    const auto n = qint64(peaks.size());
    if (n == 0)
        return 0;
    const auto lo = std::clamp<qint64>(index - 3, 0, n - 1);
    const auto hi = std::clamp<qint64>(index + 3, 0, n - 1);
    const double onsetTerm = onsets.empty() ? 0 : 0.92 * maxIn(onsets, lo, hi);
    return std::min(0.38 * maxIn(peaks, lo, hi) + onsetTerm, 1.0);
}

double LoopFinderService::musicalLengthScore(double length, std::optional<double> bpm)
{
    const auto tempo = usableTempo(bpm);
    if (!tempo)
        return 0.5;
    const double bars = length / (240 / *tempo);
    const double rounded = std::round(bars);
    const double closeness = 1 - std::min(std::abs(bars - rounded), 1.0);
    const double weight = rounded == 4  ? 1.0
        : rounded == 8                  ? 0.95
        : rounded == 2 || rounded == 16 ? 0.78
        : rounded == 1                  ? 0.55
                                        : 0.35;
    return closeness * weight;
}

QVector<LoopSuggestion> LoopFinderService::dedupe(const QVector<LoopSuggestion> &sorted, int limit)
{
    QVector<LoopSuggestion> kept;
    for (const auto &suggestion : sorted) {
        if (kept.size() >= limit)
            break;
        const bool nearKept = std::any_of(kept.cbegin(), kept.cend(), [&](const LoopSuggestion &other) {
            return std::abs(other.start - suggestion.start) < 0.12 && std::abs(other.end - suggestion.end) < 0.12;
        });
        if (!nearKept)
            kept.append(suggestion);
    }
    return kept;
}

qint64 LoopFinderService::indexOf(double time, double duration, qint64 count)
{
    if (!(duration > 0) || count <= 1)
        return 0;
    double fraction = time / duration;
    fraction = fraction > 0 ? std::min(fraction, 1.0) : 0.0;
    return std::clamp<qint64>(qint64(std::round(fraction * double(count - 1))), 0, count - 1);
}

std::optional<double> LoopFinderService::usableTempo(std::optional<double> bpm)
{
    if (bpm && *bpm >= 45 && *bpm <= 240)
        return bpm;
    return std::nullopt;
}

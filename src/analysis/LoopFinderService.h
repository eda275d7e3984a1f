#pragma once

#include "analysis/LoopSuggestion.h"

#include <QObject>
#include <QVector>
#include <qcoro/qcorotask.h>

#include <optional>
#include <vector>

/// Proposes loop regions of a recording from its peak envelope, duration and tempo.
class LoopFinderService : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    using Series = std::vector<double>;

    /// At most \a limit loop suggestions, best first, computed off the calling thread.
    QCoro::Task<QVector<LoopSuggestion>> findLoops(QVector<float> peaks, double duration, std::optional<double> bpm,
                                                   int limit);
    [[nodiscard]] static QVector<LoopSuggestion> findLoopsSync(const QVector<float> &peaks, double duration,
                                                               std::optional<double> bpm, int limit);

    /// Centred moving average of 2 × \a radius + 1 values, shrinking at the ends; the input
    /// unchanged when \a radius is below 1 or the series is too short.
    [[nodiscard]] static Series smooth(const Series &values, qint64 radius);

private:
    /// A candidate loop's start and end in seconds.
    struct Seam {
        double start;
        double end;
    };
    /// The score of \a loop, none when its windows do not fit the series.
    [[nodiscard]] static std::optional<double> scoreLoop(Seam loop, double duration, std::optional<double> tempo,
                                                         const Series &smoothed, const Series &onsets);
    /// The rises of \a values, normalised to a largest value of 1.
    [[nodiscard]] static Series normalizedOnsets(const Series &values);
    /// The offset of the bar grid that collects the most onset strength.
    [[nodiscard]] static double bestBarPhase(double duration, double barDuration, const Series &onsets);
    /// Times of the strongest accents (onsets and levels), at most \a limit, then deduplicated.
    [[nodiscard]] static std::vector<double> strongestOnsetTimes(double duration, const Series &peaks,
                                                                 const Series &onsets, int limit);
    /// Ascending times, each at least \a tolerance from the ones kept before it.
    [[nodiscard]] static std::vector<double> dedupeTimes(std::vector<double> times, double tolerance);
    /// 0, the bar grid and accented beats (with a usable tempo) and the strongest onsets, ascending.
    [[nodiscard]] static std::vector<double> candidateStarts(double duration, std::optional<double> bpm,
                                                             const Series &peaks, const Series &onsets);
    /// 4, 8, 2, 16 and 1 bars with a usable tempo, else 8, 4, 16, 2 and 1 s, that fit the file.
    [[nodiscard]] static std::vector<double> candidateLengths(double duration, std::optional<double> bpm);
    /// Onset and level strength within 3 values of \a index, at most 1.
    [[nodiscard]] static double localAccentScore(qint64 index, const Series &peaks, const Series &onsets);
    /// How close \a length lies to a whole number of bars, weighted towards 4 and 8 bars.
    [[nodiscard]] static double musicalLengthScore(double length, std::optional<double> bpm);
    /// The first \a limit suggestions of a ranked list, dropping near duplicates of better ones.
    [[nodiscard]] static QVector<LoopSuggestion> dedupe(const QVector<LoopSuggestion> &sorted, int limit);

    /// The series index of \a time: its fraction of \a duration over \a count values.
    [[nodiscard]] static qint64 indexOf(double time, double duration, qint64 count);
    /// \a bpm when it lies in 45...240, else none.
    [[nodiscard]] static std::optional<double> usableTempo(std::optional<double> bpm);
};

#pragma once

#include <QVector>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

/// The running maxima of an envelope's buckets: the coarse buckets of the envelope asked for and
/// fine buckets of a fixed number of frames. Threads that decode different parts of a file add
/// the levels of their frames at their place in it; the maxima are the same in any order.
class PeakBuckets {
public:
    /// Frames per fine bucket for a file of \a frames frames: 256 doubled until there are at most
    /// 2^19 buckets.
    [[nodiscard]] static qint64 fineFramesFor(qint64 frames);
    /// min(\a length, \a seconds × \a sampleRate truncated): the frames an envelope of the first
    /// \a seconds covers (all of them when absent), without overflowing on huge or infinite spans.
    [[nodiscard]] static qint64 frameLimit(qint64 length, double sampleRate, std::optional<double> seconds);
    /// The envelope's frames per bucket for \a targetSamples over \a frameLimit frames.
    [[nodiscard]] static qint64 framesPerBucketFor(qint64 frameLimit, int targetSamples);

    /// Buckets over the first \a frameLimit frames; \a fineFrames 0: no fine buckets.
    PeakBuckets(qint64 frameLimit, qint64 framesPerBucket, qint64 fineFrames);

    [[nodiscard]] qint64 framesPerBucket() const { return m_framesPerBucket; }
    [[nodiscard]] qint64 fineFrames() const { return m_fineFrames; }
    /// The frames from \a frame to the next coarse or fine bucket boundary.
    [[nodiscard]] qint64 runLength(qint64 frame) const;
    /// Raises the buckets of frame \a frame to \a level; from any thread.
    void raise(qint64 frame, float level);

    /// The coarse buckets of the first \a frames frames, normalised to the loudest as the
    /// envelope is (divided by it, or by 0.0001 when it is quieter, capped at 1).
    [[nodiscard]] QVector<float> envelope(qint64 frames) const;
    /// Like envelope(), with only \a known coarse buckets filled (the others 0).
    [[nodiscard]] QVector<float> partialEnvelope(qint64 frames, const std::vector<bool> &known) const;
    /// The fine buckets of the first \a frames frames, not normalised.
    [[nodiscard]] QVector<float> finePeaks(qint64 frames) const;

private:
    qint64 m_framesPerBucket;
    qint64 m_fineFrames;
    qsizetype m_coarseCount;
    qsizetype m_fineCount;
    std::unique_ptr<std::atomic<quint32>[]> m_coarse; ///< float bits: non-negative floats order as integers
    std::unique_ptr<std::atomic<quint32>[]> m_fine;
};

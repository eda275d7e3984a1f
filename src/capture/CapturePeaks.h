#pragma once

#include <QVector>

#include <cstdint>
#include <vector>

/// The fine peak levels of a take as its 16-bit PCM writer stores it, kept while it records:
/// the loudest sample, rounded and clipped as libsndfile writes it, of every run of fine frames
/// (grouped as PeakBuckets::fineFramesFor groups the finished take's frames). Fed on the writer
/// thread; read once that thread has ended.
class CapturePeaks {
public:
    explicit CapturePeaks(int channels);

    /// Adds \a frames interleaved frames that were written.
    void add(const float *interleaved, std::int64_t frames);

    [[nodiscard]] std::int64_t frames() const { return m_frames; }
    [[nodiscard]] std::int64_t fineFrames() const { return m_fineFrames; }
    /// The loudest sample of each run of fineFrames() frames (the last may be shorter), 0...1.
    [[nodiscard]] QVector<float> finePeaks() const;

    /// The 16-bit sample libsndfile writes for \a sample with clipping on: the sample times 2^31,
    /// rounded to nearest and clipped to 32 bits, then its upper 16 bits (NaN becomes -32768).
    [[nodiscard]] static int pcm16(float sample);

private:
    void coarsen();

    int m_channels;
    std::int64_t m_frames = 0;
    std::int64_t m_fineFrames = 256;
    std::vector<int> m_loudest; ///< per fine run, 0...32768
};

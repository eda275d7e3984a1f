#pragma once

#include "media/FFmpegHandles.h"

#include <vector>

struct AudioBuffer;

/// Turns decoded frames into what the precise estimators read: the channel average,
/// resampled to one fixed rate whatever the file's own.
class AnalysisResampler {
public:
    /// The rate of the samples it gives: room for the notes up to B6 and for onsets.
    static constexpr double rate = 12000;

    /// For frames at \a sourceRate; throws AppError when FFmpeg cannot convert from it.
    explicit AnalysisResampler(double sourceRate);

    /// Adds the first \a frames frames of \a buffer.
    void push(const AudioBuffer &buffer, std::size_t frames);
    /// Flushes the converter and hands over every sample so far.
    [[nodiscard]] std::vector<float> finish();

private:
    void convert(const float *input, int count);

    FFmpeg::Resampler m_resampler;
    std::vector<float> m_mono;
    std::vector<float> m_output;
};

#include "capture/CapturePeaks.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {
/// As PeakBuckets::fineFramesFor allows.
constexpr std::size_t mostFineRuns = 1 << 19;
} // namespace

CapturePeaks::CapturePeaks(int channels) : m_channels(std::max(1, channels)) {}

int CapturePeaks::pcm16(float sample)
{
    if (std::isnan(sample))
        return -32768;
    const float scaled = sample * 2147483648.0f;
    int wide;
    if (scaled >= 2147483647.0f)
        wide = INT_MAX;
    else if (scaled <= -2147483648.0f)
        wide = INT_MIN;
    else
        wide = int(std::lrint(scaled));
    return wide >> 16;
}

void CapturePeaks::add(const float *interleaved, std::int64_t frames)
{
    for (std::int64_t i = 0; i < frames; ++i, ++m_frames) {
        auto run = std::size_t(m_frames / m_fineFrames);
        if (run >= mostFineRuns) {
            coarsen();
            run = std::size_t(m_frames / m_fineFrames);
        }
        if (run >= m_loudest.size())
            m_loudest.resize(run + 1, 0);
        int loudest = m_loudest[run];
        for (int c = 0; c < m_channels; ++c)
            loudest = std::max(loudest, std::abs(pcm16(interleaved[i * m_channels + c])));
        m_loudest[run] = loudest;
    }
}

void CapturePeaks::coarsen()
{
    for (std::size_t i = 0; 2 * i < m_loudest.size(); ++i)
        m_loudest[i] = std::max(m_loudest[2 * i], 2 * i + 1 < m_loudest.size() ? m_loudest[2 * i + 1] : 0);
    m_loudest.resize((m_loudest.size() + 1) / 2);
    m_fineFrames *= 2;
}

QVector<float> CapturePeaks::finePeaks() const
{
    QVector<float> peaks(qsizetype(m_loudest.size()));
    for (std::size_t i = 0; i < m_loudest.size(); ++i)
        peaks[qsizetype(i)] = float(m_loudest[i]) / 32768.0f;
    return peaks;
}

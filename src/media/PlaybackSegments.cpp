#include "media/PlaybackSegments.h"

#include <algorithm>

void PlaybackSegments::append(qint64 streamFrame, qint64 fileFrame, qint64 count)
{
    if (count <= 0)
        return;
    if (!m_runs.empty()) {
        auto &last = m_runs.back();
        if (last.streamFrame + last.count == streamFrame && last.fileFrame + last.count == fileFrame) {
            last.count += count;
            return;
        }
    }
    m_runs.push_back({streamFrame, fileFrame, count});
}

std::optional<qint64> PlaybackSegments::fileFrameAt(qint64 streamFrame) const
{
    if (m_runs.empty())
        return std::nullopt;
    // The last run that starts at or before the frame.
    auto after = std::upper_bound(m_runs.begin(), m_runs.end(), streamFrame,
                                  [](qint64 frame, const Run &run) { return frame < run.streamFrame; });
    if (after == m_runs.begin())
        return m_runs.front().fileFrame;
    const auto &run = *std::prev(after);
    return run.fileFrame + std::min(streamFrame - run.streamFrame, run.count);
}

qint64 PlaybackSegments::endStreamFrame() const
{
    return m_runs.empty() ? 0 : m_runs.back().streamFrame + m_runs.back().count;
}

void PlaybackSegments::dropBefore(qint64 streamFrame)
{
    while (m_runs.size() > 1 && m_runs[1].streamFrame <= streamFrame)
        m_runs.pop_front();
}

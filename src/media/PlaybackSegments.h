#pragma once

#include <QtGlobal>
#include <deque>
#include <optional>

/// Which file frames went into which stream frames, so the frame being heard maps back to a
/// place in the file across loop seams.
class PlaybackSegments {
public:
    /// Records that stream frames from \a streamFrame on carry \a count file frames from
    /// \a fileFrame on; a run that continues the last one extends it.
    void append(qint64 streamFrame, qint64 fileFrame, qint64 count);
    /// The file frame heard at \a streamFrame: before the first run its start, past the last
    /// run its end; none when nothing was recorded.
    [[nodiscard]] std::optional<qint64> fileFrameAt(qint64 streamFrame) const;
    /// The stream frame after the last recorded run.
    [[nodiscard]] qint64 endStreamFrame() const;
    /// Forgets runs that end before \a streamFrame, keeping the one that holds it.
    void dropBefore(qint64 streamFrame);

private:
    struct Run {
        qint64 streamFrame;
        qint64 fileFrame;
        qint64 count;
    };
    std::deque<Run> m_runs;
};

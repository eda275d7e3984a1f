#pragma once

#include "media/AudioBuffer.h"
#include "media/PlaybackSelection.h"

#include <QtGlobal>
#include <vector>

class AudioFileReader;
class PlaybackSegments;

/// Decodes a file in play order for a playback stream: from the selection's start to its end,
/// and with looping straight on from the start again inside the same buffer, so a seam has
/// neither a gap nor a doubled frame.
class PlaybackFeeder {
public:
    /// \a reader outlives the feeder.
    explicit PlaybackFeeder(AudioFileReader &reader);

    /// Takes a new selection; the next fill continues from the current place when it lies in
    /// the new selection, else it wraps to the start (looping) or finishes.
    void setSelection(const PlaybackSelection &selection);
    /// Moves to the selection's start. Throws AudioFileError.
    void seekToStart();
    /// True when the selection has been fed to its end and does not loop.
    [[nodiscard]] bool finished() const { return m_finished; }
    /// The frame the next fill starts at.
    [[nodiscard]] qint64 position() const { return m_position; }

    /// Appends up to \a frames interleaved frames to \a out and records them in \a segments as
    /// stream frames from \a streamFrame on. Returns the frames appended, fewer only at the
    /// end. Throws AudioFileError.
    qint64 fill(std::vector<float> &out, qint64 frames, PlaybackSegments &segments, qint64 streamFrame);

private:
    /// Back to the start for another round; false (and finished) when not looping or when the
    /// last round brought no audio.
    bool wrap();

    AudioFileReader &m_reader;
    AudioBuffer m_buffer;
    double m_sampleRate;
    qint64 m_fileEnd; ///< the stated length, lowered when the audio ends earlier
    qint64 m_start = 0;
    qint64 m_end = 0;
    bool m_loop = false;
    qint64 m_position = 0;
    bool m_finished = false;
    int m_emptyWraps = 0; ///< wraps since the last audio read
};

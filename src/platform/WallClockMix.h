#pragma once

#include <QtGlobal>

#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <vector>

/// The sum of several streams laid on the wall clock: each stream's audio lands where it played,
/// judged from when it arrived: audio delivered late or in bursts is neither doubled nor dropped,
/// a stream that pauses leaves silence, and a clock that runs fast loses 60 ms now and then
/// rather than a little everywhere. Not thread-safe.
class WallClockMix {
public:
    /// Frames are \a channels interleaved samples at \a sampleRate; the mix is taken \a delay
    /// frames behind the clock, and audio later than that starts anew where it arrives.
    WallClockMix(int channels, int sampleRate, std::int64_t delay);

    /// \a frames of stream \a stream were received at mix frame \a receivedAt (null \a samples: a
    /// hole the server left, heard as silence).
    void add(quint32 stream, const std::int16_t *samples, std::int64_t frames, std::int64_t receivedAt);
    /// Stream \a stream ended; what it delivered is still mixed. Its number may come again.
    void end(quint32 stream);
    /// The mix from the last frame taken up to \a frame, silence where nothing played.
    std::vector<std::int16_t> take(std::int64_t frame);
    /// The first frame not yet taken.
    [[nodiscard]] std::int64_t taken() const { return m_taken; }

private:
    /// Audio of one stream laid contiguously from \a start.
    struct Run {
        std::int64_t start = 0;
        std::vector<std::int16_t> samples;
    };
    struct Stream {
        std::deque<Run> runs;
        std::int64_t base = 0;     ///< where the current run's first frame played
        std::int64_t received = 0; ///< frames of the current run so far
        std::int64_t windowStart = 0;
        std::int64_t windowLeast = std::numeric_limits<std::int64_t>::max(); ///< least lateness in the window
    };

    void startRun(Stream &stream, std::int64_t at);
    void append(Stream &stream, const std::int16_t *samples, std::int64_t frames);
    /// Drops what of the current run lies before the mix or the stream's previous run.
    void trimCurrent(Stream &stream);
    void trimBefore(Run &run, std::int64_t frame) const;
    void mixRun(Run &run, std::int64_t frame, std::vector<std::int32_t> &sum) const;
    [[nodiscard]] std::int64_t framesOf(const Run &run) const;

    std::size_t m_channels;
    std::int64_t m_delay;
    std::int64_t m_tolerance; ///< how far delivery jitters either way
    std::int64_t m_window;    ///< how long a stream stays late before its audio moves later
    std::int64_t m_taken = 0;
    std::map<quint32, Stream> m_streams;
    std::vector<Run> m_ended; ///< runs of ended streams still to be taken
};

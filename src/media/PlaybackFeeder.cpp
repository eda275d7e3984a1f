#include "media/PlaybackFeeder.h"

#include "media/AudioFileReader.h"
#include "media/PlaybackSegments.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
/// Frames decoded per read.
constexpr qint64 readFrames = 4096;
} // namespace

PlaybackFeeder::PlaybackFeeder(AudioFileReader &reader)
    : m_reader(reader), m_sampleRate(reader.sampleRate()),
      m_fileEnd(reader.length() > 0 ? reader.length() : std::numeric_limits<qint64>::max())
{
    m_end = m_fileEnd;
}

void PlaybackFeeder::setSelection(const PlaybackSelection &selection)
{
    m_start = std::min(qint64(std::llround(selection.start * m_sampleRate)), m_fileEnd);
    m_end =
        selection.end ? std::clamp(qint64(std::llround(*selection.end * m_sampleRate)), m_start, m_fileEnd) : m_fileEnd;
    m_loop = selection.loop;
    m_finished = false;
}

void PlaybackFeeder::seekToStart()
{
    m_reader.seek(m_start);
    m_position = m_start;
    m_finished = false;
}

bool PlaybackFeeder::wrap()
{
    if (!m_loop || m_start >= m_end || m_emptyWraps > 0) {
        m_finished = true;
        return false;
    }
    seekToStart();
    ++m_emptyWraps;
    return true;
}

qint64 PlaybackFeeder::fill(std::vector<float> &out, qint64 frames, PlaybackSegments &segments, qint64 streamFrame)
{
    qint64 written = 0;
    while (written < frames && !m_finished) {
        if (m_position >= m_end || m_position < m_start) {
            if (!wrap())
                break;
            continue;
        }
        const auto want = std::min({frames - written, m_end - m_position, readFrames});
        const auto got = m_reader.read(m_buffer, want);
        if (got <= 0) {
            // The audio ends before the length its container states.
            m_fileEnd = m_position;
            m_end = std::min(m_end, m_fileEnd);
            m_start = std::min(m_start, m_fileEnd);
            if (!wrap())
                break;
            continue;
        }
        const auto channels = m_buffer.channelCount();
        const auto base = out.size();
        out.resize(base + std::size_t(got * channels));
        for (qint64 frame = 0; frame < got; ++frame)
            for (int channel = 0; channel < channels; ++channel)
                out[base + std::size_t(frame * channels + channel)] = m_buffer.channels[channel][std::size_t(frame)];
        segments.append(streamFrame + written, m_position, got);
        m_position += got;
        written += got;
        m_emptyWraps = 0;
    }
    return written;
}

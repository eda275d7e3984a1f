#include "platform/WallClockMix.h"

#include <algorithm>
#include <limits>

WallClockMix::WallClockMix(int channels, int sampleRate, std::int64_t delay)
    : m_channels(std::size_t(std::max(1, channels))), m_delay(delay),
      m_tolerance(std::int64_t(std::max(0, sampleRate)) * 60 / 1000), m_window(std::max(0, sampleRate))
{}

void WallClockMix::add(quint32 id, const std::int16_t *samples, std::int64_t frames, std::int64_t receivedAt)
{
    if (frames <= 0)
        return;
    const auto arrival = receivedAt - frames;
    auto [found, fresh] = m_streams.try_emplace(id);
    auto &stream = found->second;
    if (fresh) {
        startRun(stream, arrival);
    } else {
        // A chunk arrives late, never before it played. Late by jitter, it still follows on;
        // early beyond jitter, it shows where the run played (a first burst, a fast clock).
        auto lateness = arrival - (stream.base + stream.received);
        if (lateness < -m_tolerance) {
            stream.base += lateness;
            if (!stream.runs.back().samples.empty())
                stream.runs.back().start += lateness;
            trimCurrent(stream);
            lateness = 0;
        }
        stream.windowLeast = std::min(stream.windowLeast, lateness);
        if (lateness > m_delay) {
            // Its place has been taken already: the stream paused.
            startRun(stream, arrival);
        } else if (arrival - stream.windowStart >= m_window) {
            // Late all through the window: a short pause, or a clock slower than the wall's.
            if (stream.windowLeast > m_tolerance)
                startRun(stream, stream.base + stream.received + stream.windowLeast);
            stream.windowStart = arrival;
            stream.windowLeast = std::numeric_limits<std::int64_t>::max();
        }
    }
    append(stream, samples, frames);
}

void WallClockMix::end(quint32 id)
{
    const auto found = m_streams.find(id);
    if (found == m_streams.end())
        return;
    for (auto &run : found->second.runs)
        if (!run.samples.empty())
            m_ended.push_back(std::move(run));
    m_streams.erase(found);
}

std::vector<std::int16_t> WallClockMix::take(std::int64_t frame)
{
    if (frame <= m_taken)
        return {};
    std::vector<std::int32_t> sum(std::size_t(frame - m_taken) * m_channels, 0);
    for (auto &[id, stream] : m_streams) {
        for (auto &run : stream.runs)
            mixRun(run, frame, sum);
        // The current run stays, empty or not, for the stream's next audio.
        while (stream.runs.size() > 1 && stream.runs.front().samples.empty())
            stream.runs.pop_front();
    }
    for (auto &run : m_ended)
        mixRun(run, frame, sum);
    std::erase_if(m_ended, [](const Run &run) { return run.samples.empty(); });
    m_taken = frame;
    std::vector<std::int16_t> mixed(sum.size());
    std::transform(sum.begin(), sum.end(), mixed.begin(), [](std::int32_t value) {
        return std::int16_t(std::clamp<std::int32_t>(value, std::numeric_limits<std::int16_t>::min(),
                                                     std::numeric_limits<std::int16_t>::max()));
    });
    return mixed;
}

void WallClockMix::startRun(Stream &stream, std::int64_t at)
{
    stream.base = at;
    stream.received = 0;
    stream.windowStart = at;
    stream.windowLeast = std::numeric_limits<std::int64_t>::max();
    stream.runs.push_back(Run{at, {}});
}

void WallClockMix::append(Stream &stream, const std::int16_t *samples, std::int64_t frames)
{
    auto &run = stream.runs.back();
    const auto place = stream.base + stream.received;
    stream.received += frames;
    if (run.samples.empty())
        run.start = place;
    const auto end = run.start + framesOf(run);
    const auto skip = std::clamp<std::int64_t>(end - place, 0, frames);
    run.samples.resize(run.samples.size() + std::size_t(std::max<std::int64_t>(0, place - end)) * m_channels, 0);
    if (samples)
        run.samples.insert(run.samples.end(), samples + std::size_t(skip) * m_channels,
                           samples + std::size_t(frames) * m_channels);
    else
        run.samples.resize(run.samples.size() + std::size_t(frames - skip) * m_channels, 0);
    trimCurrent(stream);
}

void WallClockMix::trimCurrent(Stream &stream)
{
    auto floor = m_taken;
    if (stream.runs.size() > 1) {
        const auto &previous = stream.runs[stream.runs.size() - 2];
        floor = std::max(floor, previous.start + framesOf(previous));
    }
    trimBefore(stream.runs.back(), floor);
}

void WallClockMix::trimBefore(Run &run, std::int64_t frame) const
{
    if (run.start >= frame)
        return;
    const auto dropped = std::min(frame - run.start, framesOf(run));
    run.samples.erase(run.samples.begin(), run.samples.begin() + std::ptrdiff_t(dropped) * std::ptrdiff_t(m_channels));
    run.start = frame;
}

void WallClockMix::mixRun(Run &run, std::int64_t frame, std::vector<std::int32_t> &sum) const
{
    trimBefore(run, m_taken);
    const auto last = std::min(run.start + framesOf(run), frame);
    if (last > run.start) {
        auto *to = sum.data() + std::size_t(run.start - m_taken) * m_channels;
        const auto count = std::size_t(last - run.start) * m_channels;
        for (std::size_t i = 0; i < count; ++i)
            to[i] += run.samples[i];
    }
    if (!run.samples.empty())
        trimBefore(run, frame);
}

std::int64_t WallClockMix::framesOf(const Run &run) const
{
    return std::int64_t(run.samples.size() / m_channels);
}

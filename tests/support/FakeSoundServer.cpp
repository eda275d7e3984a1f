#include "support/FakeSoundServer.h"

#include "support/AudioFixtures.h"

#include <cmath>

class FakeSoundServer::Source final : public CaptureSource {
public:
    Source(FakeSoundServer *server, std::list<Open>::iterator open) : m_server(server), m_open(open) {}
    ~Source() override
    {
        const std::lock_guard lock(m_server->m_mutex);
        m_server->m_open.erase(m_open);
    }
    void flush() override {}

private:
    FakeSoundServer *m_server;
    std::list<Open>::iterator m_open;
};

class FakeSoundServer::StreamWatch final : public SoundServer::Watch {
public:
    StreamWatch(FakeSoundServer *server, WatchHandlers handlers) : m_server(server), m_handlers(std::move(handlers))
    {
        const std::lock_guard lock(m_server->m_mutex);
        m_server->m_watches.push_back(&m_handlers);
    }
    ~StreamWatch() override
    {
        const std::lock_guard lock(m_server->m_mutex);
        m_server->m_watches.remove(&m_handlers);
    }

private:
    FakeSoundServer *m_server;
    WatchHandlers m_handlers;
};

std::unique_ptr<CaptureSource> FakeSoundServer::openCapture(const CaptureTarget &target, int, int,
                                                            CaptureSource::Handlers handlers)
{
    if (holdOpen)
        (void)openGate.tryAcquire(1, 10000); // bounded, so a failed check never hangs
    const std::lock_guard lock(m_mutex);
    m_lastTarget = target;
    if (openFailure)
        throw SoundServerError(*openFailure);
    m_open.push_back({target, std::move(handlers)});
    ++opened;
    return std::make_unique<Source>(this, std::prev(m_open.end()));
}

std::unique_ptr<SoundServer::Watch> FakeSoundServer::watchPlaybackStreams(WatchHandlers handlers)
{
    if (openFailure)
        throw SoundServerError(*openFailure);
    auto watch = std::make_unique<StreamWatch>(this, handlers);
    handlers.changed(streams);
    return watch;
}

CaptureTarget FakeSoundServer::lastTarget()
{
    const std::lock_guard lock(m_mutex);
    return m_lastTarget;
}

int FakeSoundServer::running()
{
    const std::lock_guard lock(m_mutex);
    return int(m_open.size());
}

bool FakeSoundServer::running(const CaptureTarget &target)
{
    const std::lock_guard lock(m_mutex);
    return std::any_of(m_open.begin(), m_open.end(), [&](const Open &open) { return open.target == target; });
}

void FakeSoundServer::deliver(const CaptureBuffer &buffer, const std::optional<CaptureTarget> &target)
{
    const std::lock_guard lock(m_mutex);
    for (auto &open : m_open) {
        if (!target || open.target == *target)
            open.handlers.audio(std::make_shared<CaptureBuffer>(buffer));
    }
}

void FakeSoundServer::feedSine(double seconds, double frequency, double amplitude,
                               const std::optional<CaptureTarget> &target)
{
    const auto total = long(seconds * rate);
    const auto samples = AudioFixtures::sine(total, frequency, amplitude, rate, 2);
    for (long offset = 0; offset < total; offset += 2400) {
        CaptureBuffer buffer;
        for (auto i = 2 * offset; i < 2 * std::min(total, offset + 2400); ++i)
            buffer.samples.push_back(std::int16_t(std::lround(samples[std::size_t(i)] * 32767)));
        deliver(buffer, target);
    }
}

void FakeSoundServer::failSource()
{
    const std::lock_guard lock(m_mutex);
    for (auto &open : m_open)
        open.handlers.failed();
}

void FakeSoundServer::report(std::vector<PlaybackStream> now)
{
    const std::lock_guard lock(m_mutex);
    streams = std::move(now);
    for (auto *watch : m_watches)
        watch->changed(streams);
}

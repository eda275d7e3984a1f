#include "support/FakeSoundServer.h"

#include "support/AudioFixtures.h"

class FakeSoundServer::Source final : public CaptureSource {
public:
    explicit Source(FakeSoundServer *server) : m_server(server) {}
    ~Source() override
    {
        const std::lock_guard lock(m_server->m_mutex);
        m_server->m_handlers.reset();
    }

private:
    FakeSoundServer *m_server;
};

std::unique_ptr<CaptureSource> FakeSoundServer::openCapture(CaptureDevice device, int, int,
                                                            CaptureSource::Handlers handlers)
{
    if (holdOpen)
        (void)openGate.tryAcquire(1, 10000); // bounded, so a failed check never hangs

    m_lastDevice = device;
    if (openFailure)
        throw SoundServerError(*openFailure);
    const std::lock_guard lock(m_mutex);
    m_handlers = std::move(handlers);
    ++opened;
    return std::make_unique<Source>(this);
}

bool FakeSoundServer::running()
{
    const std::lock_guard lock(m_mutex);
    return m_handlers.has_value();
}

void FakeSoundServer::deliver(CaptureBuffer buffer)
{
    const std::lock_guard lock(m_mutex);
    if (m_handlers)
        m_handlers->audio(std::move(buffer));
}

void FakeSoundServer::feedSine(double seconds, double frequency, double amplitude)
{
    const auto total = long(seconds * rate);
    const auto samples = AudioFixtures::sine(total, frequency, amplitude, rate, 2);
    for (long offset = 0; offset < total; offset += 960)
        deliver(
            {std::vector<float>(samples.begin() + 2 * offset, samples.begin() + 2 * std::min(total, offset + 960)), 2});
}

void FakeSoundServer::failSource()
{
    const std::lock_guard lock(m_mutex);
    if (m_handlers)
        m_handlers->failed();
}

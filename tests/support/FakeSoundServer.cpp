#include "support/FakeSoundServer.h"

#include <cmath>

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
        openGate.acquire();
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
    const auto total = qint64(seconds * rate);
    for (qint64 offset = 0; offset < total; offset += 960) {
        const auto frames = std::min<qint64>(960, total - offset);
        CaptureBuffer buffer;
        buffer.samples.resize(frames * 2);
        for (qint64 i = 0; i < frames; ++i) {
            const auto value = float(amplitude * std::sin(2 * M_PI * frequency * double(offset + i) / rate));
            buffer.samples[2 * i] = buffer.samples[2 * i + 1] = value;
        }
        deliver(std::move(buffer));
    }
}

void FakeSoundServer::failSource()
{
    const std::lock_guard lock(m_mutex);
    if (m_handlers)
        m_handlers->failed();
}

#pragma once

#include "platform/SoundServer.h"
#include "platform/SoundServerError.h"

#include <QSemaphore>
#include <atomic>
#include <mutex>
#include <optional>

/// A sound server whose one capture source the test feeds by hand.
class FakeSoundServer final : public SoundServer {
public:
    static constexpr int rate = 48000;

    std::optional<SoundServerError::Code> openFailure;
    std::atomic<bool> holdOpen = false; ///< openCapture waits for openGate (10 s at most)
    QSemaphore openGate;
    std::atomic<int> opened = 0;
    std::vector<PlaybackStream> streams; ///< what playbackStreams() answers

    std::unique_ptr<CaptureSource> openCapture(CaptureDevice device, int, int,
                                               CaptureSource::Handlers handlers) override;
    std::vector<PlaybackStream> playbackStreams() override { return streams; }

    [[nodiscard]] CaptureDevice lastDevice() const { return m_lastDevice; }
    [[nodiscard]] bool running();
    /// Delivers \a buffer as the server's thread would.
    void deliver(CaptureBuffer buffer);
    /// Delivers \a seconds of a stereo sine in 20 ms buffers.
    void feedSine(double seconds, double frequency = 440, double amplitude = 0.5);
    /// Ends the running source as a vanished server would.
    void failSource();

private:
    class Source;
    std::mutex m_mutex;
    std::optional<CaptureSource::Handlers> m_handlers;
    std::atomic<CaptureDevice> m_lastDevice = CaptureDevice::defaultSource;
};

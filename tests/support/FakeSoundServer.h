#pragma once

#include "platform/SoundServer.h"
#include "platform/SoundServerError.h"

#include <QSemaphore>
#include <atomic>
#include <list>
#include <mutex>
#include <optional>

/// A sound server whose capture sources the test feeds by hand.
class FakeSoundServer final : public SoundServer {
public:
    static constexpr int rate = 48000;

    std::optional<SoundServerError::Code> openFailure;
    std::atomic<bool> holdOpen = false; ///< openCapture waits for openGate (10 s at most)
    QSemaphore openGate;
    std::atomic<int> opened = 0;
    std::vector<PlaybackStream> streams; ///< what playbackStreams() answers

    std::unique_ptr<CaptureSource> openCapture(const CaptureTarget &target, int, int,
                                               CaptureSource::Handlers handlers) override;
    std::vector<PlaybackStream> playbackStreams() override { return streams; }
    std::unique_ptr<Watch> watchPlaybackStreams(WatchHandlers handlers) override;

    [[nodiscard]] CaptureTarget lastTarget();
    /// Sources now open.
    [[nodiscard]] int running();
    [[nodiscard]] bool running(const CaptureTarget &target);
    /// Delivers \a buffer to every open source (of \a target only, when given) as the server's
    /// thread would.
    void deliver(const CaptureBuffer &buffer, const std::optional<CaptureTarget> &target = {});
    /// Delivers \a seconds of a stereo sine in 50 ms buffers.
    void feedSine(double seconds, double frequency = 440, double amplitude = 0.5,
                  const std::optional<CaptureTarget> &target = {});
    /// Ends the open sources as a vanished server would.
    void failSource();
    /// Sets streams and reports them to every watch.
    void report(std::vector<PlaybackStream> now);

private:
    class Source;
    class StreamWatch;
    struct Open {
        CaptureTarget target;
        CaptureSource::Handlers handlers;
    };
    std::mutex m_mutex;
    std::list<Open> m_open;
    std::list<WatchHandlers *> m_watches;
    CaptureTarget m_lastTarget = CaptureTarget::defaultInput();
};

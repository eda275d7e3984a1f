#pragma once

#include "capture/RollingAudioWindow.h"
#include "platform/CaptureTarget.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class CaptureSource;
class CaptureWriterQueue;
class SoundServer;

/// The long-lived capture of one target: its sound-server stream, the rolling window of what it
/// heard and the take writer it feeds. Opening and flushing wait for the sound server: never on
/// the GUI thread. Everything else may be called from any thread.
class LiveCapture {
public:
    /// Opens the capture of \a target, keeping \a windowFrames frames; \a failed runs (on the
    /// sound server's thread) when it ends on its own. Throws SoundServerError.
    LiveCapture(SoundServer &server, CaptureTarget target, int sampleRate, int channelCount, std::int64_t windowFrames,
                std::function<void()> failed);
    ~LiveCapture();
    LiveCapture(const LiveCapture &) = delete;
    LiveCapture &operator=(const LiveCapture &) = delete;

    [[nodiscard]] const CaptureTarget &target() const { return m_target; }
    [[nodiscard]] int sampleRate() const { return m_sampleRate; }
    [[nodiscard]] bool hasFailed() const { return m_failed; }

    /// Keeps the last \a frames frames from now on (0: none).
    void setWindow(std::int64_t frames);
    /// Frames in the window now.
    [[nodiscard]] std::int64_t heldFrames() const;
    /// Feeds \a writer from now on, starting with the window's newest \a preRollFrames frames.
    void attach(std::shared_ptr<CaptureWriterQueue> writer, std::int64_t preRollFrames);
    /// Lets the audio in transit arrive, then stops feeding the writer.
    void detach();
    /// Stops feeding the writer at once.
    void stopFeeding();
    /// The window's newest \a frames frames, once the audio in transit has arrived.
    [[nodiscard]] RollingAudioWindow::Audio keptAudio(std::int64_t frames);

private:
    void deliver(SharedCaptureBuffer buffer);
    void fail();

    const CaptureTarget m_target;
    const int m_sampleRate;
    std::function<void()> m_failedHandler;
    std::atomic<bool> m_failed = false;
    mutable std::mutex m_mutex;
    RollingAudioWindow m_window;
    std::shared_ptr<CaptureWriterQueue> m_writer;
    /// Last, so it goes first: no handler runs into the members above once it is gone.
    std::unique_ptr<CaptureSource> m_source;
};

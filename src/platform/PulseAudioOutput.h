#pragma once

#include "platform/AudioOutput.h"
#include "platform/PulseConnection.h"

#include <QByteArray>
#include <atomic>
#include <condition_variable>
#include <mutex>

/// A float playback stream on the sound server's default output, with its own connection.
class PulseAudioOutput final : public AudioOutput {
public:
    /// Connects and waits until the stream is ready. Throws SoundServerError.
    PulseAudioOutput(const QByteArray &server, int sampleRate, int channelCount);
    ~PulseAudioOutput() override;

    /// An opener for \a server (empty: the desktop's server).
    [[nodiscard]] static Opener opener(QByteArray server = {});

    [[nodiscard]] qint64 writableFrames() override;
    void write(const float *interleaved, qint64 frames) override;
    void flushOut() override;
    [[nodiscard]] qint64 heardFrame() override;
    void waitForRequest(std::chrono::milliseconds timeout) override;
    [[nodiscard]] bool failed() const override { return m_failed; }

private:
    static void onWrite(pa_stream *stream, size_t bytes, void *self);
    static void onStateChange(pa_stream *stream, void *self);
    /// Locked: creates the stream and waits until it is ready.
    void connectStream();
    void wake();

    pa_sample_spec m_spec{};
    std::size_t m_frameBytes = 0;
    std::mutex m_mutex;
    std::condition_variable m_requested;
    bool m_pendingRequest = false;
    std::atomic<bool> m_failed = false;
    bool m_ready = false;
    PulseConnection m_connection;
    Pulse::Stream m_stream;
};

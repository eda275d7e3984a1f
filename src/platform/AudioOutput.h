#pragma once

#include <QtGlobal>
#include <chrono>
#include <functional>
#include <memory>

/// A float playback stream of the sound server that a feeder thread writes ahead into. Frames
/// are counted from the stream's start; all members are called from that one feeder thread.
class AudioOutput {
public:
    /// Opens a stream of interleaved float frames at \a sampleRate and \a channelCount; may block
    /// while the server answers. Throws SoundServerError.
    using Opener = std::function<std::unique_ptr<AudioOutput>(int sampleRate, int channelCount)>;

    virtual ~AudioOutput() = default;

    /// How many frames the stream takes now without growing its buffer beyond its target.
    [[nodiscard]] virtual qint64 writableFrames() = 0;
    /// Appends \a frames interleaved frames.
    virtual void write(const float *interleaved, qint64 frames) = 0;
    /// Starts playing what was written even when it is less than the stream's start threshold.
    virtual void flushOut() = 0;
    /// The frame being heard now, from the stream's timing; 0 before playback starts.
    [[nodiscard]] virtual qint64 heardFrame() = 0;
    /// Sleeps until the stream asks for more, or \a timeout passes.
    virtual void waitForRequest(std::chrono::milliseconds timeout) = 0;
    /// True once the server dropped the stream.
    [[nodiscard]] virtual bool failed() const = 0;
};

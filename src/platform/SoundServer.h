#pragma once

#include "platform/CaptureSource.h"
#include "platform/PlaybackStream.h"

#include <memory>
#include <vector>

/// The desktop's sound server as the capture and source-context services use it.
class SoundServer {
public:
    /// What a capture records.
    enum class CaptureDevice {
        defaultSinkMonitor, ///< everything the default output plays
        defaultSource,      ///< the default input, usually the microphone
    };

    virtual ~SoundServer() = default;

    /// Opens a float record stream at \a sampleRate and \a channelCount (the server converts)
    /// and returns once it runs. Throws SoundServerError.
    [[nodiscard]] virtual std::unique_ptr<CaptureSource>
    openCapture(CaptureDevice device, int sampleRate, int channelCount, CaptureSource::Handlers handlers) = 0;
    /// The playback streams now open. Throws SoundServerError.
    [[nodiscard]] virtual std::vector<PlaybackStream> playbackStreams() = 0;
};

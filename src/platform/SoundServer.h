#pragma once

#include "platform/CaptureSource.h"
#include "platform/CaptureTarget.h"
#include "platform/PlaybackStream.h"

#include <functional>
#include <memory>
#include <vector>

/// The desktop's sound server as the capture and source-context services use it.
class SoundServer {
public:
    /// Reports the playback streams until it is destroyed; no report runs afterwards.
    class Watch {
    public:
        virtual ~Watch() = default;
    };
    /// Called on the sound server's thread with every stream now open, or once when the
    /// connection is lost.
    struct WatchHandlers {
        std::function<void(std::vector<PlaybackStream>)> changed;
        std::function<void()> failed;
    };

    virtual ~SoundServer() = default;

    /// Opens a 16-bit capture of \a target at \a sampleRate and \a channelCount (the server
    /// converts) and returns once it runs. An application target records silence while the
    /// application plays nothing. Throws SoundServerError.
    [[nodiscard]] virtual std::unique_ptr<CaptureSource>
    openCapture(const CaptureTarget &target, int sampleRate, int channelCount, CaptureSource::Handlers handlers) = 0;
    /// The playback streams now open. Throws SoundServerError.
    [[nodiscard]] virtual std::vector<PlaybackStream> playbackStreams() = 0;
    /// Reports the playback streams now and after every change. Throws SoundServerError.
    [[nodiscard]] virtual std::unique_ptr<Watch> watchPlaybackStreams(WatchHandlers handlers) = 0;
};

#pragma once

#include "platform/SoundServer.h"

#include <QByteArray>
#include <pulse/introspect.h>

/// The PulseAudio (or PipeWire-pulse) server. Each call opens its own connection and waits
/// a bounded time, so any thread may call it, several at once.
class PulseSoundServer final : public SoundServer {
public:
    /// \a server as libpulse takes it ("unix:/path/native"); empty: the desktop's server.
    explicit PulseSoundServer(QByteArray server = {}) : m_server(std::move(server)) {}

    [[nodiscard]] std::unique_ptr<CaptureSource> openCapture(const CaptureTarget &target, int sampleRate,
                                                             int channelCount,
                                                             CaptureSource::Handlers handlers) override;
    /// Throws SoundServerError (unreachable) when the server does not answer within seconds.
    [[nodiscard]] std::vector<PlaybackStream> playbackStreams() override;
    [[nodiscard]] std::unique_ptr<Watch> watchPlaybackStreams(WatchHandlers handlers) override;

    /// The stream \a info describes; on the default output when its sink is \a defaultSink.
    [[nodiscard]] static PlaybackStream playbackStream(const pa_sink_input_info &info,
                                                       std::optional<quint32> defaultSink);

private:
    QByteArray m_server;
};

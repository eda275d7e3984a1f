#pragma once

#include "library/RecordingSourceContext.h"
#include "platform/PlaybackStream.h"
#include "platform/RunningApplication.h"

#include <optional>
#include <vector>

class Clock;
class SoundServer;

/// Works out where the sound of a system-audio take comes from: the application playing on
/// the default output. Keeps no state between calls; every failure reads as no answer.
class SourceContextService {
public:
    /// \a server and \a clock outlive the service.
    SourceContextService(SoundServer &server, Clock &clock) : m_server(server), m_clock(clock) {}

    /// The application whose stream plays on the default output, preferring
    /// \a latestForegroundApp when several play; with nothing playing, that application
    /// itself. Applications whose identifier is \a ignoringBundleIdentifier never count.
    /// Blocks while the sound server answers.
    [[nodiscard]] std::optional<RecordingSourceContext>
    bestCandidate(const std::optional<RunningApplication> &latestForegroundApp,
                  const std::optional<QString> &ignoringBundleIdentifier) const;

    /// The stream's application identifier: application.id, else the process binary.
    [[nodiscard]] static std::optional<QString> bundleIdentifier(const PlaybackStream &stream);

private:
    [[nodiscard]] std::vector<PlaybackStream> playingStreams(const std::optional<QString> &ignoring) const;
    [[nodiscard]] RecordingSourceContext context(const PlaybackStream &stream) const;
    [[nodiscard]] std::optional<RecordingSourceContext> context(const RunningApplication &application,
                                                                const std::optional<QString> &ignoring) const;

    SoundServer &m_server;
    Clock &m_clock;
};

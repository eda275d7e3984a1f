#include "import/SourceContextService.h"

#include "platform/Clock.h"
#include "platform/SoundServer.h"

#include <algorithm>

namespace {
bool isApplication(const PlaybackStream &stream, const RunningApplication &application)
{
    if (application.processIdentifier && stream.processId == application.processIdentifier)
        return true;
    if (application.bundleIdentifier && SourceContextService::bundleIdentifier(stream) == application.bundleIdentifier)
        return true;
    return application.localizedName && stream.appName
        && stream.appName->compare(*application.localizedName, Qt::CaseInsensitive) == 0;
}
} // namespace

std::optional<QString> SourceContextService::bundleIdentifier(const PlaybackStream &stream)
{
    return stream.applicationId ? stream.applicationId : stream.processBinary;
}

std::optional<RecordingSourceContext>
SourceContextService::bestCandidate(const std::optional<RunningApplication> &latestForegroundApp,
                                    const std::optional<QString> &ignoringBundleIdentifier) const
{
    const auto playing = playingStreams(ignoringBundleIdentifier);
    if (playing.empty())
        return latestForegroundApp ? context(*latestForegroundApp, ignoringBundleIdentifier) : std::nullopt;
    if (latestForegroundApp) {
        const auto front = std::find_if(playing.begin(), playing.end(), [&](const PlaybackStream &stream) {
            return isApplication(stream, *latestForegroundApp);
        });
        if (front != playing.end())
            return context(*front);
    }
    // Otherwise the stream that started last.
    return context(playing.front());
}

std::vector<PlaybackStream> SourceContextService::playingStreams(const std::optional<QString> &ignoring) const
{
    std::vector<PlaybackStream> streams;
    try {
        streams = m_server.playbackStreams();
    } catch (const std::exception &) {
        return {};
    }
    std::erase_if(streams, [&](const PlaybackStream &stream) {
        return stream.corked || !stream.onDefaultSink || !(stream.appName || stream.processBinary)
            || (ignoring && bundleIdentifier(stream) == ignoring);
    });
    std::sort(streams.begin(), streams.end(),
              [](const PlaybackStream &a, const PlaybackStream &b) { return a.index > b.index; });
    return streams;
}

RecordingSourceContext SourceContextService::context(const PlaybackStream &stream) const
{
    RecordingSourceContext context;
    context.appName = stream.appName ? stream.appName : stream.processBinary;
    context.bundleIdentifier = bundleIdentifier(stream);
    context.windowTitle = stream.mediaName;
    context.capturedAt = m_clock.now();
    return context;
}

std::optional<RecordingSourceContext> SourceContextService::context(const RunningApplication &application,
                                                                    const std::optional<QString> &ignoring) const
{
    if (application.bundleIdentifier == ignoring || !application.localizedName)
        return std::nullopt;
    RecordingSourceContext context;
    context.appName = application.localizedName;
    context.bundleIdentifier = application.bundleIdentifier;
    context.capturedAt = m_clock.now();
    return context;
}

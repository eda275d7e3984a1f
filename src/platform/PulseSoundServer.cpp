#include "platform/PulseSoundServer.h"

#include "platform/PulseApplicationCapture.h"
#include "platform/PulseCaptureSource.h"
#include "platform/PulseConnection.h"
#include "platform/PulsePlaybackWatch.h"
#include "platform/SoundServerError.h"

namespace {
std::optional<QString> property(const pa_proplist *list, const char *key)
{
    const char *value = pa_proplist_gets(list, key);
    if (!value || !*value)
        return std::nullopt;
    return QString::fromUtf8(value);
}

struct StreamQuery {
    PulseConnection *connection;
    std::optional<quint32> defaultSink;
    std::vector<PlaybackStream> streams;
};

void addStream(pa_context *, const pa_sink_input_info *info, int last, void *data)
{
    auto *query = static_cast<StreamQuery *>(data);
    if (last) {
        query->connection->signal();
        return;
    }
    query->streams.push_back(PulseSoundServer::playbackStream(*info, query->defaultSink));
}

void setDefaultSink(pa_context *, const pa_sink_info *info, int last, void *data)
{
    auto *query = static_cast<StreamQuery *>(data);
    if (!last && info)
        query->defaultSink = info->index;
    query->connection->signal();
}
} // namespace

PlaybackStream PulseSoundServer::playbackStream(const pa_sink_input_info &info, std::optional<quint32> defaultSink)
{
    PlaybackStream stream;
    stream.index = info.index;
    stream.corked = info.corked;
    stream.onDefaultSink = defaultSink == info.sink;
    stream.appName = property(info.proplist, PA_PROP_APPLICATION_NAME);
    stream.applicationId = property(info.proplist, PA_PROP_APPLICATION_ID);
    stream.processBinary = property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    stream.mediaName = property(info.proplist, PA_PROP_MEDIA_NAME);
    stream.iconName = property(info.proplist, PA_PROP_APPLICATION_ICON_NAME);
    bool ok = false;
    const auto processId = property(info.proplist, PA_PROP_APPLICATION_PROCESS_ID).value_or(QString()).toLongLong(&ok);
    if (ok)
        stream.processId = processId;
    return stream;
}

std::unique_ptr<CaptureSource> PulseSoundServer::openCapture(const CaptureTarget &target, int sampleRate,
                                                             int channelCount, CaptureSource::Handlers handlers)
{
    if (target.kind == CaptureTarget::Kind::application)
        return std::make_unique<PulseApplicationCapture>(m_server, target, sampleRate, channelCount,
                                                         std::move(handlers));
    return std::make_unique<PulseCaptureSource>(m_server, target, sampleRate, channelCount, std::move(handlers));
}

std::vector<PlaybackStream> PulseSoundServer::playbackStreams()
{
    PulseConnection connection(m_server, "Vespertone");
    Pulse::MainloopLock lock(connection.loop());
    StreamQuery query{&connection, std::nullopt, {}};
    const auto sinkName = connection.serverInfo().defaultSinkName;
    if (!sinkName.isEmpty())
        connection.complete(
            pa_context_get_sink_info_by_name(connection.context(), sinkName.constData(), setDefaultSink, &query));
    if (!connection.complete(pa_context_get_sink_input_info_list(connection.context(), addStream, &query)))
        throw SoundServerError(SoundServerError::Code::unreachable);
    return std::move(query.streams);
}

std::unique_ptr<SoundServer::Watch> PulseSoundServer::watchPlaybackStreams(WatchHandlers handlers)
{
    return std::make_unique<PulsePlaybackWatch>(m_server, std::move(handlers));
}

#include "platform/PulseSoundServer.h"

#include "platform/PulseCaptureSource.h"
#include "platform/PulseConnection.h"
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
    PlaybackStream stream;
    stream.index = info->index;
    stream.corked = info->corked;
    stream.onDefaultSink = query->defaultSink == info->sink;
    stream.appName = property(info->proplist, PA_PROP_APPLICATION_NAME);
    stream.applicationId = property(info->proplist, PA_PROP_APPLICATION_ID);
    stream.processBinary = property(info->proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    stream.mediaName = property(info->proplist, PA_PROP_MEDIA_NAME);
    bool ok = false;
    const auto processId = property(info->proplist, PA_PROP_APPLICATION_PROCESS_ID).value_or(QString()).toLongLong(&ok);
    if (ok)
        stream.processId = processId;
    query->streams.push_back(std::move(stream));
}

void setDefaultSink(pa_context *, const pa_sink_info *info, int last, void *data)
{
    auto *query = static_cast<StreamQuery *>(data);
    if (!last && info)
        query->defaultSink = info->index;
    query->connection->signal();
}
} // namespace

std::unique_ptr<CaptureSource> PulseSoundServer::openCapture(CaptureDevice device, int sampleRate, int channelCount,
                                                             CaptureSource::Handlers handlers)
{
    return std::make_unique<PulseCaptureSource>(m_server, device, sampleRate, channelCount, std::move(handlers));
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

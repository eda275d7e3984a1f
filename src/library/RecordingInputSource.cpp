#include "library/RecordingInputSource.h"

namespace RecordingInputSources {

QString rawValue(RecordingInputSource source)
{
    return source == RecordingInputSource::macAudio ? QStringLiteral("macAudio") : QStringLiteral("microphone");
}

std::optional<RecordingInputSource> fromRawValue(const QString &raw)
{
    for (auto source : all) {
        if (rawValue(source) == raw)
            return source;
    }
    return std::nullopt;
}

} // namespace RecordingInputSources

QString RecordingInputSources::statusLabel(RecordingInputSource source)
{
    return source == RecordingInputSource::macAudio ? QStringLiteral("Mac") : QStringLiteral("Mic");
}

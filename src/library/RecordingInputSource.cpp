#include "library/RecordingInputSource.h"

#include "base/RawValues.h"

namespace RecordingInputSources {

QString rawValue(RecordingInputSource source)
{
    switch (source) {
    case RecordingInputSource::macAudio: return QStringLiteral("macAudio");
    case RecordingInputSource::microphone: return QStringLiteral("microphone");
    case RecordingInputSource::application: break;
    }
    return QStringLiteral("application");
}

std::optional<RecordingInputSource> fromRawValue(const QString &raw)
{
    return caseForRawValue(all, raw, [](auto value) { return rawValue(value); });
}

} // namespace RecordingInputSources

QString RecordingInputSources::statusLabel(RecordingInputSource source)
{
    switch (source) {
    case RecordingInputSource::macAudio: return QStringLiteral("System");
    case RecordingInputSource::microphone: return QStringLiteral("Mic");
    case RecordingInputSource::application: break;
    }
    return QStringLiteral("App");
}

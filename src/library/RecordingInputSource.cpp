#include "library/RecordingInputSource.h"

#include "base/RawValues.h"

namespace RecordingInputSources {

QString rawValue(RecordingInputSource source)
{
    return source == RecordingInputSource::macAudio ? QStringLiteral("macAudio") : QStringLiteral("microphone");
}

std::optional<RecordingInputSource> fromRawValue(const QString &raw)
{
    return caseForRawValue(all, raw, [](auto value) { return rawValue(value); });
}

} // namespace RecordingInputSources

QString RecordingInputSources::statusLabel(RecordingInputSource source)
{
    return source == RecordingInputSource::macAudio ? QStringLiteral("System") : QStringLiteral("Mic");
}

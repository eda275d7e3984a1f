#include "capture/RecordingOutputFormat.h"

#include "base/RawValues.h"

namespace RecordingOutputFormats {

namespace {
struct Names {
    const char *raw;
    const char *title;
    const char *shortLabel;
};

Names names(RecordingOutputFormat format)
{
    switch (format) {
    case RecordingOutputFormat::aacM4A: return {"aacM4A", "AAC (.m4a)", "M4A"};
    case RecordingOutputFormat::mp3LAME: return {"mp3LAME", "MP3 (.mp3)", "MP3"};
    case RecordingOutputFormat::wavPCM: return {"wavPCM", "WAV PCM (.wav)", "WAV"};
    case RecordingOutputFormat::aiffPCM: return {"aiffPCM", "AIFF PCM (.aiff)", "AIFF"};
    }
    return {"aacM4A", "AAC (.m4a)", "M4A"};
}
} // namespace

QString rawValue(RecordingOutputFormat format)
{
    return QString::fromLatin1(names(format).raw);
}

std::optional<RecordingOutputFormat> fromRawValue(const QString &raw)
{
    return caseForRawValue(all, raw, [](auto value) { return rawValue(value); });
}

QString title(RecordingOutputFormat format)
{
    return QString::fromLatin1(names(format).title);
}

QString shortLabel(RecordingOutputFormat format)
{
    return QString::fromLatin1(names(format).shortLabel);
}

bool usesBitRate(RecordingOutputFormat format)
{
    return format == RecordingOutputFormat::aacM4A || format == RecordingOutputFormat::mp3LAME;
}

} // namespace RecordingOutputFormats

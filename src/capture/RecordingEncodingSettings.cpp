#include "capture/RecordingEncodingSettings.h"

QString RecordingEncodingSettings::pathExtension() const
{
    switch (format) {
    case RecordingOutputFormat::aacM4A: return QStringLiteral("m4a");
    case RecordingOutputFormat::aiffPCM: return QStringLiteral("aiff");
    case RecordingOutputFormat::mp3LAME:
    case RecordingOutputFormat::wavPCM: break;
    }
    return QStringLiteral("wav");
}

CaptureFileType RecordingEncodingSettings::fileType() const
{
    switch (format) {
    case RecordingOutputFormat::aacM4A: return CaptureFileType::appleM4A;
    case RecordingOutputFormat::aiffPCM: return CaptureFileType::aiff;
    case RecordingOutputFormat::mp3LAME:
    case RecordingOutputFormat::wavPCM: break;
    }
    return CaptureFileType::wave;
}

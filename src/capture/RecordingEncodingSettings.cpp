#include "capture/RecordingEncodingSettings.h"

namespace {
constexpr quint32 fourCC(const char (&code)[5])
{
    return quint32(quint8(code[0])) << 24 | quint32(quint8(code[1])) << 16 | quint32(quint8(code[2])) << 8
        | quint32(quint8(code[3]));
}
} // namespace

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

QVariantMap RecordingEncodingSettings::outputSettings() const
{
    if (format == RecordingOutputFormat::aacM4A) {
        return {{QStringLiteral("AVFormatIDKey"), QVariant::fromValue(fourCC("aac "))},
                {QStringLiteral("AVSampleRateKey"), sampleRate},
                {QStringLiteral("AVNumberOfChannelsKey"), channelCount},
                {QStringLiteral("AVEncoderBitRateKey"), AudioBitRates::rawValue(aacBitRate)}};
    }
    return {{QStringLiteral("AVFormatIDKey"), QVariant::fromValue(fourCC("lpcm"))},
            {QStringLiteral("AVSampleRateKey"), sampleRate},
            {QStringLiteral("AVNumberOfChannelsKey"), channelCount},
            {QStringLiteral("AVLinearPCMBitDepthKey"), 16},
            {QStringLiteral("AVLinearPCMIsFloatKey"), false},
            {QStringLiteral("AVLinearPCMIsBigEndianKey"), isBigEndianPCM()},
            {QStringLiteral("AVLinearPCMIsNonInterleaved"), false}};
}

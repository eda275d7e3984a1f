#include "capture/CaptureFileWriter.h"

#include "capture/AacCaptureWriter.h"
#include "capture/AudioCaptureError.h"
#include "capture/PcmCaptureWriter.h"

namespace {
constexpr quint32 aacFormat = 0x61616320;  // "aac "
constexpr quint32 lpcmFormat = 0x6C70636D; // "lpcm"

bool isSupportedPcm(CaptureFileType fileType, const QVariantMap &settings)
{
    const bool bigEndian = settings.value(QStringLiteral("AVLinearPCMIsBigEndianKey")).toBool();
    return fileType != CaptureFileType::appleM4A
        && settings.value(QStringLiteral("AVLinearPCMBitDepthKey")).toInt() == 16
        && !settings.value(QStringLiteral("AVLinearPCMIsFloatKey")).toBool()
        && !settings.value(QStringLiteral("AVLinearPCMIsNonInterleaved")).toBool()
        && bigEndian == (fileType == CaptureFileType::aiff);
}
} // namespace

std::unique_ptr<CaptureFileWriter> CaptureFileWriter::create(const QString &path, CaptureFileType fileType,
                                                             const QVariantMap &settings)
{
    const auto format = settings.value(QStringLiteral("AVFormatIDKey")).toUInt();
    const int sampleRate = int(settings.value(QStringLiteral("AVSampleRateKey")).toDouble());
    const int channels = settings.value(QStringLiteral("AVNumberOfChannelsKey")).toInt();
    if (sampleRate <= 0 || channels <= 0)
        throw AudioCaptureError(AudioCaptureError::Code::writerSetupFailed);
    if (format == aacFormat && fileType == CaptureFileType::appleM4A)
        return std::make_unique<AacCaptureWriter>(path, sampleRate, channels,
                                                  settings.value(QStringLiteral("AVEncoderBitRateKey")).toInt());
    if (format == lpcmFormat && isSupportedPcm(fileType, settings))
        return std::make_unique<PcmCaptureWriter>(
            path, sampleRate, channels,
            fileType == CaptureFileType::aiff ? PcmCaptureWriter::Container::aiff : PcmCaptureWriter::Container::wave);
    throw AudioCaptureError(AudioCaptureError::Code::writerSetupFailed);
}

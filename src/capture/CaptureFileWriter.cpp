#include "capture/CaptureFileWriter.h"

#include "capture/AacCaptureWriter.h"
#include "capture/AudioCaptureError.h"
#include "capture/PcmCaptureWriter.h"

std::unique_ptr<CaptureFileWriter> CaptureFileWriter::create(const QString &path,
                                                             const RecordingEncodingSettings &settings)
{
    const int sampleRate = int(settings.sampleRate);
    if (sampleRate <= 0 || settings.channelCount <= 0)
        throw AudioCaptureError(AudioCaptureError::Code::writerSetupFailed);
    switch (settings.fileType()) {
    case CaptureFileType::appleM4A:
        return std::make_unique<AacCaptureWriter>(path, sampleRate, settings.channelCount,
                                                  AudioBitRates::rawValue(settings.aacBitRate));
    case CaptureFileType::aiff:
        return std::make_unique<PcmCaptureWriter>(path, sampleRate, settings.channelCount,
                                                  PcmCaptureWriter::Container::aiff);
    case CaptureFileType::wave: break;
    }
    return std::make_unique<PcmCaptureWriter>(path, sampleRate, settings.channelCount,
                                              PcmCaptureWriter::Container::wave);
}

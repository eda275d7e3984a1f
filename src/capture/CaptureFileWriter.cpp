#include "capture/CaptureFileWriter.h"

#include "capture/AacCaptureWriter.h"
#include "capture/AudioCaptureError.h"
#include "capture/PcmCaptureWriter.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

CaptureFileWriter::~CaptureFileWriter()
{
    if (m_syncDescriptor >= 0)
        ::close(m_syncDescriptor);
}

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

void CaptureFileWriter::keepForSync(const QString &path)
{
    m_syncDescriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
}

void CaptureFileWriter::sync()
{
    // Syncing any descriptor of the file puts all of its written pages on the disk.
    if (m_syncDescriptor >= 0 && ::fdatasync(m_syncDescriptor) != 0)
        throw AudioCaptureError::writeFailed(errno);
}

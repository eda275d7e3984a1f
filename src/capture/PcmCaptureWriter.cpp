#include "capture/PcmCaptureWriter.h"

#include "capture/AudioCaptureError.h"

#include <QFile>

#include <cerrno>

PcmCaptureWriter::PcmCaptureWriter(const QString &path, int sampleRate, int channelCount, Container container)
    : m_path(path)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channelCount;
    info.format = (container == Container::aiff ? SF_FORMAT_AIFF | SF_ENDIAN_BIG : SF_FORMAT_WAV | SF_ENDIAN_LITTLE)
        | SF_FORMAT_PCM_16;
    errno = 0;
    m_file.reset(sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info));
    if (!m_file) {
        if (errno != 0)
            throw AudioCaptureError::writeFailed(errno);
        throw AudioCaptureError(AudioCaptureError::Code::writerSetupFailed);
    }
    keepForSync(path);
}

void PcmCaptureWriter::write(const std::int16_t *interleaved, std::int64_t frames)
{
    errno = 0;
    if (sf_writef_short(m_file.get(), interleaved, frames) == frames)
        return;
    // The header, brought up to date at finish(), then counts only what reached the file.
    m_failed = true;
    throw AudioCaptureError::writeFailed(errno);
}

void PcmCaptureWriter::checkpoint()
{
    sf_command(m_file.get(), SFC_UPDATE_HEADER_NOW, nullptr, 0);
}

void PcmCaptureWriter::finish()
{
    if (!m_file)
        return;
    errno = 0;
    if (sf_close(m_file.release()) != 0 && !m_failed)
        throw AudioCaptureError::writeFailed(errno);
}

void PcmCaptureWriter::cancel()
{
    m_file.reset();
    QFile::remove(m_path);
}

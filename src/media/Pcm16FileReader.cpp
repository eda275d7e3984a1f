#include "media/Pcm16FileReader.h"

#include "media/AudioFileError.h"
#include "media/ByteSource.h"
#include "media/HeaderLength.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
/// Frames read from the file at once.
constexpr qint64 chunkFrames = 16384;
} // namespace

std::unique_ptr<Pcm16FileReader> Pcm16FileReader::open(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const auto source = ByteSource::ofDescriptor(fd);
    const auto layout = HeaderLength::pcm16(source);
    const auto info = layout ? HeaderLength::of(source) : std::nullopt;
    if (!info || info->channelCount != layout->channels) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<Pcm16FileReader>(new Pcm16FileReader(path, fd, *info, *layout));
}

Pcm16FileReader::Pcm16FileReader(QString path, int fd, AudioFileInfo info, Pcm16Layout layout)
    : m_path(std::move(path)), m_fd(fd), m_info(info), m_layout(layout)
{}

Pcm16FileReader::~Pcm16FileReader()
{
    ::close(m_fd);
}

void Pcm16FileReader::seek(qint64 frame)
{
    m_position = std::clamp<qint64>(frame, 0, m_info.length);
}

qint64 Pcm16FileReader::read(AudioBuffer &buffer, qint64 maxFrames)
{
    const int channels = m_layout.channels;
    const qint64 wanted = std::clamp<qint64>(maxFrames, 0, m_info.length - m_position);
    buffer.channels.resize(channels);
    for (auto &channel : buffer.channels)
        channel.resize(std::size_t(wanted));
    qint64 filled = 0;
    while (filled < wanted) {
        const qint64 frames = std::min(chunkFrames, wanted - filled);
        m_bytes.resize(std::size_t(frames * channels));
        const qint64 frameBytes = qint64(channels) * qint64(sizeof(std::int16_t));
        const auto got = ::pread(m_fd, m_bytes.data(), std::size_t(frames * frameBytes),
                                 m_layout.dataOffset + (m_position + filled) * frameBytes);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw AudioFileError(AudioFileError::Code::decodeFailed, m_path);
        // A file cut short since it was opened ends where its bytes end.
        const qint64 whole = got / frameBytes;
        for (qint64 i = 0; i < whole; ++i) {
            for (int c = 0; c < channels; ++c) {
                const auto raw = m_bytes[std::size_t(i * channels + c)];
                const auto sample = m_layout.bigEndian ? qFromBigEndian(raw) : qFromLittleEndian(raw);
                buffer.channels[c][std::size_t(filled + i)] = float(sample) * (1.0f / 32768.0f);
            }
        }
        filled += whole;
        if (whole < frames)
            break;
    }
    for (auto &channel : buffer.channels)
        channel.resize(std::size_t(filled));
    buffer.frameLength = std::size_t(filled);
    m_position += filled;
    return filled;
}

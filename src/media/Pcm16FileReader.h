#pragma once

#include "media/AudioBuffer.h"
#include "media/AudioFileReader.h"

#include <QString>
#include <memory>
#include <vector>

/// Reads a WAV or AIFF file of 16-bit PCM straight from its bytes, without a demuxer or decoder,
/// giving exactly the frames AudioFileReader's decoding gives: each sample divided by 32768.
class Pcm16FileReader {
public:
    /// A reader of \a path when its header states its layout and length (HeaderLength), else none.
    [[nodiscard]] static std::unique_ptr<Pcm16FileReader> open(const QString &path);
    ~Pcm16FileReader();
    Pcm16FileReader(const Pcm16FileReader &) = delete;
    Pcm16FileReader &operator=(const Pcm16FileReader &) = delete;

    [[nodiscard]] const AudioFileInfo &info() const { return m_info; }
    [[nodiscard]] const Pcm16Layout &layout() const { return m_layout; }
    [[nodiscard]] qint64 position() const { return m_position; }
    /// Moves to \a frame, clamped to 0...length.
    void seek(qint64 frame);
    /// As AudioFileReader::read; throws AudioFileError when the file cannot be read.
    qint64 read(AudioBuffer &buffer, qint64 maxFrames);

private:
    Pcm16FileReader(QString path, int fd, AudioFileInfo info, Pcm16Layout layout);

    QString m_path;
    int m_fd; ///< held open, so a rename or removal leaves the audio readable
    AudioFileInfo m_info;
    Pcm16Layout m_layout;
    qint64 m_position = 0;
    std::vector<std::int16_t> m_bytes;
};

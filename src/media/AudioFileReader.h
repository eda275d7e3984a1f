#pragma once

#include "media/AudioBuffer.h"

#include <QString>
#include <memory>

/// What a container states about its audio.
struct AudioFileInfo {
    double sampleRate = 0;
    int channelCount = 0;
    qint64 length = 0; ///< frames, as AudioFileReader::length()
};

/// Decodes any supported audio file (WAV, AIFF, M4A/AAC, MP3, ...) into de-interleaved float
/// frames at its own sample rate and channel count, sequentially or from a seeked frame.
class AudioFileReader {
public:
    /// Opens \a path; throws AudioFileError when it cannot be opened or holds no audio stream.
    explicit AudioFileReader(const QString &path);
    ~AudioFileReader();
    /// Rate, channels and length from the container alone, without opening a decoder (from the
    /// headers directly where HeaderLength can read them); throws AudioFileError like the
    /// constructor.
    [[nodiscard]] static AudioFileInfo measure(const QString &path);
    AudioFileReader(AudioFileReader &&) noexcept;
    AudioFileReader &operator=(AudioFileReader &&) noexcept;

    [[nodiscard]] double sampleRate() const;
    [[nodiscard]] int channelCount() const;
    /// Length in frames as the container states it (without encoder delay and padding).
    [[nodiscard]] qint64 length() const;
    /// The frame the next read starts at.
    [[nodiscard]] qint64 position() const;

    /// Moves to \a frame (clamped to 0...length when the length is known) without decoding
    /// from the start; throws AudioFileError when the source cannot seek there.
    void seek(qint64 frame);
    /// Reads up to \a maxFrames frames into \a buffer (resized to fit); returns the frames
    /// read, 0 at the end. Throws AudioFileError when decoding fails.
    qint64 read(AudioBuffer &buffer, qint64 maxFrames);

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

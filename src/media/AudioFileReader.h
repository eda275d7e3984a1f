#pragma once

#include "media/AudioBuffer.h"

#include <QString>
#include <memory>
#include <optional>

/// What a container states about its audio.
struct AudioFileInfo {
    double sampleRate = 0;
    int channelCount = 0;
    qint64 length = 0; ///< frames, as AudioFileReader::length()
};

/// Where the samples of a 16-bit PCM file lie, for reading them without a decoder: interleaved
/// frames of channels × 2 bytes from dataOffset on.
struct Pcm16Layout {
    qint64 dataOffset = 0;
    int channels = 0;
    bool bigEndian = false;
};

/// Decodes any supported audio file (WAV, AIFF, M4A/AAC, MP3, ...) into de-interleaved float
/// frames at its own sample rate and channel count, sequentially or from a seeked frame. A WAV
/// or AIFF of 16-bit PCM with a whole header is read without FFmpeg.
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
    /// True when reading from a seek gives exactly the frames a read from the start gives there:
    /// uncompressed and lossless audio, and MP3, whose decoder's state reaches back less than
    /// the seek's preroll. Not AAC: its noise substitution draws from a generator that runs
    /// from the stream's start.
    [[nodiscard]] bool seeksExactly() const;
    /// For a WAV or AIFF file of 16-bit PCM: where its frames lie (read() gives each sample
    /// divided by 32768); none for other files.
    [[nodiscard]] std::optional<Pcm16Layout> pcm16Layout() const;

    /// Moves to \a frame (clamped to 0...length when the length is known) without decoding
    /// from the start; throws AudioFileError when the source cannot seek there.
    void seek(qint64 frame);
    /// Reads up to \a maxFrames frames into \a buffer (resized to fit); returns the frames
    /// read, 0 at the end. Throws AudioFileError when decoding fails.
    qint64 read(AudioBuffer &buffer, qint64 maxFrames);

private:
    class Impl;
    std::unique_ptr<Impl> d;                      ///< the demuxer and decoder, for every other file
    std::unique_ptr<class Pcm16FileReader> m_pcm; ///< a 16-bit PCM file, read directly
};

#pragma once

#include "media/FFmpegHandles.h"

#include <QString>

#include <cstdint>
#include <exception>

/// Encodes float audio to AAC and muxes it into an M4A file. The encoder runs at the source's
/// rate when AAC supports it, else at the nearest supported one above it (resampled).
/// A fragmented file is playable after every checkpoint(), even if the process dies.
class AacM4aEncoder {
public:
    enum class Layout { regular, fragmented };

    /// A failure of one step; code() is FFmpeg's (AVERROR(errno) for file errors).
    class Error : public std::exception {
    public:
        enum class Stage {
            unavailable, ///< no AAC encoder or M4A muxer for these parameters
            setup,       ///< the file or the encoder could not be prepared
            write,       ///< encoding or writing failed after setup
        };
        Error(Stage stage, int code) : m_stage(stage), m_code(code) {}
        [[nodiscard]] Stage stage() const { return m_stage; }
        [[nodiscard]] int code() const { return m_code; }
        /// The errno behind code(), or 0 when it is not a system error.
        [[nodiscard]] int systemError() const;
        [[nodiscard]] const char *what() const noexcept override { return "AAC in M4A encoding failed"; }

    private:
        Stage m_stage;
        int m_code;
    };

    /// Opens \a path (created or truncated) and writes the header. Throws Error.
    AacM4aEncoder(const QString &path, int sampleRate, int channelCount, int bitRate, Layout layout);
    AacM4aEncoder(const AacM4aEncoder &) = delete;
    AacM4aEncoder &operator=(const AacM4aEncoder &) = delete;

    [[nodiscard]] int channelCount() const { return m_channels; }
    /// The AAC packets written to the file so far.
    [[nodiscard]] std::int64_t packetCount() const { return m_packets; }

    /// \a frames frames, one plane per channel. Throws Error.
    void writePlanar(const float *const *planes, int frames);
    /// \a frames interleaved frames. Throws Error.
    void writeInterleaved(const float *samples, std::int64_t frames);
    /// Fragmented only: closes the fragment under way and hands it to the file; returns the
    /// file's size, up to which it is complete. Throws Error.
    std::int64_t checkpoint();
    /// Encodes what is left, writes the trailer and closes the file. Throws Error.
    void finish();
    /// Closes the file as it is, writing nothing more; never throws.
    void abandon() noexcept;

private:
    void queue(const uint8_t *const *planes, int frames);
    void encodeQueued(bool flush);
    void drainPackets();

    Layout m_layout;
    int m_inputRate;
    int m_channels;
    FFmpeg::CodecContext m_codec;
    FFmpeg::OutputFormat m_format;
    FFmpeg::Resampler m_resampler;
    FFmpeg::AudioFifo m_fifo;
    FFmpeg::Packet m_packet = FFmpeg::makePacket();
    AVStream *m_stream = nullptr;
    std::int64_t m_nextPts = 0;
    std::int64_t m_packets = 0;
    std::vector<float> m_planes; ///< writeInterleaved's de-interleaving space
};

#pragma once

#include "base/AudioBitRate.h"
#include "capture/RecordingOutputFormat.h"

#include <QString>

/// The container type a capture file is written in.
enum class CaptureFileType { appleM4A, wave, aiff };

/// The encoding parameters of one take.
struct RecordingEncodingSettings {
    RecordingOutputFormat format;
    AudioBitRate aacBitRate; ///< used by AAC directly and by the later MP3 encoding
    double sampleRate;       ///< hertz
    int channelCount;

    /// The extension of the file the capture writes: MP3 takes are captured as WAV first.
    [[nodiscard]] QString pathExtension() const;
    /// The container; every PCM capture is 16-bit signed interleaved, AAC uses aacBitRate.
    [[nodiscard]] CaptureFileType fileType() const;
    /// True for 16-bit big-endian PCM (AIFF).
    [[nodiscard]] bool isBigEndianPCM() const { return format == RecordingOutputFormat::aiffPCM; }

    bool operator==(const RecordingEncodingSettings &) const = default;
};

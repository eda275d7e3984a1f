#pragma once

#include "media/AudioFileReader.h"
#include "media/ByteSource.h"

#include <optional>

/// Rate, channels and length read straight from the headers of the files this program meets,
/// without a demuxer: WAV and AIFF chunks, an MP3's Xing or Info frame with its LAME tag, an
/// M4A's movie and media headers and edit list (never its sample table). Each states exactly
/// what AudioFileReader finds, and answers none for anything it cannot state so, which the
/// caller then measures through the reader.
namespace HeaderLength {

/// By the file's first bytes, whatever its name.
[[nodiscard]] std::optional<AudioFileInfo> of(const ByteSource &source);

/// Where the frames of a WAV or AIFF file of 16-bit integer PCM lie, when its header states its
/// length as of() does; none for other files.
[[nodiscard]] std::optional<Pcm16Layout> pcm16(const ByteSource &source);

[[nodiscard]] std::optional<AudioFileInfo> wave(const ByteSource &source);
[[nodiscard]] std::optional<AudioFileInfo> aiff(const ByteSource &source);
[[nodiscard]] std::optional<AudioFileInfo> mp3(const ByteSource &source);
[[nodiscard]] std::optional<AudioFileInfo> mp4(const ByteSource &source);

} // namespace HeaderLength

#pragma once

#include "media/ByteSource.h"
#include "media/Mp3GaplessInfo.h"

#include <optional>

/// MPEG audio Layer III frames: their headers, the Xing or Info frame that states a stream's
/// frame count, and the check that a stated count is one the file can hold.
namespace Mp3Frames {

/// One frame header.
struct Header {
    int sampleRate = 0;
    int channels = 0;
    int samplesPerFrame = 0; ///< 1152 for MPEG-1, 576 for MPEG-2 and 2.5
    int bitRate = 0;         ///< bits per second
    int length = 0;          ///< bytes, header included
    bool mpeg1 = false;

    /// The bytes of the shortest frame this stream's version and rate allow.
    [[nodiscard]] int shortestLength() const;
    /// The bytes of the longest.
    [[nodiscard]] int longestLength() const;
    /// True when \a other belongs to the same stream (version, rate, channels).
    [[nodiscard]] bool sameStream(const Header &other) const;
};

/// The Layer III header in the four bytes \a bytes (big-endian); none for anything else, free
/// format included.
[[nodiscard]] std::optional<Header> header(quint32 bytes);

/// What a stream's first frame states about it.
struct Stream {
    qint64 firstFrame = 0;               ///< the byte where the first frame (the tag frame, if any) starts
    qint64 audioEnd = 0;                 ///< the byte after the last frame's data: before an ID3v1 tag
    Header first;                        ///< the first frame's header
    std::optional<quint32> statedFrames; ///< audio frames after the tag frame, from a Xing or Info tag
    std::optional<quint32> statedBytes;  ///< the stream's bytes, from the same tag
    bool constantBitRate = false;        ///< an Info tag: every frame has the first one's bit rate
};

/// The stream of an MP3 file: its first frame right after any ID3v2 tag; none when no Layer III
/// frame starts there.
[[nodiscard]] std::optional<Stream> stream(const ByteSource &source);

/// True when the stated frame count fits the file: a count the audio bytes could not hold at the
/// lowest bit rate, or a stream cut short of its stated bytes (or, at a constant bit rate, of the
/// frames' bytes), cannot be true.
[[nodiscard]] bool statedCountFits(const Stream &stream);

/// The complete frames of the stream after its tag frame, counted header by header up to the
/// first that is not of this stream or does not end within the file.
[[nodiscard]] qint64 countFrames(const ByteSource &source, const Stream &stream);

/// The length in frames of a stream whose stated frame count cannot be true: the samples of the
/// frames counted, less what the decoder drops at the start after a LAME tag (its delay and the
/// decoder's own 529). None when the stated count fits (or none is stated).
[[nodiscard]] std::optional<qint64> countedLength(const ByteSource &source, const Stream &stream,
                                                  const std::optional<Mp3GaplessInfo> &gapless);

} // namespace Mp3Frames

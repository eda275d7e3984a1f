#pragma once

#include "media/ByteSource.h"

#include <QByteArray>
#include <optional>

/// The boxes of an MP4 (M4A) file that describe its one AAC track: the movie and media headers,
/// the edit list, the decoder configuration and where its sample tables lie, read box header by
/// box header so that no table is loaded.
namespace Mp4Boxes {

/// Where a box's payload lies in the file.
struct Span {
    qint64 offset = 0; ///< first byte after the box header
    qint64 size = 0;
};

/// The AAC-LC track of a regular (not fragmented) file.
struct AudioTrack {
    quint32 movieTimeScale = 0;
    quint32 mediaTimeScale = 0;
    qint64 mediaDuration = 0; ///< in the media time scale
    /// The duration of its single edit in the movie time scale; none without an edit list.
    std::optional<qint64> editedDuration;
    qint64 editMediaTime = 0; ///< where that edit starts in the media: the encoder's priming
    int sampleRate = 0;
    int channels = 0;
    QByteArray decoderConfig; ///< the AudioSpecificConfig
    Span timeToSample, sampleToChunk, sampleSizes, chunkOffsets;
    bool wideChunkOffsets = false; ///< co64 instead of stco
};

/// The file's one AAC-LC track; none for anything else (no or several audio tracks, another
/// codec, fragments, several sample descriptions or edits, a damaged box).
[[nodiscard]] std::optional<AudioTrack> audioTrack(const ByteSource &source);

} // namespace Mp4Boxes

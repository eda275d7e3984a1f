#pragma once

#include "analysis/WaveformLevels.h"
#include "platform/FileStamp.h"

#include <QByteArray>
#include <QString>
#include <optional>

class CacheFolder;

/// A file's waveform levels remembered in its library's cache, one entry per file identity
/// (so a renamed file keeps it), trusted only while the file's content stamp is the one it was
/// computed for.
namespace EnvelopeCache {

/// The cache entry's name for a file of \a stamp.
[[nodiscard]] QString entryName(const FileStamp &stamp);
/// The levels remembered for a file of \a stamp made for \a targetSamples; none when there are
/// none, or they were made for another content or target, or the entry is damaged.
[[nodiscard]] std::optional<WaveformLevels> load(const CacheFolder &cache, const FileStamp &stamp, int targetSamples);
/// Remembers \a levels of a file of \a stamp; false when they could not be stored.
bool save(const CacheFolder &cache, const FileStamp &stamp, const WaveformLevels &levels);

[[nodiscard]] QByteArray encode(const FileStamp &stamp, const WaveformLevels &levels);
[[nodiscard]] std::optional<WaveformLevels> decode(const QByteArray &payload, const FileStamp &stamp);

} // namespace EnvelopeCache

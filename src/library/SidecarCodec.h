#pragma once

#include "library/RecordingMetadata.h"

#include <QByteArray>
#include <QDateTime>
#include <optional>

/// Encodes and decodes the metadata sidecar JSON: sorted keys, two-space indentation,
/// " : " separators, escaped slashes, absent fields omitted, whole-second UTC dates.
namespace SidecarCodec {

/// Throws AppError when a number is not finite (JSON cannot hold it).
[[nodiscard]] QByteArray encode(const RecordingMetadata &metadata);

/// None when the bytes are not a sidecar: not a JSON object, no valid "createdAt",
/// or a known key of the wrong type. Unknown keys are ignored, and so is a number no take
/// can have (a negative or impossibly long duration, a tempo beyond any music) and a
/// confidence or an alternative of the precise analysis that is of the wrong type or out of range.
[[nodiscard]] std::optional<RecordingMetadata> decode(const QByteArray &bytes);

/// "2024-05-01T12:30:05Z": UTC, sub-seconds dropped.
[[nodiscard]] QString formatDate(const QDateTime &date);
/// Parses an internet date-time with whole seconds and "Z" or a numeric offset.
[[nodiscard]] std::optional<QDateTime> parseDate(const QString &text);

} // namespace SidecarCodec

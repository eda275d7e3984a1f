#pragma once

#include <QString>
#include <array>
#include <optional>

/// The container and codec of new recordings.
enum class RecordingOutputFormat { aacM4A, mp3LAME, wavPCM, aiffPCM };

namespace RecordingOutputFormats {
/// Every format, in picker order.
inline constexpr std::array all{RecordingOutputFormat::aacM4A, RecordingOutputFormat::mp3LAME,
                                RecordingOutputFormat::wavPCM, RecordingOutputFormat::aiffPCM};

/// The case name, as stored in settings.
[[nodiscard]] QString rawValue(RecordingOutputFormat format);
/// Exactly the four raw names, case-sensitive.
[[nodiscard]] std::optional<RecordingOutputFormat> fromRawValue(const QString &raw);
/// The picker text, e.g. "AAC (.m4a)".
[[nodiscard]] QString title(RecordingOutputFormat format);
/// The tag shown when a recording starts, e.g. "M4A".
[[nodiscard]] QString shortLabel(RecordingOutputFormat format);
/// True for the compressed formats.
[[nodiscard]] bool usesBitRate(RecordingOutputFormat format);
} // namespace RecordingOutputFormats

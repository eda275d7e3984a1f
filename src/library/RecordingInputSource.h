#pragma once

#include <QString>
#include <array>
#include <optional>

/// Which input a recording captures.
enum class RecordingInputSource {
    macAudio,    ///< the computer's own audio output
    microphone,  ///< the default audio input
    application, ///< the playback of one application alone
};

namespace RecordingInputSources {
inline constexpr std::array all{RecordingInputSource::macAudio, RecordingInputSource::microphone,
                                RecordingInputSource::application};

/// "macAudio", "microphone" or "application".
[[nodiscard]] QString rawValue(RecordingInputSource source);
/// The tag shown when a recording starts: "System", "Mic" or "App".
[[nodiscard]] QString statusLabel(RecordingInputSource source);
/// The case whose raw value is exactly \a raw.
[[nodiscard]] std::optional<RecordingInputSource> fromRawValue(const QString &raw);
} // namespace RecordingInputSources

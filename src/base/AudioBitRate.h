#pragma once

#include <QString>
#include <array>
#include <optional>

/// Bit rate of the compressed formats; the value is bits per second.
enum class AudioBitRate : int { kbps128 = 128000, kbps192 = 192000, kbps256 = 256000, kbps320 = 320000 };

namespace AudioBitRates {
inline constexpr std::array all{AudioBitRate::kbps128, AudioBitRate::kbps192, AudioBitRate::kbps256,
                                AudioBitRate::kbps320};

/// Bits per second: 128000 + 64000 × case index.
[[nodiscard]] constexpr int rawValue(AudioBitRate rate)
{
    return static_cast<int>(rate);
}
/// Exactly the four raw values.
[[nodiscard]] std::optional<AudioBitRate> fromRawValue(long long raw);
/// The rate of \a kbps kilobits per second (128, 192, 256 or 320); none for any other number.
[[nodiscard]] std::optional<AudioBitRate> fromKilobits(long long kbps);
/// "192 kbps".
[[nodiscard]] QString title(AudioBitRate rate);
} // namespace AudioBitRates

#include "base/AudioBitRate.h"

namespace AudioBitRates {

std::optional<AudioBitRate> fromRawValue(long long raw)
{
    for (auto rate : all) {
        if (rawValue(rate) == raw)
            return rate;
    }
    return std::nullopt;
}

std::optional<AudioBitRate> fromKilobits(long long kbps)
{
    for (auto rate : all) {
        if (rawValue(rate) / 1000 == kbps)
            return rate;
    }
    return std::nullopt;
}

QString title(AudioBitRate rate)
{
    return QStringLiteral("%1 kbps").arg(rawValue(rate) / 1000);
}

} // namespace AudioBitRates

#pragma once

#include <QString>
#include <optional>

/// The case among \a all whose raw value (by \a rawValue) is exactly \a raw.
template <typename Cases, typename RawValue>
[[nodiscard]] auto caseForRawValue(const Cases &all, const QString &raw, RawValue rawValue)
    -> std::optional<typename Cases::value_type>
{
    for (const auto value : all) {
        if (rawValue(value) == raw)
            return value;
    }
    return std::nullopt;
}

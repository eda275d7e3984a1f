#pragma once

#include <QVariant>
#include <algorithm>
#include <cmath>
#include <concepts>
#include <limits>
#include <optional>

/// Checked conversions of numbers read from outside (settings, sidecars, session files): a
/// double converts to an integer only when it is finite and inside the integer's range, since
/// converting any other double is undefined behaviour.
namespace NumberRange {

/// \a value as a T when it is a whole number T can hold; none otherwise (NaN, infinite,
/// fractional or out of range).
template <std::integral T>
[[nodiscard]] std::optional<T> exactInteger(double value)
{
    // Both bounds are powers of two, so exactly representable; the upper one is excluded.
    constexpr double low = double(std::numeric_limits<T>::min());
    const double high = std::ldexp(1.0, std::numeric_limits<T>::digits);
    if (!(value >= low && value < high) || std::trunc(value) != value)
        return std::nullopt;
    return T(value);
}

/// \a value rounded to the nearest T, halves away from zero; none when not finite or when the
/// result would not fit.
template <std::integral T>
[[nodiscard]] std::optional<T> roundedInteger(double value)
{
    return exactInteger<T>(std::round(value));
}

/// \a value rounded and clamped into [\a low, \a high]; \a low for NaN.
template <std::integral T>
[[nodiscard]] T clampedInteger(double value, T low, T high)
{
    if (!(value >= double(low)))
        return low;
    if (!(value <= double(high)))
        return high;
    return std::clamp(roundedInteger<T>(value).value_or(high), low, high);
}

/// \a value when it is finite and within [\a low, \a high]; none otherwise.
[[nodiscard]] inline std::optional<double> within(double value, double low, double high)
{
    return std::isfinite(value) && value >= low && value <= high ? std::optional(value) : std::nullopt;
}

/// The whole number a stored setting holds: an integer, a double that is a whole number in
/// range, or a text of decimal digits; none for anything else.
[[nodiscard]] std::optional<qint64> integerSetting(const QVariant &value);

} // namespace NumberRange

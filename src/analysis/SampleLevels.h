#pragma once

#include <QtGlobal>

/// The loudest sample of a run of samples, the inner loop of every envelope.
namespace SampleLevels {

/// The largest absolute value of \a count float samples; NaN counts as silence and ±infinity
/// as full scale.
[[nodiscard]] float loudest(const float *samples, qint64 count);
/// The largest absolute value of \a count 16-bit samples (32768 for -32768), byte-swapped
/// first when \a swapped (samples of the other byte order).
[[nodiscard]] int loudest16(const qint16 *samples, qint64 count, bool swapped);

} // namespace SampleLevels

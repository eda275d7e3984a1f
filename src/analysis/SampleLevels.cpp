#include "analysis/SampleLevels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace SampleLevels {
namespace {

/// The careful path for the rare buffer that holds an infinity.
float loudestCountingInfinity(const float *samples, qint64 count)
{
    constexpr float largest = std::numeric_limits<float>::max();
    float loudest = 0;
    bool infinite = false;
    for (qint64 i = 0; i < count; ++i) {
        const float value = std::abs(samples[i]);
        infinite |= value > largest;
        loudest = loudest < value && value <= largest ? value : loudest;
    }
    return infinite ? std::max(loudest, 1.0f) : loudest;
}

inline qint16 swappedBytes(qint16 sample)
{
    const auto bits = quint16(sample);
    return qint16(quint16(bits << 8 | bits >> 8));
}

} // namespace

float loudest(const float *samples, qint64 count)
{
    // Four independent maxima keep the loop free of a serial dependency. NaN fails the
    // comparison and so counts as silence.
    float m[4] = {0, 0, 0, 0};
    qint64 i = 0;
    for (; i + 4 <= count; i += 4) {
        for (int lane = 0; lane < 4; ++lane) {
            const float value = std::abs(samples[i + lane]);
            m[lane] = m[lane] < value ? value : m[lane];
        }
    }
    for (; i < count; ++i) {
        const float value = std::abs(samples[i]);
        m[0] = m[0] < value ? value : m[0];
    }
    const float result = std::max(std::max(m[0], m[1]), std::max(m[2], m[3]));
    return std::isinf(result) ? loudestCountingInfinity(samples, count) : result;
}

int loudest16(const qint16 *samples, qint64 count, bool swapped)
{
    qint64 i = 0;
    int high = 0, low = 0;
#ifdef __SSE2__
    // The largest and smallest sample, eight at a time; |−32768| does not fit 16 bits, so the
    // magnitude is taken at the end.
    __m128i highs = _mm_setzero_si128(), lows = _mm_setzero_si128();
    for (; i + 8 <= count; i += 8) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(samples + i));
        if (swapped)
            block = _mm_or_si128(_mm_slli_epi16(block, 8), _mm_srli_epi16(block, 8));
        highs = _mm_max_epi16(highs, block);
        lows = _mm_min_epi16(lows, block);
    }
    qint16 lanes[8];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes), highs);
    high = *std::max_element(lanes, lanes + 8);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes), lows);
    low = *std::min_element(lanes, lanes + 8);
#endif
    for (; i < count; ++i) {
        const int sample = swapped ? swappedBytes(samples[i]) : samples[i];
        high = std::max(high, sample);
        low = std::min(low, sample);
    }
    return std::max(high, -low);
}

} // namespace SampleLevels

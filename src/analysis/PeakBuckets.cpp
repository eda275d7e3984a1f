#include "analysis/PeakBuckets.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr qint64 maximumFineBuckets = 1 << 19;

qsizetype bucketsOf(qint64 frames, qint64 perBucket)
{
    return perBucket > 0 ? qsizetype((frames + perBucket - 1) / perBucket) : 0;
}

void raiseSlot(std::atomic<quint32> &slot, float level)
{
    const auto bits = std::bit_cast<quint32>(level);
    auto current = slot.load(std::memory_order_relaxed);
    while (current < bits && !slot.compare_exchange_weak(current, bits, std::memory_order_relaxed)) {
    }
}

float valueOf(const std::atomic<quint32> &slot)
{
    return std::bit_cast<float>(slot.load(std::memory_order_relaxed));
}

QVector<float> normalised(QVector<float> envelope)
{
    if (envelope.isEmpty())
        return envelope;
    const float loudest = *std::max_element(envelope.cbegin(), envelope.cend());
    const float divisor = loudest > 0.0001f ? loudest : 0.0001f;
    for (auto &value : envelope)
        value = std::min(value / divisor, 1.0f);
    return envelope;
}

} // namespace

qint64 PeakBuckets::fineFramesFor(qint64 frames)
{
    qint64 fine = 256;
    while (bucketsOf(frames, fine) > maximumFineBuckets)
        fine *= 2;
    return fine;
}

qint64 PeakBuckets::frameLimit(qint64 length, double sampleRate, std::optional<double> seconds)
{
    if (!seconds)
        return length;
    const double frames = std::trunc(sampleRate * *seconds);
    if (!(frames < double(length)))
        return length;
    return std::max<qint64>(0, qint64(frames));
}

qint64 PeakBuckets::framesPerBucketFor(qint64 frameLimit, int targetSamples)
{
    const qint64 buckets = std::max<qint64>(64, std::min<qint64>(frameLimit, targetSamples));
    return std::max<qint64>(1, frameLimit / buckets);
}

PeakBuckets::PeakBuckets(qint64 frameLimit, qint64 framesPerBucket, qint64 fineFrames)
    : m_framesPerBucket(framesPerBucket), m_fineFrames(fineFrames),
      m_coarseCount(bucketsOf(frameLimit, framesPerBucket)), m_fineCount(bucketsOf(frameLimit, fineFrames)),
      m_coarse(std::make_unique<std::atomic<quint32>[]>(std::size_t(m_coarseCount))),
      m_fine(std::make_unique<std::atomic<quint32>[]>(std::size_t(m_fineCount)))
{}

qint64 PeakBuckets::runLength(qint64 frame) const
{
    const qint64 coarse = m_framesPerBucket - frame % m_framesPerBucket;
    return m_fineFrames > 0 ? std::min(coarse, m_fineFrames - frame % m_fineFrames) : coarse;
}

void PeakBuckets::raise(qint64 frame, float level)
{
    const auto coarse = qsizetype(frame / m_framesPerBucket);
    if (coarse < m_coarseCount)
        raiseSlot(m_coarse[coarse], level);
    if (m_fineFrames > 0 && frame / m_fineFrames < m_fineCount)
        raiseSlot(m_fine[qsizetype(frame / m_fineFrames)], level);
}

QVector<float> PeakBuckets::envelope(qint64 frames) const
{
    QVector<float> values(std::min(bucketsOf(frames, m_framesPerBucket), m_coarseCount));
    for (qsizetype i = 0; i < values.size(); ++i)
        values[i] = valueOf(m_coarse[i]);
    return normalised(std::move(values));
}

QVector<float> PeakBuckets::partialEnvelope(qint64 frames, const std::vector<bool> &known) const
{
    QVector<float> values(std::min(bucketsOf(frames, m_framesPerBucket), m_coarseCount));
    for (qsizetype i = 0; i < values.size(); ++i)
        values[i] = std::size_t(i) < known.size() && known[std::size_t(i)] ? valueOf(m_coarse[i]) : 0.0f;
    return normalised(std::move(values));
}

QVector<float> PeakBuckets::finePeaks(qint64 frames) const
{
    QVector<float> values(std::min(bucketsOf(frames, m_fineFrames), m_fineCount));
    for (qsizetype i = 0; i < values.size(); ++i)
        values[i] = valueOf(m_fine[i]);
    return values;
}

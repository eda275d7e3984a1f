#include "analysis/EnvelopeCache.h"

#include "platform/CacheFolder.h"

#include <QDataStream>
#include <QIODevice>

#include <cmath>

namespace EnvelopeCache {
namespace {

constexpr quint32 kind = 0x31564e45; // "ENV1"
constexpr qint64 maximumSize = qint64(16) << 20;
/// More fine levels than PeakBuckets ever makes means damage.
constexpr qsizetype mostFinePeaks = 1 << 19;

bool plausible(const QVector<float> &values, float highest)
{
    return std::all_of(values.cbegin(), values.cend(),
                       [highest](float value) { return std::isfinite(value) && value >= 0 && value <= highest; });
}

} // namespace

QString entryName(const FileStamp &stamp)
{
    return QStringLiteral("envelope-%1-%2").arg(stamp.device, 0, 16).arg(stamp.inode, 0, 16);
}

QByteArray encode(const FileStamp &stamp, const WaveformLevels &levels)
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_4);
    stream << stamp.size << stamp.modifiedNs << qint32(levels.targetSamples) << levels.sampleRate << levels.frames
           << levels.fineFrames << levels.peaks << levels.finePeaks;
    return payload;
}

std::optional<WaveformLevels> decode(const QByteArray &payload, const FileStamp &stamp)
{
    QDataStream stream(payload);
    stream.setVersion(QDataStream::Qt_6_4);
    qint64 size = 0, modified = 0;
    qint32 target = 0;
    WaveformLevels levels;
    stream >> size >> modified >> target >> levels.sampleRate >> levels.frames >> levels.fineFrames;
    if (stream.status() != QDataStream::Ok || size != stamp.size || modified != stamp.modifiedNs)
        return std::nullopt;
    stream >> levels.peaks >> levels.finePeaks;
    levels.targetSamples = target;
    // Full scale can be passed a little by a lossy decoder's fine levels, never by the peaks.
    if (stream.status() != QDataStream::Ok || !stream.atEnd() || levels.frames < 0 || levels.fineFrames < 0
        || levels.finePeaks.size() > mostFinePeaks || !plausible(levels.peaks, 1.0f)
        || !plausible(levels.finePeaks, 64.0f))
        return std::nullopt;
    return levels;
}

std::optional<WaveformLevels> load(const CacheFolder &cache, const FileStamp &stamp, int targetSamples)
{
    const auto payload = cache.read(entryName(stamp), kind, maximumSize);
    if (!payload)
        return std::nullopt;
    auto levels = decode(*payload, stamp);
    if (!levels || levels->targetSamples != targetSamples)
        return std::nullopt;
    return levels;
}

bool save(const CacheFolder &cache, const FileStamp &stamp, const WaveformLevels &levels)
{
    return cache.write(entryName(stamp), kind, encode(stamp, levels));
}

} // namespace EnvelopeCache

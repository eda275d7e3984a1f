#include "library/DurationCache.h"

#include "platform/CacheFolder.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace {
constexpr quint32 kind = 0x31525544; // "DUR1"
constexpr qsizetype entrySize = 40;
constexpr qint64 maximumEntries = 1 << 22;
const QString entryName = QStringLiteral("durations");
} // namespace

bool DurationCache::Entry::operator==(const Entry &other) const
{
    // Bit for bit, so that two NaNs (files that could not be measured) compare equal.
    return size == other.size && modifiedNs == other.modifiedNs
        && std::bit_cast<quint64>(seconds) == std::bit_cast<quint64>(other.seconds);
}

DurationCache DurationCache::load(const CacheFolder &cache)
{
    const auto payload = cache.read(entryName, kind, maximumEntries * entrySize);
    return payload ? decode(*payload) : DurationCache();
}

bool DurationCache::save(const CacheFolder &cache) const
{
    if (m_used == m_loaded)
        return true;
    return cache.write(entryName, kind, encode());
}

std::optional<std::optional<double>> DurationCache::find(const FileStamp &stamp)
{
    const Key key{stamp.device, stamp.inode};
    const auto found = m_loaded.constFind(key);
    if (found == m_loaded.cend() || found->size != stamp.size || found->modifiedNs != stamp.modifiedNs)
        return std::nullopt;
    m_used.insert(key, *found);
    if (std::isnan(found->seconds))
        return std::optional<double>();
    return std::optional<double>(found->seconds);
}

void DurationCache::remember(const FileStamp &stamp, std::optional<double> seconds)
{
    m_used.insert({stamp.device, stamp.inode},
                  {stamp.size, stamp.modifiedNs, seconds.value_or(std::numeric_limits<double>::quiet_NaN())});
}

QByteArray DurationCache::encode() const
{
    QByteArray payload(m_used.size() * entrySize, Qt::Uninitialized);
    char *at = payload.data();
    for (auto entry = m_used.cbegin(); entry != m_used.cend(); ++entry, at += entrySize) {
        const quint64 words[5] = {entry.key().first, entry.key().second, quint64(entry->size),
                                  quint64(entry->modifiedNs), std::bit_cast<quint64>(entry->seconds)};
        std::memcpy(at, words, sizeof words);
    }
    return payload;
}

DurationCache DurationCache::decode(const QByteArray &payload)
{
    DurationCache cache;
    if (payload.size() % entrySize != 0)
        return cache;
    for (const char *at = payload.constData(); at < payload.constEnd(); at += entrySize) {
        quint64 words[5];
        std::memcpy(words, at, sizeof words);
        const double seconds = std::bit_cast<double>(words[4]);
        // A duration no file can have means the entry is not ours to trust.
        if (!std::isnan(seconds) && !(seconds >= 0 && std::isfinite(seconds)))
            return DurationCache();
        cache.m_loaded.insert({words[0], words[1]}, {qint64(words[2]), qint64(words[3]), seconds});
    }
    return cache;
}

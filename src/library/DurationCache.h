#pragma once

#include "platform/FileStamp.h"

#include <QHash>
#include <optional>

class CacheFolder;

/// The durations the library scan measured, remembered by file identity and content stamp, so
/// an unchanged file is not opened again and a renamed one keeps its duration. What a scan did
/// not look up or measure is forgotten at its save, so the cache holds only the library's files.
class DurationCache {
public:
    /// What \a cache remembers; empty when its entry is missing, damaged or foreign.
    [[nodiscard]] static DurationCache load(const CacheFolder &cache);
    /// Stores what this scan used, unless that is what was loaded. False when it could not.
    bool save(const CacheFolder &cache) const;

    /// The duration remembered for \a stamp (none when the file could not be measured then);
    /// nothing when the file is new or changed since.
    [[nodiscard]] std::optional<std::optional<double>> find(const FileStamp &stamp);
    /// Remembers \a seconds (none: the file could not be measured) for \a stamp.
    void remember(const FileStamp &stamp, std::optional<double> seconds);

    /// The payload form, for tests of damaged entries.
    [[nodiscard]] QByteArray encode() const;
    [[nodiscard]] static DurationCache decode(const QByteArray &payload);

private:
    struct Entry {
        qint64 size = 0;
        qint64 modifiedNs = 0;
        double seconds = 0; ///< NaN: the file could not be measured
        bool operator==(const Entry &other) const;
    };
    using Key = std::pair<quint64, quint64>; ///< device, inode

    QHash<Key, Entry> m_loaded;
    QHash<Key, Entry> m_used;
};

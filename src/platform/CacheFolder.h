#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

/// A library's folder of remembered results (".vespertone/cache"): named entries of one kind
/// each, written durably and read back only when whole, of the kind asked for and made by this
/// program. The least recently used entries go when the folder outgrows its capacity; deleting
/// the folder loses nothing but the time to compute the entries again. Callable from any thread,
/// never the GUI thread (it does file I/O).
class CacheFolder {
public:
    static constexpr qint64 defaultCapacity = qint64(256) << 20;

    /// FOLDER/.vespertone/cache.
    [[nodiscard]] static QString pathOf(const QString &libraryFolder);
    /// The cache of the library \a folder. Without \a create there is none unless the library
    /// has its work folder already, so no work folder is made beside audio files that merely
    /// pass through; the cache folder itself is made at the first write.
    [[nodiscard]] static std::optional<CacheFolder> ofLibrary(const QString &folder, bool create,
                                                              qint64 capacity = defaultCapacity);

    explicit CacheFolder(QString path, qint64 capacity = defaultCapacity);

    [[nodiscard]] const QString &path() const { return m_path; }

    /// The payload stored under \a name as \a kind; none when it is missing, larger than
    /// \a maximumSize, damaged, or of another kind or program. A hit counts as a use.
    [[nodiscard]] std::optional<QByteArray> read(const QString &name, quint32 kind, qint64 maximumSize) const;
    /// Stores \a payload under \a name: a work file beside it is synced, renamed over the entry
    /// and the folder synced; then the least recently used entries go while the folder holds
    /// more than its capacity. False when it could not be stored (the entry stays as it was).
    bool write(const QString &name, quint32 kind, QByteArrayView payload) const;
    void remove(const QString &name) const;

private:
    void evictBeyondCapacity(const QByteArray &kept) const;

    QString m_path;
    qint64 m_capacity;
};

#pragma once

#include <QString>
#include <memory>
#include <optional>

class QLockFile;

/// The lock a recording process holds on a take's file while it writes or encodes it, so
/// neither another process's recovery nor an edit touches the file meanwhile.
class TakeLock {
public:
    /// Takes the lock of \a url; none when a live process holds it or it cannot be made.
    [[nodiscard]] static std::optional<TakeLock> acquire(const QString &url);
    /// True when a live process (this one included) holds the lock of \a url.
    [[nodiscard]] static bool isHeld(const QString &url);
    /// The lock file of \a url: beside a file of the work folder, else in its folder's work folder.
    [[nodiscard]] static QString lockPath(const QString &url);

    ~TakeLock();
    TakeLock(TakeLock &&) noexcept;
    TakeLock &operator=(TakeLock &&) noexcept;

private:
    explicit TakeLock(std::unique_ptr<QLockFile> lock);

    std::unique_ptr<QLockFile> m_lock;
};

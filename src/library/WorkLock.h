#pragma once

#include <QString>
#include <optional>

/// The lock a process holds on a take's file, or on a work name, while it writes, encodes or
/// publishes it, so neither another process's recovery or sweep nor an edit touches the file
/// meanwhile. It is an flock on an empty lock file in the work folder: the kernel lets it go
/// when its process dies, and whoever finds it free removes the file. The lock of a work name
/// N also covers the work files N.*, N-* and, for a name with an extension, those that share
/// its base name.
class WorkLock {
public:
    /// Takes the lock of \a url; none when a live process holds it or it cannot be made (then
    /// \a error, when given, is set to the errno; to 0 when another holds it).
    [[nodiscard]] static std::optional<WorkLock> acquire(const QString &url, int *error = nullptr);
    /// True when a live process (this one included) holds the lock of \a url.
    [[nodiscard]] static bool isHeld(const QString &url);
    /// The lock file of \a url: beside a file of the work folder, else in its folder's work folder.
    [[nodiscard]] static QString lockPath(const QString &url);
    /// True when \a lockFileName, a lock of the work folder, covers its file \a fileName.
    [[nodiscard]] static bool covers(const QString &lockFileName, const QString &fileName);
    /// True for the names of lock files.
    [[nodiscard]] static bool isLockFileName(const QString &fileName);

    ~WorkLock();
    WorkLock(WorkLock &&other) noexcept;
    WorkLock &operator=(WorkLock &&other) noexcept;
    WorkLock(const WorkLock &) = delete;
    WorkLock &operator=(const WorkLock &) = delete;

private:
    WorkLock(QString path, int descriptor) : m_path(std::move(path)), m_descriptor(descriptor) {}
    void release() noexcept;

    QString m_path;
    int m_descriptor = -1;
};

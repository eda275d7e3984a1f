#pragma once

#include "library/WorkLock.h"

#include <QString>
#include <QStringList>
#include <optional>

/// A fresh work name in a library's work folder, locked while it lives, so no sweep of another
/// process removes its files. Its files (the name itself and those the lock covers that the
/// owner names with suffix()) are removed when it goes, before the lock is let go.
class WorkFile {
public:
    /// A new name STEM.EXTENSION (STEM alone for an empty \a extension) in \a libraryFolder's
    /// work folder, which is created. Nothing is created at the name itself. Throws AppError
    /// whose text is the cause ("The disk is full." ...).
    [[nodiscard]] static WorkFile create(const QString &libraryFolder, const QString &extension = {});

    ~WorkFile();
    WorkFile(WorkFile &&) noexcept;
    WorkFile &operator=(WorkFile &&) noexcept;
    WorkFile(const WorkFile &) = delete;
    WorkFile &operator=(const WorkFile &) = delete;

    /// The work file's path.
    [[nodiscard]] const QString &path() const { return m_path; }
    /// The path of another work file of the same lock: STEM + \a suffix (such as ".wav" or
    /// "-encoded.mp3"), removed with this one.
    [[nodiscard]] QString sibling(const QString &suffix);
    /// Removes the files of \a libraryFolder's work folder that no live lock covers, left by
    /// stopped processes, except those matching \a kept (wildcards); returns the names removed.
    static QStringList sweep(const QString &libraryFolder, const QStringList &kept);

private:
    WorkFile(QString path, QString stem, WorkLock lock);
    void removeFiles();

    QString m_path;
    QString m_stem;
    QStringList m_siblings;
    std::optional<WorkLock> m_lock;
};
